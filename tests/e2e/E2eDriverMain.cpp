// orvane-e2e-driver: starts Orvane exactly as its main() does (problem reports,
// names, the application object, its main window and settings), then drives the
// window through its widgets in one role of the end-to-end test:
//
//   orvane-e2e-driver --role play   --file SOURCE.ts --port P [--udp] [--passes N]
//                     [--jump-permille P] [--timeout-ms MS]
//   orvane-e2e-driver --role record --file OUT.ts    --port P [--udp] [--ring N]
//                     [--megabytes M | --seconds S] --stop-file PATH [--timeout-ms MS]
//
// Both roles also take [--window-size WxH] [--shot-dir DIR [--shot-suffix S]]:
// the window at that size, and pictures of it at the main steps (for the docs).
//
// XDG_CONFIG_HOME must name a scratch directory: the settings written there send
// discovery requests to 127.0.0.1 only, so a test run never broadcasts.

#include "CE2eDriver.h"
#include "app/CCrashReport.h"
#include "app/COrvaneApp.h"
#include "controls/CSettings.h"

#include <QFileInfo>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

namespace
{
void UninstallCrashReport()
{
    CCrashReport::Uninstall();
}
} // namespace

int main(int argc, char** argv)
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    CE2eDriver::Options options;
    QString error;
    if (!CE2eDriver::ParseArguments(arguments, options, error))
    {
        std::fprintf(stderr, "orvane-e2e-driver: %s\n", qPrintable(error));
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("XDG_CONFIG_HOME"))
    {
        std::fprintf(stderr, "orvane-e2e-driver: set XDG_CONFIG_HOME to a scratch directory\n");
        return 2;
    }

    // As main(): names first, then problem reports, then the application object.
    QCoreApplication::setOrganizationName(CSettings::kOrganization);
    QCoreApplication::setApplicationName(QFileInfo(QString::fromLocal8Bit(argv[0])).completeBaseName());
    CCrashReport::Install(COrvaneApp::ReportDirectory().toStdString(), ORVANE_VERSION);
    std::atexit(UninstallCrashReport);
    // The user's profile of this run: discovery requests to loopback, to a port nobody uses.
    CSettings::WriteProfileString(QStringLiteral("Discovery"), QStringLiteral("Targets"), QStringLiteral("127.0.0.1"));
    CSettings::WriteProfileInt(QStringLiteral("Discovery"), QStringLiteral("Port"), 9);

    COrvaneApp app(argc, argv);
    CE2eDriver driver(options);
    // Runs inside the main window's event loop, once the window is up.
    QTimer::singleShot(0, &app, [&driver] { driver.Run(); });
    app.InitInstance();
    return driver.ExitCode();
}
