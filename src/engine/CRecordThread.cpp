#include "engine/CRecordThread.h"

#include "analysis/CDecodeStream.h"
#include "common/CSteadyClock.h"
#include "common/IMessageSink.h"
#include "engine/CDvbIpRecvThread.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <thread>

namespace
{
constexpr auto kPollInterval = std::chrono::milliseconds(1);

std::string DirectoryOf(const std::string& path)
{
    std::error_code ec;
    const std::filesystem::path p = std::filesystem::absolute(path.empty() ? "." : path, ec);
    if (ec)
        return ".";
    return path.empty() ? p.string() : p.parent_path().string();
}
} // namespace

CRecordThread::CRecordThread(CDvbIpRecvThread* receiver, IMessageSink* sink) : m_receiver(receiver), m_sink(sink) {}

CRecordThread::~CRecordThread()
{
    m_running.store(false);
    m_worker.Join(kThreadTimeout);
    m_file.Close();
}

std::string CRecordThread::FormName(int index, const std::string& path)
{
    if (index < 0)
        return path;
    std::error_code ec;
    std::filesystem::path base = std::filesystem::absolute(path, ec);
    if (ec)
        base = path;
    std::string extension = base.extension().string();
    if (!extension.empty())
        extension.erase(0, 1);
    base.replace_extension();
    char number[16];
    std::snprintf(number, sizeof number, "%d", index);
    return base.string() + "-" + number + "." + extension;
}

void CRecordThread::Report(const std::string& text)
{
    if (m_sink != nullptr)
        m_sink->ShowMessage(text);
}

std::string CRecordThread::GetFileName() const
{
    std::lock_guard lock(m_textLock);
    return m_fileName;
}

std::string CRecordThread::GetFailureText() const
{
    std::lock_guard lock(m_textLock);
    return m_failureText;
}

std::string CRecordThread::ReceiverError() const
{
    return m_receiver->LastError();
}

std::string CRecordThread::OpenFailureText(const std::string& path, CUnbufferedFile::CreateFailure why, int error)
{
    using Failure = CUnbufferedFile::CreateFailure;
    if (why == Failure::Locked)
        return std::string(kOpenFailedText) + "\n" + path + " is being written by another recorder.";
    if (why == Failure::System && (error == EBUSY || error == ETXTBSY))
        return std::string(kOpenFailedText) + "\n" + path + ": " + std::strerror(error) + ".";
    if (why == Failure::NotRegular)
        return "File could not be opened.\n" + path + " is not a regular file.";
    return "File could not be opened.\n" + path + ": " + std::strerror(error) + ".";
}

bool CRecordThread::CreateFile(const std::string& name)
{
    if (m_file.Create(name))
        return true;
    const int error = errno;
    const std::string text = OpenFailureText(name, m_file.LastCreateFailure(), error);
    {
        std::lock_guard lock(m_textLock);
        m_failureText = text;
    }
    Report(text);
    return false;
}

bool CRecordThread::Start(const std::string& path)
{
    if (m_running.load())
        return true;
    m_worker.Join(kThreadTimeout); // a worker that ended by itself (failure)
    if (!m_fileOpen.load())
    {
        // A failure belongs to the run it ended; a new run starts clean.
        m_failed.store(false);
        std::lock_guard lock(m_textLock);
        m_failureText.clear();
    }
    if (!m_receiver->Start())
        return false;
    if (m_state.load() == kStopped)
        m_state.store(kMonitoring);
    if (m_analyzerEnabled.load() && m_analysis != nullptr)
        m_analysis->ResetListData(1, 1);
    m_sectorSize = CUnbufferedFile::QuerySectorSize(DirectoryOf(path));
    m_bufferSize = BufferBytesFor(m_sectorSize);
    if (!m_buffer.Allocate(m_bufferSize + (kBlocksPerWrite - 1) * GetBlockBytes()))
    {
        m_bufferSize = 0;
        m_state.store(kStopped);
        m_receiver->Stop();
        return false;
    }
    m_bytesTaken.store(0);
    m_drain.store(false);
    m_running.store(true);
    if (!m_worker.Start("orvane-record", ThreadPriority::AboveNormal, [this] { Worker(); }))
    {
        m_running.store(false);
        m_state.store(kStopped);
        m_receiver->Stop();
        return false;
    }
    return true;
}

