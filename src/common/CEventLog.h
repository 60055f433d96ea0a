#pragma once
//! @file CEventLog.h
//! The event log: what happened during a session, with a time stamp on every
//! line (run state changes, RTP sequence jumps, ring file switches, errors,
//! device events). The last kMaxEntries stay in memory for the window's view;
//! every entry is also appended to a file (events.log under the XDG state
//! directory) that is rotated to events.log.1 beyond kMaxFileBytes.
//!
//! A flood (a lossy stream jumps hundreds of times a second) keeps at most
//! kBurstPerSecond entries of one kind per second; the rest are counted and the
//! count is logged as soon as that kind is logged again, so nothing vanishes
//! without a trace.
//!
//! Threads: every member is safe from any thread (one mutex); Add is short (one
//! buffered line written and flushed), so the receiver's threads may call it.

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class CEventLog
{
public:
    enum class Kind
    {
        Status,
        SequenceJump,
        RingSwitch,
        Error,
        Device,
    };
    static constexpr int kKinds = 5;

    struct Entry
    {
        std::chrono::system_clock::time_point time;
        Kind kind = Kind::Status;
        std::string text;
    };

    using Clock = std::function<std::chrono::system_clock::time_point()>;

    static constexpr std::size_t kMaxEntries = 2'000;
    static constexpr std::uint64_t kMaxFileBytes = 4 * 1'048'576; // then rotated
    static constexpr int kBurstPerSecond = 20;                    // entries of one kind

    explicit CEventLog(std::size_t maxEntries = kMaxEntries);
    ~CEventLog();
    CEventLog(const CEventLog&) = delete;
    CEventLog& operator=(const CEventLog&) = delete;

    //! Appends every later entry to @p path (its folders are created). @return
    //! false when it cannot be opened (FileError says why); the log then lives
    //! in memory only.
    bool OpenFile(const std::string& path);
    std::string FilePath() const;
    std::string FileError() const;

    void Add(Kind kind, const std::string& text);
    //! The entries kept in memory, oldest first.
    std::vector<Entry> Entries() const;
    //! Entries added since construction (a view refreshes when it changes).
    std::uint64_t AddedCount() const;
    //! Entries of a flood that were counted but not logged.
    std::uint64_t SuppressedCount() const;

    //! Tests drive the time stamps.
    void SetClock(Clock clock);

    //! "2026-12-07 05:30:00.123  Status  Playing" in local time.
    static std::string FormatEntry(const Entry& entry);
    static const char* KindName(Kind kind);
    //! $XDG_STATE_HOME/orvane/events.log, else ~/.local/state/orvane/events.log;
    //! empty when neither variable is set.
    static std::string DefaultPath();

private:
    struct FileCloser
    {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };
    struct Burst
    {
        std::int64_t second = 0;
        int admitted = 0;
        std::uint64_t suppressed = 0;
    };

    void Append(const Entry& entry); // with the mutex held
    void RotateIfFull();             // with the mutex held

    mutable std::mutex m_mutex;
    std::size_t m_maxEntries;
    std::deque<Entry> m_entries;
    std::uint64_t m_added = 0;
    std::uint64_t m_suppressed = 0;
    Burst m_bursts[kKinds];
    Clock m_clock;
    std::unique_ptr<std::FILE, FileCloser> m_file;
    std::string m_path;
    std::string m_fileError;
    std::uint64_t m_fileBytes = 0;
};
