#include "app/CCrashReport.h"

#include <execinfo.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <new>

namespace
{
constexpr std::array<int, 5> kFatalSignals = {SIGSEGV, SIGABRT, SIGBUS, SIGFPE, SIGILL};
constexpr std::size_t kAltStackBytes = 64 * 1024;
constexpr int kMaxFrames = 64;

// Prepared by Install so that the handler needs no allocation.
char g_path[4096] = {};
char g_header[512] = {};
bool g_installed = false;
alignas(16) char g_altStack[kAltStackBytes];

void WriteText(int fd, const char* text)
{
    const std::size_t length = std::strlen(text);
    std::size_t done = 0;
    while (done < length)
    {
        const ssize_t n = write(fd, text + done, length - done);
        if (n <= 0)
            return;
        done += static_cast<std::size_t>(n);
    }
}

//! Decimal of @p value into @p out (at least 21 bytes), without the C library.
void FormatUnsigned(unsigned long long value, char* out, int minDigits = 1)
{
    char digits[21];
    int n = 0;
    do
    {
        digits[n++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0 || n < minDigits);
    for (int i = 0; i < n; ++i)
        out[i] = digits[n - 1 - i];
    out[n] = '\0';
}

//! "YYYY-MM-DD hh:mm:ss UTC" from seconds since 1970 (civil-from-days, signal-safe).
void FormatUtc(long long seconds, char* out)
{
    long long days = seconds / 86400;
    long long rest = seconds % 86400;
    days += 719468;
    const long long era = days / 146097;
    const long long doe = days - era * 146097;
    const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const long long mp = (5 * doy + 2) / 153;
    const long long day = doy - (153 * mp + 2) / 5 + 1;
    const long long month = mp < 10 ? mp + 3 : mp - 9;
    const long long year = yoe + era * 400 + (month <= 2 ? 1 : 0);
    const long long parts[6] = {year, month, day, rest / 3600, rest % 3600 / 60, rest % 60};
    const char separators[6] = {'-', '-', ' ', ':', ':', ' '};
    char* p = out;
    for (int i = 0; i < 6; ++i)
    {
        FormatUnsigned(static_cast<unsigned long long>(parts[i]), p, i == 0 ? 4 : 2);
        p += std::strlen(p);
        *p++ = separators[i];
    }
    std::strcpy(p, "UTC");
}

const char* SignalName(int signal)
{
    switch (signal)
    {
    case SIGSEGV:
        return "segmentation fault (SIGSEGV)";
    case SIGABRT:
        return "abort (SIGABRT)";
    case SIGBUS:
        return "bus error (SIGBUS)";
    case SIGFPE:
        return "arithmetic error (SIGFPE)";
    case SIGILL:
        return "illegal instruction (SIGILL)";
    default:
        return "fatal signal";
    }
}

bool WriteReport(const char* reason)
{
    if (!g_installed)
        return false;
    const int fd = open(g_path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    WriteText(fd, g_header);
    WriteText(fd, "Reason: ");
    WriteText(fd, reason);
    WriteText(fd, "\nTime: ");
    char time[64];
    FormatUtc(static_cast<long long>(std::time(nullptr)), time);
    WriteText(fd, time);
    WriteText(fd, "\nProcess: ");
    char pid[24];
    FormatUnsigned(static_cast<unsigned long long>(getpid()), pid);
    WriteText(fd, pid);
    WriteText(fd, "\n\nBacktrace:\n");
    void* frames[kMaxFrames];
    const int count = backtrace(frames, kMaxFrames);
    backtrace_symbols_fd(frames, count, fd);
    close(fd);
    return true;
}

void OnFatalSignal(int signal)
{
    WriteReport(SignalName(signal));
    // Let the signal end the process as it would have without us (core dump, exit status).
    struct sigaction action
    {
    };
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
    raise(signal);
}

void OnOutOfMemory()
{
    WriteReport("out of memory (an allocation failed)");
    // Not retried: the allocation fails as the runtime's allocations do.
    throw std::bad_alloc();
}
} // namespace

bool CCrashReport::Install(const std::string& directory, const std::string& version)
{
    std::error_code error;
    std::filesystem::create_directories(directory, error);
    const std::string path = directory + "/" + kReportFileName;
    if (path.size() >= sizeof(g_path))
        return false;
    std::snprintf(g_path, sizeof(g_path), "%s", path.c_str());
    std::snprintf(g_header, sizeof(g_header), "Subject: %s\nProgram: Orvane %s\n", kSubject, version.c_str());
    // Load the unwinder now: the first backtrace() call may allocate, which a handler must not.
    void* warmUp[1];
    backtrace(warmUp, 1);

    stack_t stack{};
    stack.ss_sp = g_altStack;
    stack.ss_size = sizeof(g_altStack);
    sigaltstack(&stack, nullptr); // a stack overflow still gets its report
    struct sigaction action
    {
    };
    action.sa_handler = OnFatalSignal;
    action.sa_flags = SA_ONSTACK | SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    for (const int signal : kFatalSignals)
        sigaction(signal, &action, nullptr);
    g_installed = true;
    return true;
}

void CCrashReport::Uninstall()
{
    struct sigaction action
    {
    };
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (const int signal : kFatalSignals)
        sigaction(signal, &action, nullptr);
    std::set_new_handler(nullptr);
    g_installed = false;
}

void CCrashReport::InstallNewHandler()
{
    std::set_new_handler(OnOutOfMemory);
}

bool CCrashReport::GenerateErrorReport(const char* reason)
{
    return WriteReport(reason);
}

std::string CCrashReport::ReportPath()
{
    return g_path;
}

std::string CCrashReport::TakePendingReport(const std::string& directory)
{
    const std::filesystem::path pending = std::filesystem::path(directory) / kReportFileName;
    std::error_code error;
    if (!std::filesystem::is_regular_file(pending, error))
        return {};
    const std::filesystem::path seen = std::filesystem::path(directory) / "problem-report-seen.txt";
    std::filesystem::rename(pending, seen, error);
    return error ? std::string() : seen.string();
}
