#include "engine/CNetworkSender.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <limits>

namespace
{
constexpr std::uint8_t kSyncByte = 0x47;

//! Milliseconds from @p fromNs to @p toNs, rounded up, so that the schedule
//! never lags by a fraction of a millisecond.
std::int64_t CeilMs(std::int64_t fromNs, std::int64_t toNs)
{
    const std::int64_t d = toNs - fromNs;
    return d <= 0 ? 0 : (d + 999'999) / 1'000'000;
}
} // namespace

CNetworkSender::CNetworkSender() : m_fifo(kFifoCapacityBytes) {}

CNetworkSender::~CNetworkSender()
{
    Stop();
}

bool CNetworkSender::SetRate(std::uint32_t bitRate, std::uint32_t packetSize)
{
    std::unique_lock lock(m_parameterLock, kLockTimeout);
    if (!lock)
        return false;
    m_bitRate.store(bitRate, std::memory_order_relaxed);
    m_packetSize.store(packetSize > kMaxPacketSize ? kMaxPacketSize : packetSize, std::memory_order_relaxed);
    return true;
}

std::string CNetworkSender::ErrorText(int error, const CNetAddress& destination)
{
    if ((error == ENETUNREACH || error == EHOSTUNREACH) && destination.IsSet())
        return "no route to " + destination.HostString();
    return std::strerror(error);
}

void CNetworkSender::SetDestination(const CNetAddress& destination, bool rtp)
{
    m_destination = destination;
    m_address.store(destination.Ipv4(), std::memory_order_relaxed);
    m_port.store(destination.Port(), std::memory_order_relaxed);
    m_rtp.store(rtp, std::memory_order_relaxed);
}

bool CNetworkSender::Open()
{
    // Under the parameter lock: a play-out thread that still runs (Open without
    // Stop) sees the new schedule only between two cycles.
    std::unique_lock params(m_parameterLock, kLockTimeout);
    m_openError.clear();
    m_drained.store(false, std::memory_order_release);
    const std::uint32_t capacity = FifoCapacityFor(m_bitRate.load(std::memory_order_relaxed));
    m_fifo.SetCapacity(capacity);
    m_fifoCapacity.store(capacity, std::memory_order_relaxed);
    if (!m_fifo.Allocate())
    {
        // Up to 512 MiB at high rates: a play without its FIFO would never send.
        m_openError = std::string(std::strerror(ENOMEM)) + ": the send FIFO needs " +
                      std::to_string(capacity / 1'048'576) + " MiB";
        return false;
    }
    // A new socket for the destination given now: one left open by a schedule
    // that was not stopped still points at the old one.
    std::unique_lock ring(m_ringLock);
    m_uring.Close(m_socket);
    m_stage.reset();
    m_socket.Close();
    if (m_openOutput != nullptr && m_outputOpen)
        m_openOutput->Close();
    m_openOutput = m_output;
    m_outputOpen = m_openOutput != nullptr;
    bool outputOpen = false;
    if (m_openOutput != nullptr)
    {
        // The play-out thread paces it: departure times and io_uring are the UDP socket's.
        outputOpen = m_openOutput->Open();
        if (!outputOpen)
            m_openError = m_openOutput->GetOpenError();
        m_pacingNote.clear();
        if (m_pacingRequested == PacingMode::Uring || m_pacingRequested == PacingMode::TxTime)
            m_pacingNote = "no kernel-timed pacing through this transport; pacing by thread";
        m_pacingInUse.store(PacingMode::Thread, std::memory_order_relaxed);
    }
    else if (!m_socket.Create(m_destination))
        m_openError = ErrorText(m_socket.GetCreateError(), m_destination);
    else if (m_stageSettings.IsActive() && !m_destination.IsIpv4())
    {
        // The output stage's FEC ports and extra destinations are IPv4 addresses.
        m_openError = "FEC, impairment and more destinations work over IPv4 only";
        m_socket.Close();
    }
    else if (m_stageSettings.IsActive())
        OpenStage();
    else
        ChoosePacing();
    ring.unlock();
    m_openRtp = m_rtp.load(std::memory_order_relaxed) && m_openOutput == nullptr;
    m_bytesSent.store(0, std::memory_order_relaxed);
    m_scheduledBytes = 0;
    m_bytesWritten.store(0, std::memory_order_relaxed);
    m_bytesTaken.store(0, std::memory_order_relaxed);
    m_failedAtOpen.store(FailedDatagrams(), std::memory_order_relaxed);
    m_failedBytesAtOpen.store(FailedPayloadBytes(), std::memory_order_relaxed);
    m_carryCount = 0;
    m_prefilled.store(false, std::memory_order_relaxed);
    m_endOfStream.store(false, std::memory_order_release);
    m_pauseRequested.store(false, std::memory_order_release);
    m_inPause = false;
    m_fifo.Reset();
    m_startTimeNs = 0;
    m_lastCycleNs = 0;
    m_lastPending = 0;
    m_pendingProbe = 0;
    m_lastDepartureNs = 0;
    m_aheadOffsetNs = std::numeric_limits<std::int64_t>::min();
    if (params)
        params.unlock();

    if (!m_thread.IsStarted())
    {
        m_stopEvent.Reset();
        {
            std::lock_guard lock(m_statusLock);
            m_busyCounter = m_underflowCounter = m_timerCounter = 0;
        }
        // Set before the thread starts, so that a Stop right after Open always
        // finds it (the thread itself only ever clears it).
        m_threadRunning.store(true, std::memory_order_release);
        if (!m_thread.Start("orvane-playout", ThreadPriority::Highest, [this] { PlayoutThread(); }))
            m_threadRunning.store(false, std::memory_order_release);
    }
    // A destination the system refuses (an interface address it does not have)
    // leaves no socket: nothing would ever leave, so the caller must not play.
    return m_openOutput != nullptr ? outputOpen : m_socket.IsOpen();
}

std::uint32_t CNetworkSender::FifoCapacityFor(std::uint32_t bitRate)
{
    // 30 MiB hold 0.25 s at 1 Gbit/s: too little to ride out a slow disk or a
    // busy machine. At high rates the FIFO holds a second of stream instead
    // (whole MiB, at most kMaxFifoCapacityBytes).
    constexpr std::uint64_t kMiB = 1'048'576;
    const std::uint64_t second = (std::uint64_t{bitRate} / 8 + kMiB - 1) / kMiB * kMiB;
    return static_cast<std::uint32_t>(std::clamp<std::uint64_t>(second, kFifoCapacityBytes, kMaxFifoCapacityBytes));
}

const char* CNetworkSender::PacingName(PacingMode mode)
{
    switch (mode)
    {
    case PacingMode::Auto:
        return "auto";
    case PacingMode::Uring:
        return "uring";
    case PacingMode::TxTime:
        return "txtime";
    case PacingMode::Thread:
        return "thread";
    case PacingMode::Burst:
        return "burst";
    }
    return "";
}

bool CNetworkSender::ParsePacing(std::string_view text, PacingMode& mode)
{
    for (const PacingMode m :
         {PacingMode::Auto, PacingMode::Uring, PacingMode::TxTime, PacingMode::Thread, PacingMode::Burst})
    {
        if (text == PacingName(m))
        {
            mode = m;
            return true;
        }
    }
    return false;
}

bool CNetworkSender::UringFits(std::uint32_t bitRate, std::uint32_t packetSize)
{
    const std::uint64_t unit = std::uint64_t{kPacketsPerDatagram} * (packetSize == 0 ? kDefaultPacketSize : packetSize);
    return std::uint64_t{bitRate} * kBurstWindowNs / 8'000'000'000 / unit <= 1;
}

void CNetworkSender::ChoosePacing()
{
    // Cheapest first: departure times cost one system call per batch and no
    // wake-up of the thread; io_uring a kernel timer and a wake-up (without a
    // return to user space) per datagram; the thread a wake-up and a system
    // call per burst.
    const PacingMode want = m_pacingRequested;
    m_pacingNote.clear();
    PacingMode use = PacingMode::Thread;
    const int fd = m_socket.NativeHandle();
    if (want == PacingMode::Auto || want == PacingMode::TxTime)
    {
        const CTxTimeProbe::Result probe = m_txtimeProbe ? m_txtimeProbe(fd) : CTxTimeProbe::Probe(fd);
        std::int64_t offsetNs = 0;
        if (probe.available && probe.clockId != CLOCK_MONOTONIC)
        {
            timespec other{}, mono{};
            clock_gettime(probe.clockId, &other);
            clock_gettime(CLOCK_MONOTONIC, &mono);
            offsetNs = (std::int64_t{other.tv_sec} - mono.tv_sec) * 1'000'000'000 + (other.tv_nsec - mono.tv_nsec);
        }
        if (probe.available && m_socket.EnableTxTime(probe.clockId, offsetNs))
            use = PacingMode::TxTime;
        else if (want == PacingMode::TxTime)
            m_pacingNote = "no departure-time pacing: " +
                           (probe.available ? std::string("SO_TXTIME refused: ") + std::strerror(errno) : probe.reason);
    }
    // Auto does not take io_uring: measured on a loaded machine it costs about
    // what the thread costs, and a stalled CPU releases every expired timeout
    // at once, where the thread spreads what is overdue (docs/benchmarks.md).
    if (use == PacingMode::Thread && (want == PacingMode::Uring || want == PacingMode::TxTime))
    {
        if (!UringFits(GetBitRate(), GetPacketSize()))
            m_pacingNote += (m_pacingNote.empty() ? "" : "; ") +
                            std::string("no io_uring pacing: it times single datagrams, below about 210 Mbit/s");
        else if (m_uring.Open(fd))
            use = PacingMode::Uring;
        else
            m_pacingNote +=
                (m_pacingNote.empty() ? "" : "; ") + std::string("no io_uring pacing: ") + m_uring.GetError();
    }
    if (!m_pacingNote.empty())
        m_pacingNote += std::string("; pacing by ") + PacingName(use);
    m_pacingInUse.store(use, std::memory_order_relaxed);
}

void CNetworkSender::OpenStage()
{
    // FEC, impairment and copies are interleaved by the play-out thread as
    // each datagram leaves: the kernel-timed engines cannot do that.
    const PacingMode asked = m_pacingRequested;
    if (asked != PacingMode::Burst)
        m_pacingRequested = PacingMode::Thread;
    ChoosePacing();
    m_pacingRequested = asked;
    if (asked == PacingMode::Uring || asked == PacingMode::TxTime)
        m_pacingNote = std::string("no ") + PacingName(asked) +
                       " pacing: FEC, impairment and a second output are paced by the play-out thread; pacing by "
                       "thread";
    m_stage = std::make_unique<CSendPaths>();
    if (!m_stage->Open(m_stageSettings, m_socket, m_address.load(std::memory_order_relaxed),
                       m_port.load(std::memory_order_relaxed), m_bitRate.load(std::memory_order_relaxed), m_now))
    {
        m_openError = m_stage->GetError();
        m_stage.reset();
        m_socket.Close();
    }
}

bool CNetworkSender::Stop()
{
    if (m_thread.IsStarted())
    {
        m_threadRunning.store(false, std::memory_order_release);
        m_stopEvent.Set();
        // The thread ends within one cycle; its longest wait is 1 s (lock or
        // stall). It must be gone before the socket and the FIFO go.
        while (!m_thread.Join(kStopTimeout))
            std::fprintf(stderr, "orvane: play-out thread slow to stop\n");
    }
    // Requests in flight point at the ring's slots: cancelled and waited for first.
    m_uring.Close(m_socket);
    if (m_stage)
        m_stage->Close(); // what it still holds leaves first
    m_socket.Close();
    // Closed once: after a Stop the output may go (its counters are read only while it lives).
    if (m_openOutput != nullptr && m_outputOpen)
        m_openOutput->Close();
    m_outputOpen = false;
    m_fifo.Release();
    return true;
}

bool CNetworkSender::SyncsAt(const std::uint8_t* data, std::uint32_t length, std::uint32_t offset,
                             std::uint32_t packetSize)
{
    for (std::uint32_t k = 0; k < 3; ++k)
    {
        const std::uint64_t at = std::uint64_t{offset} + std::uint64_t{k} * packetSize;
        if (at >= length)
            break;
        if (data[at] != kSyncByte)
            return false;
    }
    return true;
}

std::uint32_t CNetworkSender::FindSyncOffset(const std::uint8_t* data, std::uint32_t length, std::uint32_t packetSize)
{
    for (std::uint32_t i = 0; i < length; ++i)
    {
        if (data[i] == kSyncByte && SyncsAt(data, length, i, packetSize))
            return i;
    }
    return length;
}

bool CNetworkSender::WriteData(std::uint8_t* data, std::uint32_t length)
{
    if (m_carryCount + length > m_fifo.GetFree())
        return false;
    std::uint32_t packetSize = m_packetSize.load(std::memory_order_relaxed);
    if (packetSize == 0)
        packetSize = kDefaultPacketSize;
    if (m_carryCount >= packetSize || (m_carryCount > 0 && m_carry[0] != kSyncByte))
        m_carryCount = 0; // the packet size changed under the held-over bytes, or they are junk

    // The held-over bytes go on when this write has a sync byte where the next
    // packet must begin (a write too short to reach one goes on by default):
    // whole packets only, whatever the lengths of the writes. Cuts (loop points,
    // jumps) are the reader's to flag (DiscardCarry, DropQueued), so one sync
    // byte is enough here: the last packets before junk at the end of a file
    // have no three in a row.
    std::uint32_t expected = m_carryCount == 0 ? 0 : packetSize - m_carryCount;
    if (m_carryCount > 0 && expected <= length && (expected == length || data[expected] != kSyncByte) &&
        FindSyncOffset(data + expected, length - expected, packetSize) == length - expected)
    {
        // The held-over packet is complete with the first bytes of this write,
        // and no packet follows it, in sync or not (junk after the last packet
        // of a file): it leaves. A write with packets at another offset is a
        // cut instead, and the held-over bytes go.
        std::array<std::uint8_t, kMaxPacketSize> packet{};
        std::memcpy(packet.data(), m_carry.data(), m_carryCount);
        std::memcpy(packet.data() + m_carryCount, data, expected);
        if (!m_fifo.Write(packet.data(), packetSize))
            return false; // lock time-out: the caller retries with the same bytes
        m_bytesWritten.fetch_add(packetSize, std::memory_order_release);
        m_carryCount = 0;
        data += expected;
        length -= expected;
        expected = 0;
    }
    if (m_carryCount > 0 && (expected >= length || data[expected] == kSyncByte))
    {
        if (length < expected)
        {
            // Still no whole packet: everything is held over.
            std::memcpy(m_carry.data() + m_carryCount, data, length);
            m_carryCount += length;
            return true;
        }
        data -= m_carryCount;
        std::memcpy(data, m_carry.data(), m_carryCount);
        length += m_carryCount;
    }
    else
    {
        const std::uint32_t sync = FindSyncOffset(data, length, packetSize);
        data += sync;
        length -= sync;
    }
    const std::uint32_t rest = length % packetSize;
    std::uint32_t whole = length - rest;
    // Whole slots of junk after the last packet are no packets either; the
    // bytes after them are junk too.
    bool junk = false;
    while (whole >= packetSize && data[whole - packetSize] != kSyncByte)
    {
        whole -= packetSize;
        junk = true;
    }
    if (!m_fifo.Write(data, whole))
        return false; // lock time-out: the caller retries with the same bytes (the held-over ones are still in m_carry)
    m_bytesWritten.fetch_add(whole, std::memory_order_release);
    m_carryCount = junk ? 0 : rest;
    if (!junk)
        std::memmove(m_carry.data(), data + length - rest, rest);
    return true;
}

std::uint32_t CNetworkSender::DropQueued()
{
    m_carryCount = 0;
    const std::uint32_t dropped = m_fifo.Reset();
    m_bytesTaken.fetch_add(dropped, std::memory_order_acq_rel);
    return dropped;
}

std::uint32_t CNetworkSender::RtpTimestamp(std::uint64_t position, std::uint64_t bitRate)
{
    // position x 720,000 overflows 64 bits after 2.5e13 bytes (57 h at 1 Gbit/s):
    // whole seconds' worth of bytes and the rest are scaled apart.
    constexpr std::uint64_t kTicksPerByteRate = 720'000; // 90 kHz x 8 bit
    if (bitRate == 0)
        bitRate = 1;
    return static_cast<std::uint32_t>(position / bitRate * kTicksPerByteRate +
                                      position % bitRate * kTicksPerByteRate / bitRate);
}

std::uint64_t CNetworkSender::SentOnSchedule(std::uint64_t scheduled) const
{
    const std::uint64_t failed = FailedPayloadBytes() - m_failedBytesAtSchedule;
    return scheduled > failed ? scheduled - failed : 0;
}

std::uint32_t CNetworkSender::GetStatusFlags()
{
    std::lock_guard lock(m_statusLock);
    std::uint32_t flags = 0;
    if (m_busyCounter >= kCounterMax)
        flags |= kStatusBusy;
    if (m_underflowCounter >= kCounterMax)
        flags |= kStatusUnderflow;
    if (m_timerCounter >= kCounterMax)
        flags |= kStatusTimer;
    return flags;
}

void CNetworkSender::PlayoutThread()
{
    CTimerSlack slack;
    int countdown = 10'000;
    m_pinned = false;
    {
        std::unique_lock lock(m_parameterLock, kLockTimeout);
        if (m_packetSize.load(std::memory_order_relaxed) == 0)
            m_packetSize.store(kDefaultPacketSize, std::memory_order_relaxed);
    }
    // Whole datagrams per millisecond, computed once per thread as the busy threshold.
    const std::uint32_t unit = kPacketsPerDatagram * m_packetSize.load(std::memory_order_relaxed);
    const std::uint32_t datagramsPerMs = (m_bitRate.load(std::memory_order_relaxed) / 8'000) / unit;

    constexpr std::int64_t kCycleNs = std::chrono::nanoseconds(kCycle).count();
    std::int64_t nextCycleNs = 0; // steady clock; smooth pacing only
    std::int64_t wakeNs = CSteadyClock::NowNs();
    while (m_threadRunning.load(std::memory_order_acquire))
    {
        // One absolute sleep per cycle and nothing else: a timed wait on the
        // stop event would cost a futex wait and a futex wake per cycle. Stop
        // clears the running flag, which is seen within one cycle (3 ms at most).
        std::int64_t target = wakeNs + kCycleNs;
        const bool ahead = KernelTimed();
        const bool smooth = m_smoothPacing.load(std::memory_order_relaxed) && !ahead;
        if (ahead)
            target = wakeNs + kAheadCycleNs; // the kernel times the datagrams: one wake-up per batch
        else if (smooth && nextCycleNs != 0)
        {
            // A smooth cycle begins when its first burst falls due, so that the
            // wake-up of the cycle is that burst's release (one wake-up fewer per
            // cycle); a cycle with nothing due comes at most kMaxCycleStretch late.
            target = nextCycleNs;
            if (m_nextReleaseNs != 0)
                target = std::min(m_nextReleaseNs, nextCycleNs - kCycleNs + kMaxCycleStretchNs);
        }
        const std::int64_t earliest = CSteadyClock::NowNs() + kMinCycleWaitNs;
        if (ahead && m_pacingInUse.load(std::memory_order_relaxed) == PacingMode::Uring)
        {
            std::lock_guard ring(m_ringLock);
            m_uring.WaitUntil(std::max(target, earliest));
        }
        else
        {
            SleepUntilSteady(std::max(target, earliest));
        }
        if (!m_threadRunning.load(std::memory_order_acquire))
            break;
        wakeNs = CSteadyClock::NowNs();
        nextCycleNs = smooth ? wakeNs + kCycleNs : 0;
        if (--countdown < 0)
        {
            slack.Refresh();
            countdown = 10'000;
        }
        RunCycle(datagramsPerMs);
    }
    {
        // The kernel runs a timed send in the thread that submitted it: once
        // that thread is gone it could no longer read the slot.
        std::lock_guard ring(m_ringLock);
        if (!m_uring.CancelAll(m_socket))
            std::fprintf(stderr, "orvane: io_uring requests slow to cancel\n");
    }
    m_threadRunning.store(false, std::memory_order_release);
}

bool CNetworkSender::HandlePause()
{
    // An output without a peer holds the schedule as a pause does: nothing is lost while it connects.
    if (m_pauseRequested.load(std::memory_order_acquire) || (m_openOutput != nullptr && !m_openOutput->IsReady()))
    {
        if (!m_inPause)
        {
            m_inPause = true;
            m_pauseStartNs = m_now();
            // Nothing leaves during a pause: the requests in flight are
            // cancelled, and their datagrams go after the resume.
            if (!m_uring.CancelAll(m_socket))
                std::fprintf(stderr, "orvane: io_uring requests slow to cancel\n");
        }
        return false;
    }
    if (m_inPause)
    {
        m_inPause = false;
        // The schedule moves on by the pause, rounded up to whole milliseconds
        // like the elapsed time: nothing falls due during a pause, so there is
        // nothing to catch up at the resume.
        if (m_startTimeNs != 0)
            m_startTimeNs += CeilMs(m_pauseStartNs, m_now()) * 1'000'000;
        m_lastCycleNs = 0; // the pause is no late cycle
        m_lastDepartureNs = 0;
    }
    return true;
}

std::int64_t CNetworkSender::DueTimeNs(std::uint64_t position, std::uint64_t bitRate) const
{
    if (bitRate == 0)
        return m_startTimeNs;
    // position x 8e9 / bitRate without overflowing 64 bits for long plays.
    const std::uint64_t bits = position * 8;
    const std::uint64_t ns = bits / bitRate * 1'000'000'000 + (bits % bitRate * 1'000'000'000 + bitRate - 1) / bitRate;
    return m_startTimeNs + static_cast<std::int64_t>(ns);
}

void CNetworkSender::SleepUntil(std::int64_t deadlineNs, std::int64_t realOffsetNs)
{
    if (m_sleepUntil)
    {
        m_sleepUntil(deadlineNs);
        return;
    }
    // Never longer than two cycles, whatever an injected clock says.
    const std::int64_t real = CSteadyClock::NowNs();
    std::int64_t until = deadlineNs + realOffsetNs;
    if (until <= real)
        return;
    if (until - real > 2'000'000)
        until = real + 2'000'000;
    SleepUntilSteady(until);
}

void CNetworkSender::SleepUntilSteady(std::int64_t deadlineNs)
{
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(deadlineNs / 1'000'000'000);
    ts.tv_nsec = static_cast<long>(deadlineNs % 1'000'000'000);
    // steady_clock is CLOCK_MONOTONIC; EINTR only shortens one gap.
    clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr);
}

void CNetworkSender::RunCycle(std::uint32_t datagramsPerMs)
{
    std::unique_lock lock(m_parameterLock, kLockTimeout);
    m_nextReleaseNs = 0;
    if (!lock)
        return;
    m_uring.Reap(m_socket);
    if (!HandlePause())
        return;
    const bool ahead = KernelTimed() && m_bitRate.load(std::memory_order_relaxed) > 0;
    if (!ahead && m_uring.Held() > 0)
    {
        // Held by a pause before the rate left io_uring's range: they still go, now.
        m_uring.Resubmit([](std::uint64_t, std::uint32_t) { return CSteadyClock::NowNs(); });
        m_uring.Submit();
    }
    const bool pin = ahead && m_pacingInUse.load(std::memory_order_relaxed) == PacingMode::Uring;
    if (pin != m_pinned)
    {
        // io_uring timers expire on the CPU that armed them (see CUringPacer).
        CUringPacer::PinToCurrentCpu(pin);
        m_pinned = pin;
    }

    const bool endOfStream = m_endOfStream.load(std::memory_order_acquire);
    const std::uint32_t capacity = m_fifoCapacity.load(std::memory_order_relaxed);
    if (!m_prefilled.load(std::memory_order_relaxed))
    {
        if (m_fifo.GetUsed() <= capacity / 2 && !endOfStream)
            return;
        m_prefilled.store(true, std::memory_order_relaxed);
    }

    // SIOCOUTQ costs a system call: the kernel's queue is asked only while the
    // socket is backed up (datagrams still queued here, or the kernel's queue
    // was not empty at the last look), and otherwise every kPendingProbeCycles.
    std::int32_t pending = m_openOutput != nullptr
                               ? m_openOutput->GetPendingSends()
                               : m_socket.GetQueuedSends() + static_cast<std::int32_t>(m_uring.Held());
    if (m_openOutput == nullptr && (pending > 0 || m_lastPending > 0 || --m_pendingProbe <= 0))
    {
        pending = m_socket.GetPendingSends() + static_cast<std::int32_t>(m_uring.Held());
        m_lastPending = pending;
        m_pendingProbe = kPendingProbeCycles;
    }
    // Datagrams handed over ahead of their time are no backlog; a qdisc holds them too.
    const std::uint32_t busyAbove =
        ahead ? datagramsPerMs * static_cast<std::uint32_t>(kAheadNs / 1'000'000 + 1) : datagramsPerMs;
    {
        std::lock_guard status(m_statusLock);
        if (pending > static_cast<std::int32_t>(busyAbove))
            Raise(m_busyCounter);
        else
            Lower(m_busyCounter);
    }

    std::int64_t now = m_now();
    if (m_startTimeNs == 0)
    {
        m_startTimeNs = now;
        m_failedBytesAtSchedule = FailedPayloadBytes();
    }
    if (m_lastCycleNs == 0)
        m_lastCycleNs = now;
    const std::int64_t gapMs = CeilMs(m_lastCycleNs, now);
    m_lastCycleNs = now;
    {
        std::lock_guard status(m_statusLock);
        if (gapMs > kTimerGapMs)
            Raise(m_timerCounter);
        else
            Lower(m_timerCounter);
    }

    std::uint32_t packetSize = m_packetSize.load(std::memory_order_relaxed);
    if (packetSize == 0)
        packetSize = kDefaultPacketSize;
    const std::uint32_t unit = kPacketsPerDatagram * packetSize;
    const std::uint64_t bitRate = m_bitRate.load(std::memory_order_relaxed);
    const auto elapsedMs = static_cast<std::uint64_t>(CeilMs(m_startTimeNs, now + (ahead ? kAheadNs : 0)));
    const std::uint64_t target = elapsedMs * bitRate / 8'000;
    // The schedule counts what it took, refused or not: a refused datagram had its time.
    std::uint64_t bytesSent = m_scheduledBytes;
    const std::uint64_t behind = target > bytesSent ? target - bytesSent : 0;
    std::uint64_t due = behind / unit * unit;

    {
        std::lock_guard status(m_statusLock);
        // Once everything is written, a draining FIFO is the end of the stream, not a starved one.
        if (m_fifo.GetUsed() < due && !endOfStream)
            Raise(m_underflowCounter);
        else
            Lower(m_underflowCounter);
    }

    if (due >= capacity && m_threadRunning.load(std::memory_order_acquire))
    {
        // A whole FIFO behind: pause, then restart the schedule without a catch-up burst.
        lock.unlock();
        if (m_stopEvent.Wait(std::chrono::milliseconds(1'000)))
        {
            m_threadRunning.store(false, std::memory_order_release);
            return;
        }
        m_bytesSent.store(0, std::memory_order_relaxed);
        m_scheduledBytes = 0;
        m_startTimeNs = m_now();
        m_failedBytesAtSchedule = FailedPayloadBytes();
        m_lastDepartureNs = 0;
        return;
    }

    // Smooth pacing: each burst of the cycle waits for the time at which its
    // last datagram has fallen due. Bursts hold the data due in about 100 us.
    // Overdue bursts (a late wake-up) catch up at twice the bit rate, and all
    // of them within the spread, instead of leaving together.
    const bool smooth = m_smoothPacing.load(std::memory_order_relaxed) && bitRate > 0 && !ahead;
    std::uint64_t burst = 1;
    std::int64_t catchUpNs = 0;
    std::int64_t realOffsetNs = 0;
    if (smooth)
    {
        burst = std::max<std::uint64_t>(1, bitRate * kBurstWindowNs / 8'000'000'000 / unit);
        const std::uint64_t datagrams = (due + unit - 1) / unit;
        const auto bursts = static_cast<std::int64_t>((datagrams + burst - 1) / burst);
        catchUpNs = static_cast<std::int64_t>(burst * unit * 8'000'000'000 / bitRate / 2);
        if (bursts > 0)
            catchUpNs = std::min(catchUpNs, kSmoothSpreadNs / bursts);
        if (m_customClock)
            realOffsetNs = CSteadyClock::NowNs() - now;
    }

    if (ahead && m_customClock)
    {
        // Never smaller than in the cycle before: a refill must not go out
        // before the one handed over earlier.
        m_aheadOffsetNs = std::max(m_aheadOffsetNs, CSteadyClock::NowNs() - now);
        realOffsetNs = m_aheadOffsetNs;
    }

    std::array<std::uint8_t, kPacketsPerDatagram * kMaxPacketSize> datagram;
    const bool rtp = m_openRtp;
    const std::uint64_t takenBefore = bytesSent;
    std::uint64_t index = 0;
    std::int64_t release = now;
    if (ahead)
    {
        bytesSent = SendAhead(due, bytesSent, bitRate, unit, endOfStream, now, realOffsetNs);
        due = 0;
    }
    while (due > 0)
    {
        if (!m_threadRunning.load(std::memory_order_acquire) || !OutputHasRoom())
            break;
        if (smooth && index % burst == 0)
        {
            // Catch-up runs at twice the bit rate per datagram: a short last
            // burst of a cycle is not held back by the spacing of a full one.
            const std::uint64_t size = std::min<std::uint64_t>(burst, (due + unit - 1) / unit);
            const std::int64_t earliest =
                index == 0 ? now
                           : release + catchUpNs * static_cast<std::int64_t>(size) / static_cast<std::int64_t>(burst);
            release = std::max(DueTimeNs(bytesSent + size * unit, bitRate), earliest);
            FlushOutput();
            SleepUntil(release, realOffsetNs);
            // A pause or a stop takes effect between two bursts.
            if (m_pauseRequested.load(std::memory_order_acquire) || !m_threadRunning.load(std::memory_order_acquire))
                break;
        }
        const std::uint32_t n = TakeDatagram(datagram.data(), unit, endOfStream);
        if (n == 0)
            break;
        const std::uint32_t timestamp = rtp ? RtpTimestamp(bytesSent, bitRate) : 0;
        if (!SendDatagram(datagram.data(), n, rtp, timestamp))
            break;
        bytesSent += n;
        due = due > n ? due - n : 0;
        ++index;
        if (smooth)
            m_bytesSent.store(SentOnSchedule(bytesSent), std::memory_order_relaxed);
    }
    FlushOutput();
    m_scheduledBytes = bytesSent;
    m_bytesSent.store(SentOnSchedule(bytesSent), std::memory_order_relaxed);
    if (bytesSent != takenBefore)
        m_bytesTaken.fetch_add(bytesSent - takenBefore, std::memory_order_acq_rel);
    if (ahead)
    {
        // What the kernel still holds has not been sent yet.
        const std::uint64_t pendingBytes = m_uring.PendingPayload();
        const std::uint64_t sent = SentOnSchedule(bytesSent);
        m_bytesSent.store(sent > pendingBytes ? sent - pendingBytes : 0, std::memory_order_relaxed);
    }
    if (m_stage)
        m_stage->Poll(endOfStream && m_fifo.GetUsed() == 0);
    if (endOfStream)
        m_drained.store(m_fifo.GetUsed() == 0 &&
                            (m_openOutput ? m_openOutput->IsDelivered() : m_socket.GetQueuedSends() == 0) &&
                            m_uring.InFlight() == 0 && m_uring.Held() == 0 && (!m_stage || m_stage->Idle()),
                        std::memory_order_release);
    // All that was due has left: the next cycle can begin with the next burst.
    // (After a short cycle, underflow or stop it keeps its plain 1 ms rhythm.)
    if (smooth && due == 0 && m_threadRunning.load(std::memory_order_acquire))
        m_nextReleaseNs = DueTimeNs(bytesSent + burst * unit, bitRate) + realOffsetNs;
}

std::uint32_t CNetworkSender::TakeDatagram(std::uint8_t* datagram, std::uint32_t unit, bool endOfStream)
{
    std::uint32_t n = unit;
    const std::uint32_t used = m_fifo.GetUsed();
    if (used < unit)
    {
        // The last partial datagram of the stream leaves once all is written.
        if (!endOfStream || used == 0)
            return 0;
        n = used;
    }
    if (!m_fifo.Read(datagram, n))
        return 0;
    return n;
}

std::int64_t CNetworkSender::Departure(std::uint64_t position, std::uint32_t bytes, std::uint64_t bitRate)
{
    // When its last byte falls due, but overdue datagrams (a stall, a resume)
    // leave at twice the bit rate instead of together.
    const auto catchUpNs = static_cast<std::int64_t>(std::uint64_t{bytes} * 4'000'000'000 / bitRate);
    std::int64_t at = DueTimeNs(position, bitRate);
    if (m_lastDepartureNs != 0)
        at = std::max(at, m_lastDepartureNs + catchUpNs);
    m_lastDepartureNs = at;
    if (m_departureObserver)
        m_departureObserver(at, bytes);
    return at;
}

std::uint64_t CNetworkSender::SendAhead(std::uint64_t due, std::uint64_t position, std::uint64_t bitRate,
                                        std::uint32_t unit, bool endOfStream, std::int64_t now,
                                        std::int64_t realOffsetNs)
{
    const bool uring = m_pacingInUse.load(std::memory_order_relaxed) == PacingMode::Uring;
    // Nothing overdue leaves before now minus one catch-up step.
    const auto stepNs = static_cast<std::int64_t>(std::uint64_t{unit} * 4'000'000'000 / bitRate);
    m_lastDepartureNs = std::max(m_lastDepartureNs, now - stepNs);
    if (uring)
    {
        // Datagrams held by a pause (or a full send queue) go first, in their order.
        m_uring.Resubmit(
            [&](std::uint64_t end, std::uint32_t bytes) { return Departure(end, bytes, bitRate) + realOffsetNs; });
    }
    std::array<std::uint8_t, kPacketsPerDatagram * kMaxPacketSize> datagram;
    const bool rtp = m_openRtp;
    while (due > 0 && m_threadRunning.load(std::memory_order_acquire))
    {
        if (uring ? m_uring.Room() == 0 : !m_socket.HasRoom())
            break;
        const std::uint32_t n = TakeDatagram(datagram.data(), unit, endOfStream);
        if (n == 0)
            break;
        const std::uint32_t timestamp = rtp ? RtpTimestamp(position, bitRate) : 0;
        const std::int64_t at = Departure(position + n, n, bitRate) + realOffsetNs;
        if (uring)
        {
            const std::uint32_t length = m_socket.BuildDatagram(m_uring.NextSlot(), datagram.data(), n, rtp, timestamp);
            m_uring.Queue(length, n, at, position + n);
        }
        else if (!m_socket.Send(datagram.data(), n, rtp, timestamp, at))
        {
            break; // cannot happen: there was room and the socket is open
        }
        position += n;
        due = due > n ? due - n : 0;
    }
    if (uring)
        m_uring.Submit();
    else
        m_socket.Flush();
    return position;
}