bool CRecordThread::Open(int index, const std::string& path)
{
    const std::string name = FormName(index, path);
    if (m_fileOpen.load() && m_running.load())
        return false;
    // The port first: a file is created (and emptied) only for a receiver that runs.
    const bool receiverWasRunning = m_receiver->IsReceiving();
    if (!receiverWasRunning && !m_receiver->Start())
        return false;
    m_failed.store(false);
    {
        std::lock_guard lock(m_textLock);
        m_failureText.clear();
    }
    if (!CreateFile(name))
    {
        if (!receiverWasRunning)
            m_receiver->Stop();
        return false;
    }
    if (m_running.load())
        StopThread(); // monitoring turns into recording; the receiver keeps running
    {
        std::lock_guard lock(m_textLock);
        m_fileName = name;
    }
    m_rotatePending.store(false);
    m_bytesWritten.store(0);
    m_fileOpen.store(true);
    m_state.store(kRecording);
    if (!Start(path))
    {
        m_file.Close();
        m_fileOpen.store(false);
        m_state.store(kStopped);
        m_receiver->Stop();
        return false;
    }
    return true;
}

bool CRecordThread::RotateTo(int index, const std::string& path)
{
    if (m_state.load() != kRecording || !m_running.load() || m_failed.load())
        return false;
    {
        std::lock_guard lock(m_textLock);
        m_pendingName = FormName(index, path);
    }
    m_rotatePending.store(true);
    return true;
}

void CRecordThread::Close()
{
    if (m_running.load())
    {
        // No datagram comes after this; the receiver's reserve is in the FIFO now.
        m_receiver->StopReceiving();
        if (m_fileOpen.load())
        {
            m_drain.store(true);
            m_worker.Join(kDrainTimeout);
        }
        m_running.store(false);
    }
    m_worker.Join(kThreadTimeout);
    if (!m_worker.IsStarted() || m_worker.IsFinished())
    {
        m_worker.Join(kThreadTimeout);
        m_file.Close(); // the worker has ended: the file is the owner's again
    }
    m_fileOpen.store(false);
    m_rotatePending.store(false);
    m_state.store(kStopped);
    m_receiver->Stop();
}

void CRecordThread::StopThread()
{
    if (!m_running.load())
        return;
    m_running.store(false);
    m_worker.Join(kThreadTimeout);
}

void CRecordThread::StopMonitoring()
{
    StopThread();
    m_state.store(kStopped);
    m_receiver->Stop();
}

void CRecordThread::Fail(const std::string& text)
{
    {
        std::lock_guard lock(m_textLock);
        m_failureText = text;
    }
    m_file.Close();
    m_fileOpen.store(false);
    m_failed.store(true);
    Report(text);
}

bool CRecordThread::SwitchFile()
{
    std::string name;
    {
        std::lock_guard lock(m_textLock);
        name = m_pendingName;
    }
    if (!m_file.Close())
    {
        Fail("Recording stopped: closing " + GetFileName() + " failed: " + std::strerror(errno) + ".");
        return false;
    }
    if (!CreateFile(name))
    {
        m_fileOpen.store(false);
        m_failed.store(true);
        m_rotatePending.store(false);
        return false;
    }
    {
        std::lock_guard lock(m_textLock);
        m_fileName = name;
    }
    m_bytesWritten.store(0);
    m_rotatePending.store(false);
    return true;
}

bool CRecordThread::WriteBlock(std::uint8_t* block, std::uint32_t n, bool tail)
{
    const std::uint64_t before = m_file.BytesWritten();
    const bool ok = tail ? m_file.WriteTail(block, n, m_sectorSize) : m_file.Write(block, n);
    m_bytesWritten.fetch_add(m_file.BytesWritten() - before);
    if (ok)
        return true;
    const int error = errno;
    Fail("Recording stopped: writing to " + GetFileName() + " failed (" + std::strerror(error) +
         "). The data recorded up to that point is kept.");
    return false;
}

