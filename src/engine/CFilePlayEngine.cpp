#include "engine/CFilePlayEngine.h"

#include "analysis/CDecodeStream.h"
#include "common/FormatThousands.h"
#include "common/IMessageSink.h"
#include "engine/CNetworkSender.h"

#include <fcntl.h>
#include <langinfo.h>
#include <locale.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <thread>

namespace
{
constexpr std::uint8_t kNullPacketHeader[4] = {0x47, 0x1F, 0xFF, 0x10}; // PID 0x1FFF, payload only, CC 0
} // namespace

CFilePlayEngine::CFilePlayEngine(CNetworkSender* sender, IMessageSink* messages)
    : m_sender(sender), m_messages(messages)
{
}

CFilePlayEngine::~CFilePlayEngine()
{
    m_running.store(false, std::memory_order_release);
    m_wake.Set();
    // The reader borrows this object: it must be gone before the members are.
    while (!m_readerThread.Join(kStopTimeout))
        std::fprintf(stderr, "orvane: file reader slow to stop\n");
    if (m_sender != nullptr)
        m_sender->Stop();
    m_readBuffer.Release();
}

void CFilePlayEngine::SetRange(std::uint32_t startPermille, std::uint32_t endPermille)
{
    endPermille = std::min(endPermille, kPermille);
    startPermille = std::min(startPermille, endPermille);
    m_rangeStart.store(startPermille, std::memory_order_relaxed);
    m_rangeEnd.store(endPermille, std::memory_order_relaxed);
}

void CFilePlayEngine::SetDecoder(CDecodeStream* decoder, bool enabled)
{
    m_decoder = decoder;
    m_decoderEnabled = enabled;
}

void CFilePlayEngine::Show(const char* text)
{
    if (m_messages != nullptr)
        m_messages->ShowMessage(text);
}

void CFilePlayEngine::ShowCannotStart(const std::string& reason)
{
    if (m_messages == nullptr)
        return;
    // The system's reason goes on the second line, under the first sentence.
    std::string text = kMsgCannotStart;
    const auto firstLineEnd = text.find('\n');
    if (!reason.empty() && firstLineEnd != std::string::npos)
        text.insert(firstLineEnd + 1, reason + ".\n");
    m_messages->ShowMessage(text);
}

void CFilePlayEngine::Fail(const std::string& text)
{
    m_failed.store(true, std::memory_order_release);
    if (m_messages != nullptr)
        m_messages->ShowMessage(text);
}

bool CFilePlayEngine::IsPlayedOut() const
{
    return !IsRunning() && m_readerThread.IsFinished() && m_sender != nullptr && m_sender->IsDrained();
}

void CFilePlayEngine::MarkLoop(std::uint64_t position)
{
    std::lock_guard lock(m_loopLock);
    if (!m_pendingLoops.empty())
    {
        LoopRun& last = m_pendingLoops.back();
        const std::uint64_t end = last.first + (last.count - 1) * last.step;
        if (position > end && (last.count == 1 || position - end == last.step))
        {
            last.step = position - end;
            ++last.count;
            return;
        }
    }
    m_pendingLoops.push_back(LoopRun{position, 0, 1});
}

void CFilePlayEngine::CountSentLoops()
{
    // What left: taken from the FIFO and not refused by the kernel.
    const std::uint64_t taken = m_sender->GetBytesTaken();
    const std::uint64_t refused = m_sender->GetBytesNotSent();
    const std::uint64_t sent = taken > refused ? taken - refused : 0;
    while (!m_pendingLoops.empty())
    {
        LoopRun& run = m_pendingLoops.front();
        if (run.first > sent)
            break;
        const std::uint64_t passed = run.step == 0 ? 1 : std::min(run.count, (sent - run.first) / run.step + 1);
        m_loopsSent += passed;
        run.count -= passed;
        run.first += passed * run.step;
        if (run.count == 0)
            m_pendingLoops.pop_front();
    }
}

void CFilePlayEngine::ForgetPendingLoops()
{
    std::lock_guard lock(m_loopLock);
    CountSentLoops();
    m_pendingLoops.clear();
}

std::uint64_t CFilePlayEngine::GetLoopCount()
{
    std::lock_guard lock(m_loopLock);
    if (m_sender != nullptr)
        CountSentLoops();
    return m_loopsSent;
}

