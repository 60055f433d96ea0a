#pragma once
//! @file CRecordController.h
//! The Record tab's size limit and ring of files, without any window: what the
//! tab's 100 ms status timer does, reusable by the tab and by orvane-cli.
//!
//! A recording is limited per file by seconds (wall-clock, from the file's own
//! start) or by mebibytes; a limit of 0 counts as 1. At the limit a recording
//! without loop ends; with loop it goes on in the next file of the ring
//! (index + 1, back to 0 at the loop count, 1..100), overwriting the oldest.
//! The file switch happens inside the record worker, so nothing is lost.
//!
//! Threads: all calls on the owner's thread (the window thread or the CLI loop).

#include <cstdint>
#include <string>

class CRecordThread;
class CDvbIpRecvThread;

class CRecordController
{
public:
    //! The unit of the per-file limit (the settings keep it as 0 or 1).
    enum class SizeUnit : std::int32_t
    {
        kSeconds = 0,
        kMegabytes = 1,
    };
    using enum SizeUnit;

    struct Settings
    {
        std::int32_t recordingSize = 100; //!< in the size unit; 0 counts as 1
        SizeUnit sizeUnit = kSeconds;
        bool loopEnabled = false;
        std::int32_t loopCount = 3; //!< files in the ring, 1..100
        std::string outputFile;
        bool limitEnabled = true; //!< false: no limit at all (orvane-cli without one)
    };

    //! What one Tick did.
    enum class Event
    {
        None,
        Rotated,      //!< the next ring file was started
        LimitStopped, //!< the limit ended the recording
        Failed,       //!< the recording failed (write or file switch) and was closed
    };

    static constexpr std::int32_t kMinLoopCount = 1;
    static constexpr std::int32_t kMaxLoopCount = 100;
    static constexpr std::uint64_t kBytesPerMegabyte = 1'048'576;
    //! The receive port: 0 would bind a random port no sender knows.
    static constexpr std::int32_t kMinPort = 1;
    static constexpr std::int32_t kMaxPort = 65'535;

    // The receive status texts.
    static constexpr const char* kNoErrorsText = "No errors detected";
    static constexpr const char* kNoDataText = "No Data Recv";
    static constexpr const char* kOverflowText = "Overflow";

    CRecordController(CRecordThread& recorder, CDvbIpRecvThread& receiver);

    void SetSettings(const Settings& settings);
    const Settings& GetSettings() const { return m_settings; }

    //! Starts monitoring. @return false when the receiver cannot start.
    bool StartMonitor();
    //! Starts a recording at ring index 0 (or the plain file without loop).
    //! @param nowMs the tick count now.
    bool StartRecord(std::uint32_t nowMs);
    //! Ends monitoring or recording (everything received is kept).
    void Stop();

    //! The status timer's work for recordings: elapsed time, progress, limit.
    Event Tick(std::uint32_t nowMs);

    //! Elapsed tenths of a second of the current file, as last evaluated.
    std::uint32_t GetElapsedTenths() const { return m_lastTenths; }
    //! Progress towards the limit, 0..100 (and beyond, briefly, at the limit).
    std::int64_t GetProgress() const { return m_progress; }
    std::int32_t GetFileIndex() const { return m_fileIndex; }

    //! "No Data Recv" while nothing arrives, "Overflow" while data is lost,
    //! otherwise "No errors detected". A short read alone (a slow stream: less
    //! than a block stored) is no fault: it keeps @p previous, except that a
    //! warning clears as soon as its cause has gone.
    static std::string StatusText(std::uint32_t status, const std::string& previous);
    //! True for a status text that needs the user's eye (shown in red).
    static bool IsWarning(const std::string& text);
    //! "%d:%02d:%02d" of @p seconds (hours not limited).
    static std::string FormatElapsed(std::uint32_t seconds);
    static std::int32_t ClampLoopCount(std::int32_t count);
    //! The ring index after @p index in a ring of @p loopCount files.
    static std::int32_t NextIndex(std::int32_t index, std::int32_t loopCount);

private:
    CRecordThread& m_recorder;
    CDvbIpRecvThread& m_receiver;
    Settings m_settings;
    std::int32_t m_fileIndex = 0;
    std::uint32_t m_startTick = 0;
    std::uint32_t m_lastTenths = 0;
    std::int64_t m_progress = 0;
};
