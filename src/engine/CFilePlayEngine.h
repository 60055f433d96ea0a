#pragma once
//! @file CFilePlayEngine.h
//! Plays a transport-stream file, or a stretch of it, into the network sender.
//!
//! A reader thread reads the file in sector-aligned chunks of about 1 MiB
//! (unbuffered where the file system allows it), lets the analysis object adapt
//! each chunk in place (PCR, continuity and TOT/TDT restamping) and hands it to
//! the sender, waiting in 1 ms steps while the sender's FIFO is full. It handles
//! jumps of the play position (the FIFO is emptied and twelve null packets go
//! out first), looping over the stretch, pausing, and the end of play (twelve
//! null packets, then the sender is told that everything is written).
//! A stretch that gives the sender nothing twice in a row (a file cut to 0
//! bytes during the play, a range shorter than a packet) and a failed read end
//! the play with a message instead of looping on nothing; what was read still
//! leaves.
//!
//! Ownership: the owner (the Play tab or orvane-cli) holds the engine; the
//! sender, the message sink and the decoder are borrowed and outlive it.
//! Threads: the owner's thread sets the parameters, starts, pauses and stops;
//! the reader thread does the rest. Flags and progress values are atomics that
//! either side may poll. The owner writes the position before it requests a jump.

#include "common/CAlignedBuffer.h"
#include "common/CEvent.h"
#include "common/CThread.h"
#include "common/CUniqueFd.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>

class CDecodeStream;
class CNetworkSender;
class IMessageSink;

