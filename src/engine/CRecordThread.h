#pragma once
//! @file CRecordThread.h
//! Moves received transport stream bytes from the network receiver to disk.
//! One record worker takes blocks of about 1 MiB from the receiver's FIFO (up
//! to eight at once when they are stored), writes them to the current file with
//! unbuffered (O_DIRECT) whole-block writes from a page-aligned buffer, and hands
//! each block to the analysis object.
//!
//! States: stopped; monitoring (blocks go to the analysis only); recording
//! (blocks are written, then analysed).
//!
//! - Ring files switch inside the worker (RotateTo), with the receiver running,
//!   at a packet boundary: every byte received lands in exactly one file, and
//!   every ring file holds whole packets.
//! - Close first ends reception (the receiver passes its reserve on), then the
//!   worker writes everything left, ending the file with a last partial block.
//! - A failed write (full disk, file size limit, I/O error), or an output file
//!   that lost its name (deleted, its directory removed), ends the recording
//!   with what was written intact: the worker closes the file, HasFailed()
//!   turns true and the message sink gets the reason. The owner then calls Close.
//! - The output file is created (and an existing one truncated) only once the
//!   receiver runs: a port that cannot be bound never costs a file. A file that
//!   another recorder writes (its lock is held) is refused untouched.
//!
//! Threads: every operation on the owner's thread (the Record tab's window
//! thread, or orvane-cli's main loop); the worker on its own thread; the
//! getters from anywhere. The message sink is called on either thread.

#include "common/CAlignedBuffer.h"
#include "common/CThread.h"
#include "common/CUnbufferedFile.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

class CDecodeStream;
class CDvbIpRecvThread;
class IMessageSink;

class CRecordThread
{
public:
    enum State : std::int32_t
    {
        kStopped = 0,
        kMonitoring = 1,
        kRecording = 2,
    };

