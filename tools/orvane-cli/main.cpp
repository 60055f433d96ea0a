// orvane-cli: the headless front end of Orvane. A thin shell: every
// sub-command is an options struct plus a loop over orvane_core classes.

#include "CliCommands.h"

#include <cstdio>

int main(int argc, char** argv)
{
    CLI::App app{"Orvane: MPEG-2 transport streams over IP, from the command line", "orvane-cli"};
    app.set_version_flag("--version", std::string("orvane-cli ") + ORVANE_VERSION);
    app.require_subcommand(1);
    int exitCode = 0;
    AddAnalyzeCommands(app, exitCode);
    AddPlayCommand(app, exitCode);
    AddRecordCommands(app, exitCode);
    AddDiscoverCommand(app, exitCode);
    try
    {
        app.parse(argc, argv);
    }
    catch (const CLI::ParseError& e)
    {
        return app.exit(e);
    }
    return exitCode;
}