class CFilePlayEngine
{
public:
    static constexpr std::uint32_t kDefaultSectorBytes = 512;
    static constexpr std::uint32_t kChunkBytes = 1'048'576;
    static constexpr std::uint32_t kStuffingPackets = 12;
    static constexpr std::uint32_t kDefaultPacketSize = 188;
    static constexpr std::uint32_t kPermille = 1'000;
    static constexpr auto kStopTimeout = std::chrono::milliseconds(2'000);
    static constexpr auto kRetryDelay = std::chrono::milliseconds(1);
    static constexpr auto kMaxRetryDelay = std::chrono::milliseconds(50);
    // Longest wait for room in the sender's FIFO; stop, resume and jumps end it early.
    static constexpr auto kMaxBackPressureWait = std::chrono::milliseconds(250);

    static constexpr const char* kMsgCannotOpen = "File can not be opened. It may be in use by another application";
    static constexpr const char* kMsgNotFound = "File can not be found. It may be removed from the system.";
    static constexpr const char* kMsgCannotStart = "Orvane can not start the play on this device.\n"
                                                   "Please reset the device and try again.\n"
                                                   "If the problem persists, please contact us.";
    //! The play ended because the file gave nothing more (a line with the system's reason may follow).
    static constexpr const char* kMsgReadError = "Error reading file";
    static constexpr const char* kMsgPreviousPlay =
        "Orvane can not start the play: the previous play has not ended yet.";

    //! @param sender the one network sender; @param messages where user-facing
    //! messages go (may be null: then they are dropped).
    CFilePlayEngine(CNetworkSender* sender, IMessageSink* messages);
    ~CFilePlayEngine();
    CFilePlayEngine(const CFilePlayEngine&) = delete;
    CFilePlayEngine& operator=(const CFilePlayEngine&) = delete;

    //! Opens @p path, opens the sender and starts the reader. Shows the failure
    //! to the user and returns false when the file cannot be played; a failure of
    //! the system has its reason on the message's last line. A previous play
    //! still sending its tail is waited for (up to 2,000 ms); a previous reader
    //! that did not end, or a tail that did not leave in time, refuses the start
    //! (kMsgPreviousPlay).
    bool StartPlay(const std::string& path);
    //! Ends the reader (waits up to 2,000 ms) and stops the sender.
    //! @return false when the reader did not end in time.
    bool Stop();
    //! Pauses (true) or resumes (false) the play: the sender stops sending at
    //! once, the reader stops reading, nothing is lost and the position holds.
    //! Also holds the tail of a play whose reader has already finished.
    void Pause(bool paused);
    bool IsPaused() const { return m_paused.load(std::memory_order_acquire); }

    // Parameters, set by the owner (range and packet size before StartPlay).
    void SetLoop(bool loop) { m_loop.store(loop, std::memory_order_relaxed); }
    bool GetLoop() const { return m_loop.load(std::memory_order_relaxed); }
    //! Play range in per mille of the file size (0..1000, start <= end).
    void SetRange(std::uint32_t startPermille, std::uint32_t endPermille);
    std::uint32_t GetRangeStart() const { return m_rangeStart.load(std::memory_order_relaxed); }
    std::uint32_t GetRangeEnd() const { return m_rangeEnd.load(std::memory_order_relaxed); }
    //! Where play is to (re)start, per mille; takes effect with RequestJump (or StartPlay).
    void SetPosition(std::uint32_t permille) { m_position.store(permille, std::memory_order_relaxed); }
    std::uint32_t GetPosition() const { return m_position.load(std::memory_order_relaxed); }
    //! The reader repositions to the position before its next read.
    void RequestJump()
    {
        m_jumpRequest.store(true, std::memory_order_release);
        m_wake.Set();
    }
    bool IsJumpRequested() const { return m_jumpRequest.load(std::memory_order_acquire); }
    //! Packet size of the file (188 or 204; 0 counts as 188), from the file analysis.
    void SetPacketSize(std::uint32_t packetSize) { m_packetSize.store(packetSize, std::memory_order_relaxed); }
    std::uint32_t GetPacketSize() const { return m_packetSize.load(std::memory_order_relaxed); }
    //! The analysis object that adapts the data; it is called only when enabled and not null.
    void SetDecoder(CDecodeStream* decoder, bool enabled);

    // Progress, read by the owner while the reader writes it.
    bool IsRunning() const { return m_running.load(std::memory_order_acquire); }
    bool IsFinished() const { return m_finished.load(std::memory_order_acquire); }
    void ClearFinished() { m_finished.store(false, std::memory_order_release); }
    //! True when the reader has finished and everything it wrote has left the
    //! sender (or was refused): the end of a play, nothing left to drop.
    bool IsPlayedOut() const;
    //! True when the last play ended on a read failure (its message was shown).
    bool HasFailed() const { return m_failed.load(std::memory_order_acquire); }
    //! Ends of the stretch that have left the sender since the start (with
    //! Loop): a loop counts when its last byte was sent, not when it was read.
    std::uint64_t GetLoopCount();
    //! Bytes handed to the sender, counted from the range start across loops
    //! (stuffing included; a sector-rounded jump may start it slightly below 0).
    std::int64_t GetPlayedBytes() const { return m_playedBytes.load(std::memory_order_relaxed); }
    std::int64_t GetRangeLength() const { return m_rangeLength.load(std::memory_order_relaxed); }
    std::int64_t GetFileSize() const { return m_fileSize.load(std::memory_order_relaxed); }
    std::uint32_t GetSectorSize() const { return m_sectorSize; }
    std::uint32_t GetBufferSize() const { return m_bufferSize; }

    //! @p value in decimal with a separator before each group of three digits,
    //! at most three separators (13 digits keep their first four ungrouped).
    static std::string FormatThousands(std::int64_t value, const std::string& separator);
    //! The same with the user's thousands separator (LC_NUMERIC), "." when it has none.
    static std::string FormatThousands(std::int64_t value);
    //! The user's thousands separator, "." when the locale gives none.
    static std::string UserThousandsSeparator();

private:
    void ReaderThread();
    void Jump();
    //! Reads up to @p want bytes at the file offset into the buffer behind the headroom.
    //! @return the bytes read, -1 on a read error (its errno in m_readError).
    std::int64_t ReadChunk(std::int64_t want);
    //! The reader ends the play on a failure: @p text goes to the user.
    void Fail(const std::string& text);
    //! kMsgCannotStart with the system's reason on a line of its own.
    void ShowCannotStart(const std::string& reason);
    //! The stretch ended at byte @p position of the sender's stream (reader thread).
    void MarkLoop(std::uint64_t position);
    //! Ends of the stretch not yet sent are forgotten (a jump empties the FIFO).
    void ForgetPendingLoops();
    //! Counts the ends of the stretch the sender has passed; under m_loopLock.
    void CountSentLoops();
    //! Hands [data, data + length) to the sender, retrying every 1 ms while running.
    void WriteToSender(std::uint8_t* data, std::uint32_t length);
    std::chrono::milliseconds BackPressureWait(std::uint32_t length);
    void WriteStuffing();
    bool DecoderOn() const { return m_decoderEnabled && m_decoder != nullptr; }
    void Show(const char* text);
    static std::uint32_t QuerySectorSize(const std::string& path);

    std::string m_path;
    std::atomic<bool> m_loop{false};
    std::atomic<std::uint32_t> m_rangeStart{0};
    std::atomic<std::uint32_t> m_rangeEnd{kPermille};
    std::atomic<std::uint32_t> m_position{0};
    std::int64_t m_rangeStartOffset = 0;
    std::int64_t m_rangeEndOffset = 0;
    std::int64_t m_fileOffset = 0;
    std::atomic<bool> m_running{false};
    std::atomic<bool> m_jumpRequest{false};
    std::atomic<bool> m_paused{false};
    CUniqueFd m_file;
    bool m_direct = false; // the file is read unbuffered (O_DIRECT)
    CAlignedBuffer m_readBuffer;
    std::atomic<std::int64_t> m_fileSize{0};
    std::atomic<std::int64_t> m_rangeLength{0};
    std::atomic<std::int64_t> m_playedBytes{0};
    std::uint32_t m_bufferSize = 0;
    CThread m_readerThread;
    CEvent m_wake; // ends the reader's waits early: stop, resume, jump
    std::uint32_t m_sectorSize = kDefaultSectorBytes;
    CDecodeStream* m_decoder = nullptr;
    bool m_decoderEnabled = false;
    CNetworkSender* m_sender;
    IMessageSink* m_messages;
    std::atomic<bool> m_finished{false};
    std::atomic<bool> m_failed{false};
    std::atomic<std::uint32_t> m_packetSize{kDefaultPacketSize};
    int m_readError = 0; // reader thread

    // Ends of the stretch waiting in the FIFO, as positions of the sender's
    // stream; equally spaced ones are kept as one run, so a tiny looping file
    // costs a few entries, not one per loop.
    struct LoopRun
    {
        std::uint64_t first = 0;
        std::uint64_t step = 0;
        std::uint64_t count = 0;
    };
    std::mutex m_loopLock;
    std::deque<LoopRun> m_pendingLoops;
    std::uint64_t m_loopsSent = 0;
};