    //! Message of string 102: the output file cannot be created.
    static constexpr const char* kOpenFailedText = "File could not be opened.\nIt may be in use by another program. ";
    static constexpr std::uint32_t kBlockTargetBytes = 1'048'576;
    //! Whole blocks written at once at most, when that many are stored.
    static constexpr std::uint32_t kBlocksPerWrite = 8;
    //! FIFO content beyond which unbuffered writes count as falling behind.
    static constexpr std::uint32_t kFallBehindBytes = 15 * 1'048'576;
    static constexpr auto kThreadTimeout = std::chrono::milliseconds(2'000);
    //! Time allowed to write what is left in the FIFO at Close (30 MiB at most).
    static constexpr auto kDrainTimeout = std::chrono::milliseconds(20'000);
    //! How often the worker checks that the output file still has a name.
    static constexpr std::int64_t kLinkCheckMs = 100;

    //! @param receiver owned by the caller, outlives this object.
    //! @param sink where user-facing messages go; null = nowhere.
    explicit CRecordThread(CDvbIpRecvThread* receiver, IMessageSink* sink = nullptr);
    virtual ~CRecordThread();
    CRecordThread(const CRecordThread&) = delete;
    CRecordThread& operator=(const CRecordThread&) = delete;

    //! Starts the receiver and the worker (monitoring unless a file is open).
    //! @p path only names the volume whose sector size the blocks follow.
    //! @return true when running (also when it was already running); false when
    //! the receiver cannot start (ReceiverError() says why) or memory is refused.
    bool Start(const std::string& path);
    //! Starts the receiver, then creates the file FormName(index, path),
    //! truncating an existing one, and records into it. Monitoring in progress
    //! turns into recording. @return false when a file is already being
    //! written, the receiver cannot start (ReceiverError()) or the file cannot
    //! be created (the message sink gets OpenFailureText).
    bool Open(int index, const std::string& path);
    //! Ends reception, writes what is left, closes the file, stops the worker and
    //! releases the receiver. Safe when idle and when called twice.
    void Close();
    //! Stops the worker only; state, file and receiver stay as they are.
    void StopThread();
    //! Ends monitoring: worker stopped, state stopped, receiver stopped.
    void StopMonitoring();
    //! Asks the worker to continue in FormName(index, path) from its next block.
    //! @return false when not recording.
    bool RotateTo(int index, const std::string& path);
    bool IsRotationPending() const { return m_rotatePending.load(); }

    //! The message for a file @p path that could not be created: message 102
    //! where the file is in use (its lock held, EBUSY, ETXTBSY), otherwise the
    //! system's reason, always with the path.
    static std::string OpenFailureText(const std::string& path, CUnbufferedFile::CreateFailure why, int error);

    //! The file name of ring position @p index: "%s-%d.%s" of the absolute path
    //! without its extension, the index and the extension; @p path itself when
    //! @p index is negative.
    static std::string FormName(int index, const std::string& path);

    State GetState() const { return static_cast<State>(m_state.load()); }
    bool IsFileOpen() const { return m_fileOpen.load(); }
    bool IsRunning() const { return m_running.load(); }
    //! Bytes written into the current file.
    std::uint64_t GetBytesWritten() const { return m_bytesWritten.load(); }
    //! Bytes taken from the receiver since Start (all files, or monitored).
    std::uint64_t GetBytesTaken() const { return m_bytesTaken.load(); }
    //! The current file's name.
    std::string GetFileName() const;
    std::uint32_t GetSectorSize() const { return m_sectorSize; }
    //! Files that went on through the page cache because unbuffered writes fell behind.
    std::uint32_t GetBufferedFallbacks() const { return m_bufferedFallbacks.load(); }
    std::uint32_t GetBlockBytes() const { return m_bufferSize > m_sectorSize ? m_bufferSize - m_sectorSize : 0; }
    //! True after a write or a file switch failed or the file lost its name; the
    //! recording has ended then. Cleared at every Start and Open.
    bool HasFailed() const { return m_failed.load(); }
    std::string GetFailureText() const;
    std::string ReceiverError() const;

    void SetAnalysis(CDecodeStream* analysis) { m_analysis = analysis; }
    void SetAnalyzerEnabled(bool enabled) { m_analyzerEnabled.store(enabled); }
    bool IsAnalyzerEnabled() const { return m_analyzerEnabled.load(); }

    //! Buffer size for sector size @p sector: (floor(1 MiB / S) + 2) * S.
    static std::uint32_t BufferBytesFor(std::uint32_t sector) { return (kBlockTargetBytes / sector + 2) * sector; }

private:
    void Worker();
    //! Writes @p n bytes of the block (as a file's last block when @p tail).
    bool WriteBlock(std::uint8_t* block, std::uint32_t n, bool tail);
    void Analyse(std::uint8_t* block, std::uint32_t n);
    void Fail(const std::string& text);
    bool SwitchFile();
    //! Creates @p name into m_file; on failure reports why. @return success.
    bool CreateFile(const std::string& name);
    //! Ends the recording when the file has lost its last name.
    bool CheckLinked();
    //! Ends the current file at a packet boundary and continues in the next one.
    bool Rotate(std::uint8_t* block);
    void Report(const std::string& text);

    CDvbIpRecvThread* const m_receiver;
    IMessageSink* const m_sink;
    CUnbufferedFile m_file; // worker's while it runs, the owner's otherwise
    std::string m_fileName;
    CAlignedBuffer m_buffer;
    std::uint32_t m_bufferSize = 0;
    std::uint32_t m_sectorSize = CUnbufferedFile::kDefaultSectorBytes;
    CThread m_worker;
    std::atomic<bool> m_running{false};
    std::atomic<std::int32_t> m_state{kStopped};
    std::atomic<bool> m_fileOpen{false};
    std::atomic<bool> m_drain{false};
    std::atomic<bool> m_failed{false};
    std::atomic<bool> m_rotatePending{false};
    std::atomic<std::uint64_t> m_bytesWritten{0};
    std::atomic<std::uint64_t> m_bytesTaken{0};
    std::atomic<std::uint32_t> m_bufferedFallbacks{0};
    mutable std::mutex m_textLock; // guards the strings below and m_fileName
    std::string m_pendingName;
    std::string m_failureText;
    CDecodeStream* m_analysis = nullptr;
    std::atomic<bool> m_analyzerEnabled{false};
};
