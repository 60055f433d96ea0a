// Installs problem reports and then fails the way the first argument says:
// segv, abort, fpe or oom. Used by the problem-report test only.

#include "app/CCrashReport.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

int main(int argc, char** argv)
{
    if (argc < 3)
    {
        std::fprintf(stderr, "usage: orvane_crash_child DIRECTORY segv|abort|fpe|oom\n");
        return 2;
    }
    CCrashReport::Install(argv[1], ORVANE_VERSION);
    CCrashReport::InstallNewHandler();
    const char* mode = argv[2];
    if (std::strcmp(mode, "segv") == 0)
        std::raise(SIGSEGV);
    else if (std::strcmp(mode, "abort") == 0)
        std::abort();
    else if (std::strcmp(mode, "fpe") == 0)
        std::raise(SIGFPE);
    else if (std::strcmp(mode, "oom") == 0)
    {
        try
        {
            std::vector<std::vector<char>> hog;
            for (int i = 0; i < 64; ++i)
                hog.emplace_back(static_cast<std::size_t>(1) << 60); // far beyond any machine
        }
        catch (const std::bad_alloc&)
        {
            return 3; // the report is written; the allocation failed as usual
        }
    }
    return 1;
}
