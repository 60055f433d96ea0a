#include "common/CEventLog.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <system_error>

CEventLog::CEventLog(std::size_t maxEntries)
    : m_maxEntries(maxEntries == 0 ? 1 : maxEntries), m_clock([] { return std::chrono::system_clock::now(); })
{
}

CEventLog::~CEventLog() = default;

bool CEventLog::OpenFile(const std::string& path)
{
    const std::lock_guard lock(m_mutex);
    m_file.reset();
    m_path = path;
    m_fileError.clear();
    std::error_code error;
    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    if (!folder.empty())
        std::filesystem::create_directories(folder, error);
    if (error)
    {
        m_fileError = error.message();
        return false;
    }
    m_file.reset(std::fopen(path.c_str(), "ae"));
    if (!m_file)
    {
        m_fileError = std::strerror(errno);
        return false;
    }
    const auto size = std::filesystem::file_size(path, error);
    m_fileBytes = error ? 0 : static_cast<std::uint64_t>(size);
    return true;
}

std::string CEventLog::FilePath() const
{
    const std::lock_guard lock(m_mutex);
    return m_path;
}

std::string CEventLog::FileError() const
{
    const std::lock_guard lock(m_mutex);
    return m_fileError;
}

void CEventLog::SetClock(Clock clock)
{
    const std::lock_guard lock(m_mutex);
    m_clock = std::move(clock);
}

void CEventLog::Add(Kind kind, const std::string& text)
{
    const std::lock_guard lock(m_mutex);
    const auto now = m_clock();
    const std::int64_t second = std::chrono::duration_cast<std::chrono::seconds>(now.time_since_epoch()).count();
    Burst& burst = m_bursts[static_cast<int>(kind)];
    if (burst.second != second)
    {
        burst.second = second;
        burst.admitted = 0;
    }
    if (burst.admitted >= kBurstPerSecond)
    {
        ++burst.suppressed;
        ++m_suppressed;
        return;
    }
    ++burst.admitted;
    if (burst.suppressed != 0)
    {
        Append({now, kind, std::to_string(burst.suppressed) + " more " + KindName(kind) + " events not logged"});
        burst.suppressed = 0;
    }
    Append({now, kind, text});
}

void CEventLog::Append(const Entry& entry)
{
    ++m_added;
    m_entries.push_back(entry);
    while (m_entries.size() > m_maxEntries)
        m_entries.pop_front();
    if (!m_file)
        return;
    const std::string line = FormatEntry(entry) + '\n';
    if (std::fputs(line.c_str(), m_file.get()) < 0 || std::fflush(m_file.get()) != 0)
    {
        // A full disk must not take the session with it: the log goes on in memory.
        m_fileError = std::strerror(errno);
        m_file.reset();
        return;
    }
    m_fileBytes += line.size();
    RotateIfFull();
}

void CEventLog::RotateIfFull()
{
    if (m_fileBytes < kMaxFileBytes)
        return;
    m_file.reset();
    std::error_code error;
    std::filesystem::rename(m_path, m_path + ".1", error);
    // Not rotated: the log goes on in the same file, and the Event Log says why it grows.
    if (error)
        m_fileError = "cannot rotate " + m_path + " to " + m_path + ".1: " + error.message();
    m_file.reset(std::fopen(m_path.c_str(), error ? "ae" : "we"));
    m_fileBytes = 0;
    if (!m_file)
        m_fileError = std::strerror(errno);
}

std::vector<CEventLog::Entry> CEventLog::Entries() const
{
    const std::lock_guard lock(m_mutex);
    return {m_entries.begin(), m_entries.end()};
}

std::uint64_t CEventLog::AddedCount() const
{
    const std::lock_guard lock(m_mutex);
    return m_added;
}

std::uint64_t CEventLog::SuppressedCount() const
{
    const std::lock_guard lock(m_mutex);
    return m_suppressed;
}

const char* CEventLog::KindName(Kind kind)
{
    switch (kind)
    {
    case Kind::Status:
        return "Status";
    case Kind::SequenceJump:
        return "Sequence";
    case Kind::RingSwitch:
        return "Ring";
    case Kind::Error:
        return "Error";
    case Kind::Device:
        return "Device";
    }
    return "Event";
}

std::string CEventLog::FormatEntry(const Entry& entry)
{
    const std::time_t seconds = std::chrono::system_clock::to_time_t(entry.time);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(entry.time.time_since_epoch()).count() % 1000;
    std::tm local{};
    localtime_r(&seconds, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    char text[48];
    std::snprintf(text, sizeof text, "%s.%03d  %-8s  ", stamp, static_cast<int>(millis < 0 ? millis + 1000 : millis),
                  KindName(entry.kind));
    return text + entry.text;
}

std::string CEventLog::DefaultPath()
{
    const char* state = std::getenv("XDG_STATE_HOME");
    // An empty or relative value is invalid by the XDG rules and ignored.
    if (state != nullptr && state[0] == '/')
        return std::string(state) + "/orvane/events.log";
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] != '\0')
        return std::string(home) + "/.local/state/orvane/events.log";
    return {};
}