std::uint32_t CFilePlayEngine::QuerySectorSize(const std::string& path)
{
    // The alignment that unbuffered reads of this file need; 0 where the file
    // system does not do unbuffered I/O (tmpfs), or on kernels that do not say.
    struct statx stx
    {
    };
    if (statx(AT_FDCWD, path.c_str(), 0, STATX_DIOALIGN, &stx) != 0 || (stx.stx_mask & STATX_DIOALIGN) == 0)
        return kDefaultSectorBytes;
    const std::uint32_t align = std::max(stx.stx_dio_offset_align, stx.stx_dio_mem_align);
    // Only powers of two up to 64 KiB make sense as a sector; anything else is noise.
    if (align == 0 || align > 65'536 || (align & (align - 1)) != 0)
        return kDefaultSectorBytes;
    return std::max(align, kDefaultSectorBytes);
}

bool CFilePlayEngine::StartPlay(const std::string& path)
{
    if (m_running.load(std::memory_order_acquire) || m_sender == nullptr)
        return false; // a play is running: the owner stops it first
    // A reader that ended by itself is joined here (it has signalled its end).
    // One that did not end still uses the buffer and the file: they stay.
    if (!m_readerThread.Join(kStopTimeout))
    {
        Show(kMsgPreviousPlay);
        return false;
    }
    // The tail of a finished play may still be leaving: Open would drop it.
    if (m_sender->IsRunning() && m_sender->IsEndOfStream())
    {
        const auto deadline = std::chrono::steady_clock::now() + kStopTimeout;
        while (!m_sender->IsDrained() && m_sender->IsRunning())
        {
            if (std::chrono::steady_clock::now() > deadline)
            {
                Show(kMsgPreviousPlay);
                return false;
            }
            std::this_thread::sleep_for(kRetryDelay);
        }
    }

    m_path = path;
    m_playedBytes.store(0, std::memory_order_relaxed);
    m_paused.store(false, std::memory_order_release);
    m_failed.store(false, std::memory_order_release);
    {
        std::lock_guard lock(m_loopLock);
        m_pendingLoops.clear();
        m_loopsSent = 0;
    }
    m_readBuffer.Release();

    m_sectorSize = QuerySectorSize(path);
    m_bufferSize = (kChunkBytes / m_sectorSize + 2) * m_sectorSize;
    if (!m_readBuffer.Allocate(m_bufferSize))
    {
        ShowCannotStart(std::strerror(ENOMEM));
        return false;
    }

    // Unbuffered where the file system allows it (O_DIRECT): the page cache
    // would only hold a file that is read once. O_NONBLOCK: a named pipe
    // without a writer would hold open() for ever; it is refused below.
    m_direct = true;
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_DIRECT);
    if (fd < 0 && errno == EINVAL)
    {
        m_direct = false;
        fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    }
    struct stat st
    {
    };
    if (fd >= 0 && (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)))
    {
        // A directory, a device or a named pipe opens, but is no file to play.
        close(fd);
        fd = -1;
        errno = EISDIR;
    }
    if (fd < 0)
    {
        struct stat exists
        {
        };
        Show(stat(path.c_str(), &exists) == 0 ? kMsgCannotOpen : kMsgNotFound);
        return false;
    }
    m_file.Reset(fd);

    const std::int64_t fileSize = st.st_size;
    m_fileSize.store(fileSize, std::memory_order_relaxed);
    const std::uint32_t rangeStart = m_rangeStart.load(std::memory_order_relaxed);
    const std::uint32_t rangeEnd = m_rangeEnd.load(std::memory_order_relaxed);
    m_position.store(std::clamp(m_position.load(std::memory_order_relaxed), rangeStart, rangeEnd),
                     std::memory_order_relaxed);
    m_rangeStartOffset = fileSize * rangeStart / kPermille;
    m_rangeEndOffset = fileSize * rangeEnd / kPermille;
    m_rangeLength.store(m_rangeEndOffset - m_rangeStartOffset, std::memory_order_relaxed);
    m_fileOffset = m_rangeStartOffset;

    m_jumpRequest.store(true, std::memory_order_release);
    m_finished.store(false, std::memory_order_release);
    m_wake.Reset();

    if (fileSize == 0)
    {
        // Nothing to play: no reader is started for it.
        m_file.Reset();
        m_sender->Stop();
        Show(kMsgCannotStart);
        return false;
    }

    m_running.store(true, std::memory_order_release);
    if (!m_sender->Open())
    {
        // No FIFO, or no socket for the destination (no route, a blackhole or
        // prohibit route): a play that sends nothing must not look like one that runs.
        const std::string reason = m_sender->GetOpenError();
        m_running.store(false, std::memory_order_release);
        m_file.Reset();
        m_sender->Stop();
        ShowCannotStart(reason);
        return false;
    }
    if (!m_readerThread.Start("orvane-reader", ThreadPriority::AboveNormal, [this] { ReaderThread(); }))
    {
        m_running.store(false, std::memory_order_release);
        m_file.Reset();
        m_sender->Stop();
        Stop();
        ShowCannotStart(std::strerror(EAGAIN)); // what pthread_create gives when it cannot
        return false;
    }
    return true;
}