void CRecordThread::Analyse(std::uint8_t* block, std::uint32_t n)
{
    if (!m_analyzerEnabled.load() || m_analysis == nullptr)
        return;
    // The block is already on disk: whatever the analysis does to the pointer,
    // the length or the bytes only concerns the analysis.
    unsigned char* data = block;
    long length = static_cast<long>(n);
    if (m_analysis->InsertStreamData(data, length, static_cast<long>(m_sectorSize)) != 0)
        m_analysis->CopyStreamData(m_buffer.Data(), static_cast<long>(m_sectorSize), m_buffer.Data());
    // The delay factor drains at the stream's PCR rate once the analysis knows it.
    m_receiver->SetMdiBitRate(m_analysis->State().m_bitRate.load(std::memory_order_relaxed));
}

bool CRecordThread::Rotate(std::uint8_t* block)
{
    // For a stream sent in whole packets (always in RTP mode) the FIFO holds
    // whole packets: the bytes that complete the packet cut by the last block
    // are there. They end the old file, so that every ring file holds whole
    // packets and the next one starts with a packet.
    const std::uint32_t packet = m_receiver->GetPacketBytes();
    const auto need = static_cast<std::uint32_t>((packet - m_file.BytesWritten() % packet) % packet);
    std::uint32_t got = 0;
    if (need > 0 && !m_receiver->ReadData(block, need, got))
        return false;
    m_bytesTaken.fetch_add(got);
    if (got > 0 && !WriteBlock(block, got, true))
        return false;
    if (!SwitchFile())
        return false;
    Analyse(block, got);
    return true;
}

bool CRecordThread::CheckLinked()
{
    if (!m_fileOpen.load() || m_file.IsLinked())
        return true;
    Fail("Recording stopped: " + GetFileName() +
         " was deleted (or its directory removed) during the recording; what was written is lost with it.");
    return false;
}

void CRecordThread::Worker()
{
    std::uint8_t* const block = m_buffer.Data() + m_sectorSize;
    const std::uint32_t blockBytes = GetBlockBytes();
    if (m_analysis != nullptr)
        m_analysis->ResetStreamData();
    std::int64_t nextLinkCheckNs = 0;

    while (m_running.load())
    {
        // A deleted file takes everything written with it: stop at once, loudly.
        if (const std::int64_t now = CSteadyClock::NowNs(); now >= nextLinkCheckNs)
        {
            nextLinkCheckNs = now + kLinkCheckMs * 1'000'000;
            if (!CheckLinked())
                break;
        }
        if (m_rotatePending.load() && m_fileOpen.load())
        {
            if (!Rotate(block))
                break;
            continue;
        }
        // Several blocks per write when the FIFO holds them: an unbuffered write
        // waits for the device, so fewer, larger writes keep up with a fast stream.
        const std::uint32_t stored = m_receiver->GetStored();
        const std::uint32_t blocks = std::clamp<std::uint32_t>(stored / blockBytes, 1, kBlocksPerWrite);
        std::uint32_t got = 0;
        if (!m_receiver->ReadData(block, blocks * blockBytes, got))
            break;
        bool tail = false;
        if (got == 0)
        {
            if (!m_drain.load())
            {
                std::this_thread::sleep_for(kPollInterval);
                continue;
            }
            // Reception has ended: the rest, less than a block, ends the file.
            if (!m_receiver->ReadAvailable(block, blockBytes, got) || got == 0)
                break;
            tail = true;
        }
        m_bytesTaken.fetch_add(got);
        // Unbuffered writes that fall behind the stream (the FIFO more than half
        // full) would end in lost data: the rest of this file goes through the
        // page cache, which absorbs the device's stalls.
        if (m_fileOpen.load() && m_file.IsDirect() && stored > kFallBehindBytes && m_file.UseBuffered())
            m_bufferedFallbacks.fetch_add(1);
        // Written first: the analysis may use the bytes in front of its data.
        if (m_fileOpen.load() && !WriteBlock(block, got, tail))
            break;
        for (std::uint32_t offset = 0; offset < got; offset += blockBytes)
            Analyse(block + offset, std::min(blockBytes, got - offset));
        if (tail)
            break;
    }
    if (m_drain.load() && m_file.IsOpen() && !m_file.Close() && !m_failed.load())
        Fail("Recording stopped: closing " + GetFileName() + " failed: " + std::strerror(errno) + ".");
}