bool CFilePlayEngine::Stop()
{
    bool result = true;
    m_running.store(false, std::memory_order_release);
    m_wake.Set();
    if (!m_readerThread.Join(kStopTimeout))
        result = false;
    m_paused.store(false, std::memory_order_release);
    if (m_sender != nullptr)
        m_sender->Stop();
    return result;
}

void CFilePlayEngine::Pause(bool paused)
{
    m_paused.store(paused, std::memory_order_release);
    if (m_sender != nullptr)
        m_sender->Pause(paused);
    m_wake.Set();
}

std::chrono::milliseconds CFilePlayEngine::BackPressureWait(std::uint32_t length)
{
    // About as long as the play-out thread needs to make room for the chunk at
    // the bit rate: a full FIFO drains for seconds, and a retry every 1 ms
    // would only cost wake-ups. Stop, resume and jumps wake the reader at once.
    const std::uint64_t free = m_sender->Fifo().GetFree();
    const std::uint64_t needed = std::uint64_t{length} + CNetworkSender::kMaxPacketSize;
    const std::uint64_t bitRate = m_sender->GetBitRate();
    if (needed <= free || bitRate == 0)
        return kRetryDelay;
    const std::uint64_t ms = (needed - free) * 8'000 / bitRate;
    return std::clamp(std::chrono::milliseconds(ms), kRetryDelay, kMaxBackPressureWait);
}

void CFilePlayEngine::WriteToSender(std::uint8_t* data, std::uint32_t length)
{
    // Back-pressure: the FIFO is full until the play-out thread has sent enough.
    while (!m_sender->WriteData(data, length) && m_running.load(std::memory_order_acquire))
        m_wake.Wait(m_paused.load(std::memory_order_acquire) ? kMaxRetryDelay : BackPressureWait(length));
}

void CFilePlayEngine::WriteStuffing()
{
    std::uint32_t packetSize = m_packetSize.load(std::memory_order_relaxed);
    if (packetSize == 0 || packetSize > CNetworkSender::kMaxPacketSize)
        packetSize = kDefaultPacketSize;
    // Built behind the headroom, like a chunk: WriteData may use the bytes in front.
    std::uint8_t* burst = m_readBuffer.Data() + m_sectorSize;
    std::memset(burst, 0, std::size_t{kStuffingPackets} * packetSize);
    for (std::uint32_t i = 0; i < kStuffingPackets; ++i)
        std::memcpy(burst + std::size_t{i} * packetSize, kNullPacketHeader, sizeof kNullPacketHeader);
    WriteToSender(burst, kStuffingPackets * packetSize);
    if (DecoderOn())
        m_decoder->AddOutputBytes(std::int64_t{kStuffingPackets} * packetSize); // restamping counts what is sent
    m_playedBytes.fetch_add(std::int64_t{kStuffingPackets} * packetSize, std::memory_order_relaxed);
}

void CFilePlayEngine::Jump()
{
    const std::int64_t fileSize = m_fileSize.load(std::memory_order_relaxed);
    std::int64_t offset = fileSize * m_position.load(std::memory_order_relaxed) / kPermille;
    offset -= offset % m_sectorSize;
    m_fileOffset = offset;
    m_playedBytes.store(offset - m_rangeStartOffset, std::memory_order_relaxed);
    if (DecoderOn())
    {
        m_decoder->ResetStreamData();
        m_decoder->ResetPCRRestamp();
        m_decoder->ResetPTSDTSRestamp(offset - m_rangeStartOffset);
        m_decoder->ResetFirstPCR();
    }
    m_jumpRequest.store(false, std::memory_order_release);
    // Ends of the stretch still in the FIFO never leave now.
    ForgetPendingLoops();
    const std::uint32_t dropped = m_sender->DropQueued();
    if (DecoderOn())
        m_decoder->AddOutputBytes(-std::int64_t{dropped}); // never sent: the restamped timeline goes back
    WriteStuffing();
}

std::int64_t CFilePlayEngine::ReadChunk(std::int64_t want)
{
    std::uint8_t* into = m_readBuffer.Data() + m_sectorSize;
    // Unbuffered reads are whole sectors: the last one of a stretch is read
    // up to the sector boundary and cut back to what was wanted.
    std::size_t length = static_cast<std::size_t>(want);
    if (m_direct)
        length = (length + m_sectorSize - 1) / m_sectorSize * m_sectorSize;
    for (;;)
    {
        const ssize_t got = pread(m_file.Get(), into, length, m_fileOffset);
        if (got >= 0)
            return std::min<std::int64_t>(got, want);
        const int error = errno;
        if (error == EINTR)
            continue;
        if (error == EINVAL && m_direct)
        {
            // The file system refuses this unbuffered read (an offset or length
            // off the sector grid, e.g. a range start): read buffered from here on.
            const int flags = fcntl(m_file.Get(), F_GETFL);
            if (flags >= 0 && fcntl(m_file.Get(), F_SETFL, flags & ~O_DIRECT) == 0)
            {
                m_direct = false;
                length = static_cast<std::size_t>(want);
                continue;
            }
        }
        m_readError = error;
        return -1;
    }
}

void CFilePlayEngine::ReaderThread()
{
    m_finished.store(false, std::memory_order_release);
    bool reachedEnd = false;
    if (m_file.Valid())
    {
        if (DecoderOn())
            m_decoder->ResetStreamData();
        // Passes of the stretch in a row that gave the sender nothing.
        int emptyPasses = 0;
        std::uint64_t passStart = 0;
        for (;;)
        {
            if (m_jumpRequest.load(std::memory_order_acquire))
            {
                Jump();
                passStart = m_sender->GetBytesWritten();
            }
            if (!m_running.load(std::memory_order_acquire))
                break;
            if (m_paused.load(std::memory_order_acquire))
            {
                // The position holds: nothing more is read until the resume.
                m_wake.Wait(kMaxRetryDelay);
                continue;
            }

            const std::int64_t room = std::int64_t{m_bufferSize} - m_sectorSize;
            const std::int64_t want = std::clamp<std::int64_t>(m_rangeEndOffset - m_fileOffset, 0, room);
            const std::int64_t got = want > 0 ? ReadChunk(want) : 0;
            if (got < 0)
            {
                // A failed read would fail again: the play ends, what was read still leaves.
                Fail(std::string(kMsgReadError) + "\n" + std::strerror(m_readError));
                reachedEnd = true;
                break;
            }
            if (got > 0)
            {
                m_fileOffset += got;
                unsigned char* data = m_readBuffer.Data() + m_sectorSize;
                long length = static_cast<long>(got);
                if (DecoderOn())
                    m_decoder->InsertStreamData(data, length, static_cast<long>(m_sectorSize));
                if (length > 0)
                    WriteToSender(data, static_cast<std::uint32_t>(length));
                if (DecoderOn())
                    m_decoder->CopyStreamData(m_readBuffer.Data(), static_cast<long>(m_sectorSize),
                                              m_readBuffer.Data());
                m_playedBytes.fetch_add(length, std::memory_order_relaxed);
                continue;
            }

            // End of the stretch: back to its start. The next pass is a new
            // stretch: a packet cut by the range end is not completed by it.
            m_fileOffset = m_rangeStartOffset;
            m_sender->DiscardCarry();
            if (DecoderOn())
            {
                m_decoder->ResetStreamData();
                m_decoder->SetLoop();
            }
            const std::uint64_t written = m_sender->GetBytesWritten();
            emptyPasses = written == passStart ? emptyPasses + 1 : 0;
            passStart = written;
            if (m_running.load(std::memory_order_acquire) && m_loop.load(std::memory_order_relaxed))
            {
                // The first pass may start at the range end; a second one that
                // gives nothing means the stretch has nothing to play: stop
                // instead of looping over nothing.
                if (emptyPasses >= 2)
                {
                    struct stat st
                    {
                    };
                    const bool empty = fstat(m_file.Get(), &st) == 0 && st.st_size == 0;
                    Fail(empty ? kMsgCannotStart : kMsgReadError);
                    reachedEnd = true;
                    break;
                }
                if (emptyPasses == 0)
                    MarkLoop(written);
                continue; // no stuffing, no FIFO reset: the stretch follows itself seamlessly
            }
            reachedEnd = m_running.load(std::memory_order_acquire);
            break;
        }
    }

    WriteStuffing();
    // Everything is written: the sender may now send the tail of a stream
    // shorter than its prefill, and its last partial datagram.
    if (reachedEnd)
        m_sender->SetEndOfStream(true);
    m_file.Reset();
    m_running.store(false, std::memory_order_release);
    m_finished.store(true, std::memory_order_release);
}

std::string CFilePlayEngine::FormatThousands(std::int64_t value, const std::string& separator)
{
    return ::FormatThousands(value, std::string_view(separator));
}

std::string CFilePlayEngine::UserThousandsSeparator()
{
    return LocaleThousandsSeparator();
}

std::string CFilePlayEngine::FormatThousands(std::int64_t value)
{
    return FormatThousands(value, UserThousandsSeparator());
}
