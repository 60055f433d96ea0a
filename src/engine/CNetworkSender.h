#pragma once
//! @file CNetworkSender.h
//! The paced sender: transport-stream bytes written by one producer leave as
//! UDP (optionally RTP) datagrams of seven packets at the configured bit rate.
//!
//! The producer (the file reader thread) writes whole packets into a 30 MiB
//! FIFO (one second of stream at high rates) with WriteData(). A play-out
//! thread wakes every millisecond, works out from the steady clock how many
//! bytes are due since the schedule began, and
//! sends that many whole datagram units. With smooth pacing (the default) each
//! datagram of the cycle leaves at its own time on the schedule, in bursts no
//! longer than the data due in about 100 us (or one datagram), and a cycle
//! begins when its first burst falls due (at most 3 ms after the previous one);
//! otherwise the whole cycle leaves back to back in one batch, once per
//! millisecond. Datagrams overdue after a stall are spread over the cycle.
//! The accounting of a cycle (schedule, counters, flags, stall restart, end of
//! stream) is the same in both modes. Nothing is sent until the
//! FIFO has first held more than half its capacity (prefill), unless the
//! producer has said that everything is written (SetEndOfStream), so that
//! streams shorter than the prefill still play out completely.
//!
//! Smooth pacing has three engines (PacingMode): the play-out thread waking
//! for each burst (thread); an io_uring to which the thread hands, every
//! 3 ms, the datagrams of the next 6 ms, each as an absolute timeout linked to
//! its send, so the kernel times them (uring); or departure times on the
//! datagrams themselves (SO_TXTIME), which the interface's fq or etf qdisc
//! honours (txtime). Open picks the engine: auto takes departure times where
//! the qdisc offers them, else the thread; a refused engine falls back to the
//! next (txtime, uring, thread) with a note that says why.
//! In the kernel-timed engines a datagram leaves at the time its last byte
//! falls due, and overdue ones (after a stall) at twice the bit rate at most.
//! A pause or a stop cancels the io_uring requests in flight, and what a
//! pause catches goes after the resume. A jump lets the datagrams
//! already taken leave as the socket's queue would. Departure times given to
//! a qdisc cannot be taken back either: in both kernel-timed engines a pause
//! or a jump is seen on the wire up to 6 ms later.
//!
//! With SMPTE 2022-1 FEC, impairment or more destinations on (SetOutputStage),
//! each datagram goes through the output stage (CSendPaths) instead of straight
//! to the socket, in the same paced loop, and the thread paces.
//!
//! Pause() holds the schedule: nothing leaves, nothing is lost, and on resume
//! the schedule goes on where it stopped without a catch-up burst.
//!
//! Datagrams the kernel refuses (a firewall rule, a blackhole route) are
//! counted with the system's reason and never count as sent.
//!
//! Three saturating counters (0..10) tell whether the network keeps up (busy),
//! whether the FIFO keeps up (underflow) and whether the thread keeps its 1 ms
//! cadence (timer); GetStatusFlags() turns them into flags.
//!
//! Threads: the window thread sets parameters, opens and stops; the producer
//! calls WriteData and SetEndOfStream; the play-out thread does the rest.
//! Bit rate and packet size change under the parameter lock, which the
//! play-out thread holds for a whole cycle: a change takes effect at the next cycle.

#include "common/CEvent.h"
#include "common/CNetAddress.h"
#include "common/CSteadyClock.h"
#include "common/CThread.h"
#include "common/CTimedMutex.h"
#include "common/CTimerSlack.h"
#include "engine/CFifo.h"
#include "engine/CSendPaths.h"
#include "engine/CTxTimeProbe.h"
#include "engine/CUdpIOCPSocket.h"
#include "engine/CUringPacer.h"
#include "engine/IDatagramOutput.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

class CNetworkSender
{
public:
    static constexpr std::uint32_t kFifoCapacityBytes = CFifo::kCapacityBytes;
    static constexpr std::uint32_t kPrefillBytes = kFifoCapacityBytes / 2; // 15,728,640
    // Above 240 Mbit/s the FIFO holds one second of stream, up to this size.
    static constexpr std::uint32_t kMaxFifoCapacityBytes = 512u * 1'048'576;
    static constexpr std::uint32_t kPacketsPerDatagram = 7;
    static constexpr std::uint32_t kMaxPacketSize = 204;
    static constexpr std::uint32_t kDefaultPacketSize = 188;
    static constexpr std::int32_t kCounterMax = 10;
    static constexpr int kTimerGapMs = 5; // a cycle later than this counts against the timer
    static constexpr auto kCycle = std::chrono::milliseconds(1);
    static constexpr auto kLockTimeout = std::chrono::milliseconds(1'000);
    static constexpr auto kStopTimeout = std::chrono::milliseconds(2'000);
    // Smooth pacing: the longest back-to-back burst is the data due in this time
    // (at least one datagram); a cycle late by more than this spreads its
    // overdue datagrams over at most kSmoothSpreadNs.
    static constexpr std::int64_t kBurstWindowNs = 100'000;
    static constexpr std::int64_t kSmoothSpreadNs = 900'000;
    // Shortest wait between two smooth cycles, so that SetRate can take the lock.
    static constexpr std::int64_t kMinCycleWaitNs = 20'000;
    // A smooth cycle may wait this long for its first burst, so that a
    // 4 Mbit/s stream (a datagram every 2.6 ms) wakes once per datagram; the
    // timer counter only counts gaps above 5 ms.
    static constexpr std::int64_t kMaxCycleStretchNs = 3'000'000;
    // Cycles between two looks at the kernel's send queue while it is empty.
    static constexpr std::int32_t kPendingProbeCycles = 50;
    // Kernel-timed engines: the thread wakes every kAheadCycleNs and hands over
    // the datagrams due in the next kAheadNs.
    static constexpr std::int64_t kAheadNs = 6'000'000;
    static constexpr std::int64_t kAheadCycleNs = 3'000'000;

    //! How smooth pacing times the datagrams (see the file comment).
    enum class PacingMode : std::uint8_t
    {
        Auto,   //!< txtime where the qdisc honours it, else thread (which keeps bursts below uring's)
        Uring,  //!< io_uring linked timeouts
        TxTime, //!< SO_TXTIME departure times for fq or etf
        Thread, //!< the play-out thread wakes for each burst
        Burst,  //!< no smooth pacing: each 1 ms cycle back to back
    };
    //! "auto", "uring", "txtime", "thread", "burst".
    static const char* PacingName(PacingMode mode);
    //! The mode of a name PacingName gives. @return false for any other text.
    static bool ParsePacing(std::string_view text, PacingMode& mode);
    //! io_uring pays a timer and a wake-up per datagram: it paces rates whose
    //! bursts are single datagrams (below about 210 Mbit/s); the thread paces faster ones.
    static bool UringFits(std::uint32_t bitRate, std::uint32_t packetSize);

    enum StatusFlag : std::uint32_t
    {
        kStatusBusy = 1u << 0,
        kStatusUnderflow = 1u << 1,
        kStatusTimer = 1u << 2,
    };

    CNetworkSender();
    ~CNetworkSender();
    CNetworkSender(const CNetworkSender&) = delete;
    CNetworkSender& operator=(const CNetworkSender&) = delete;

    //! The lock that guards bit rate and packet size; waits on it time out after 1,000 ms.
    CTimedMutex& ParameterLock() { return m_parameterLock; }
    //! Sets bit rate (bit/s) and packet size (188 or 204; 0 plays as 188) under the
    //! parameter lock. @return false when the lock could not be had in 1,000 ms.
    bool SetRate(std::uint32_t bitRate, std::uint32_t packetSize);
    std::uint32_t GetBitRate() const { return m_bitRate.load(std::memory_order_relaxed); }
    std::uint32_t GetPacketSize() const { return m_packetSize.load(std::memory_order_relaxed); }

    //! Destination (IPv4 or IPv6, with its port); taken by the next Open, so a
    //! schedule still draining keeps its own. Owner's thread.
    void SetDestination(const CNetAddress& destination, bool rtp);
    //! IPv4 destination in host order (first dotted number most significant).
    void SetDestination(std::uint32_t address, std::uint16_t port, bool rtp)
    {
        SetDestination(CNetAddress::FromIpv4(address, port), rtp);
    }
    //! The IPv4 destination in host order; 0 for an IPv6 one.
    std::uint32_t GetDestinationAddress() const { return m_address.load(std::memory_order_relaxed); }
    std::uint16_t GetDestinationPort() const { return m_port.load(std::memory_order_relaxed); }
    //! The destination as set (owner's thread).
    const CNetAddress& GetDestination() const { return m_destination; }
    bool GetRtp() const { return m_rtp.load(std::memory_order_relaxed); }
    //! SMPTE 2022-1 FEC, impairment and more destinations (CSendPaths), taken
    //! by the next Open; call while idle. With any of them on, kernel-timed
    //! pacing gives way to the thread (with a pacing note).
    void SetOutputStage(const CSendPaths::Settings& stage) { m_stageSettings = stage; }
    const CSendPaths::Settings& GetOutputStage() const { return m_stageSettings; }
    //! What the output stage did since Open (zeros without it); any thread.
    CSendPaths::Counters GetOutputCounters() const { return m_stage ? m_stage->GetCounters() : CSendPaths::Counters{}; }
    //! Another way out than UDP (SRT), taken by the next Open; null: the UDP
    //! socket. Not owned: it lives from Open until Stop and while its counters
    //! are read. Datagrams then leave through it, paced by the play-out thread
    //! (no kernel-timed engine, no RTP), and while it has no peer the schedule
    //! holds as in a pause. Call while idle.
    void SetOutput(IDatagramOutput* output) { m_output = output; }
    IDatagramOutput* GetOutput() const { return m_output; }
    //! Multicast hop limit and outgoing interface (host order, 0 = the system's
    //! route), used when the destination is multicast; set before Open.
    void SetMulticast(int ttl, std::uint32_t interfaceAddress) { m_socket.SetMulticast(ttl, interfaceAddress); }
    //! Outgoing interface of an IPv6 group by index (0: by the IPv4 interface
    //! address, else the route's); set before Open.
    void SetMulticastInterfaceIndex(unsigned index) { m_socket.SetMulticastInterfaceIndex(index); }

    //! Sleeps until a time of the schedule's clock (nanoseconds, as the clock gives them).
    using SleepUntilFn = std::function<void(std::int64_t deadlineNs)>;

    //! Replaces the clock of the schedule (tests drive time with it); call while idle.
    void SetClock(CSteadyClock::NowFn now)
    {
        m_now = std::move(now);
        m_customClock = true;
    }
    //! Replaces the sleep between the bursts of a smooth cycle (tests record the
    //! release times with it); call while idle. The default sleeps on the steady
    //! clock, shifted by the difference between it and an injected clock.
    void SetSleep(SleepUntilFn sleepUntil) { m_sleepUntil = std::move(sleepUntil); }

    //! Smooth pacing (default on): the datagrams due in a cycle are spread over
    //! the cycle at the bit rate. Off: they leave back to back once per cycle,
    //! as small switch buffers may not like. Takes effect at the next cycle.
    void SetSmoothPacing(bool smooth) { m_smoothPacing.store(smooth, std::memory_order_relaxed); }
    bool GetSmoothPacing() const { return m_smoothPacing.load(std::memory_order_relaxed); }
    //! Chooses the pacing: Burst switches smooth pacing off, any other mode
    //! on; the engine is picked by the next Open. Call while idle.
    void SetPacing(PacingMode mode)
    {
        m_pacingRequested = mode;
        SetSmoothPacing(mode != PacingMode::Burst);
    }
    PacingMode GetPacing() const { return m_pacingRequested; }
    //! The pacing of the open schedule (Uring, TxTime, Thread or Burst).
    PacingMode GetPacingInUse() const
    {
        if (!GetSmoothPacing())
            return PacingMode::Burst;
        const PacingMode mode = m_pacingInUse.load(std::memory_order_relaxed);
        return mode == PacingMode::Uring && !KernelTimed() ? PacingMode::Thread : mode;
    }
    //! Why Open did not take the engine asked for (or a cheaper one with auto);
    //! empty when it did. Owner's thread, after Open.
    const std::string& GetPacingNote() const { return m_pacingNote; }
    //! Replaces the look at the interface's qdisc (tests inject a capability); call while idle.
    void SetTxTimeProbe(std::function<CTxTimeProbe::Result(int socketFd)> probe) { m_txtimeProbe = std::move(probe); }
    //! Replaces the io_uring set-up (tests inject a refusal); call while idle.
    void SetUringSetup(CUringPacer::SetupFn setup) { m_uring.SetSetup(std::move(setup)); }
    //! Called with each datagram's departure time (on the schedule's clock) and
    //! length as a kernel-timed engine hands it over (tests); call while idle.
    using DepartureFn = std::function<void(std::int64_t departureNs, std::uint32_t bytes)>;
    void SetDepartureObserver(DepartureFn observer) { m_departureObserver = std::move(observer); }

    //! Pauses (true) or resumes (false) sending. While paused nothing leaves and
    //! the FIFO keeps its bytes; on resume the schedule continues where it
    //! stopped, shifted by the pause, without a catch-up burst. Open resumes.
    void Pause(bool paused) { m_pauseRequested.store(paused, std::memory_order_release); }
    bool IsPaused() const { return m_pauseRequested.load(std::memory_order_acquire); }

    //! Starts a send schedule: allocates the FIFO, opens the socket for the
    //! destination, starts the play-out thread if none runs. Whatever a running
    //! schedule still held is dropped: wait for IsDrained first to keep it.
    //! @return false when the FIFO memory cannot be had or the socket cannot be
    //! opened for the destination (then nothing can be sent; call Stop);
    //! GetOpenError() says why.
    bool Open();
    //! Why the last Open failed, in the system's words (empty after a good one);
    //! "no route to ADDR" when the destination has no route.
    const std::string& GetOpenError() const { return m_openError; }
    //! Ends the schedule: stops the thread (up to 2 s), closes the socket, frees the FIFO.
    //! @return true.
    bool Stop();

    //! Appends stream bytes. The caller owns at least packet size - 1 writable
    //! bytes in front of @p data: the partial packet held over from the previous
    //! write is put there. Only whole packets reach the FIFO, whatever the
    //! lengths of the writes: data that continues the held-over bytes (sync
    //! bytes where the next packets begin) completes them, other data makes the
    //! sender resynchronise on its first packet start and drop them.
    //! @return false when there is no room now (nothing changed; retry in 1 ms).
    bool WriteData(std::uint8_t* data, std::uint32_t length);
    //! Drops the held-over partial packet: the next write begins a new stretch
    //! (a loop back to the range start). Producer only.
    void DiscardCarry() { m_carryCount = 0; }
    //! Empties the FIFO and drops the held-over bytes (a jump); the bytes dropped
    //! count as done (GetBytesTaken). Producer only. @return the bytes dropped.
    std::uint32_t DropQueued();
    //! The producer says that everything is written (true) or that more follows
    //! (false). While set, the prefill no longer holds sending back, the last
    //! partial datagram is sent, and a draining FIFO is no underflow. Open clears it.
    void SetEndOfStream(bool allWritten) { m_endOfStream.store(allWritten, std::memory_order_release); }
    bool IsEndOfStream() const { return m_endOfStream.load(std::memory_order_acquire); }

    //! Bit 0 busy, bit 1 underflow, bit 2 timer: each when its counter reached 10.
    std::uint32_t GetStatusFlags();
    //! FIFO size for a bit rate: 30 MiB, or one second of stream when that is
    //! more (at most 512 MiB). Prefill and stall rule scale with it.
    static std::uint32_t FifoCapacityFor(std::uint32_t bitRate);
    //! FIFO size of the current play (set by Open).
    std::uint32_t GetFifoCapacity() const { return m_fifoCapacity.load(std::memory_order_relaxed); }
    //! Bytes waiting in the FIFO.
    std::uint64_t GetFifoLevel() { return m_fifo.GetUsed(); }
    //! The FIFO, for the file play engine's Reset on a jump.
    CFifo& Fifo() { return m_fifo; }

    //! Payload bytes sent since the schedule began (restarts with the schedule);
    //! bytes the kernel refused are not counted.
    std::uint64_t GetBytesSent() const { return m_bytesSent.load(std::memory_order_relaxed); }
    //! Bytes WriteData put into the FIFO since Open (whole packets only).
    std::uint64_t GetBytesWritten() const { return m_bytesWritten.load(std::memory_order_acquire); }
    //! Bytes of those that are done since Open: handed to the socket, or dropped
    //! by DropQueued. The stream position up to which everything has left or
    //! been refused (see GetBytesNotSent).
    std::uint64_t GetBytesTaken() const { return m_bytesTaken.load(std::memory_order_acquire); }
    //! Payload bytes of the datagrams the kernel refused since Open.
    std::uint64_t GetBytesNotSent() const
    {
        return FailedPayloadBytes() - m_failedBytesAtOpen.load(std::memory_order_relaxed);
    }
    //! True once everything written before SetEndOfStream(true) has left (or
    //! was refused): the FIFO and the socket's queue are empty. Open clears it.
    bool IsDrained() const { return m_drained.load(std::memory_order_acquire); }
    //! True once the first cycle after the prefill has run.
    bool IsPrefilled() const { return m_prefilled.load(std::memory_order_relaxed); }
    bool IsRunning() const { return m_threadRunning.load(std::memory_order_acquire); }
    //! Segmentation offload of the socket (on by default); call while idle.
    void SetSegmentationOffload(bool on) { m_socket.SetSegmentationOffload(on); }
    //! Datagrams the kernel refused since Open (a firewall rule, a blackhole
    //! route): they never left and are not counted as sent.
    std::uint64_t GetDatagramsNotSent() const
    {
        return FailedDatagrams() - m_failedAtOpen.load(std::memory_order_relaxed) +
               (m_stage ? m_stage->GetDatagramsFailed() : 0);
    }
    //! errno of the last refused send since Open; 0 when none was refused.
    int GetLastSendError() const
    {
        if (GetDatagramsNotSent() == 0)
            return 0;
        if (m_openOutput)
            return m_openOutput->GetLastError();
        const bool socketFailed = m_socket.GetDatagramsFailed() > m_failedAtOpen.load(std::memory_order_relaxed);
        return socketFailed || !m_stage ? m_socket.GetLastError() : m_stage->GetLastError();
    }
    //! The 90 kHz RTP timestamp of the byte at @p position of a stream played at
    //! @p bitRate (position x 720,000 / bit rate, exact and without overflow for
    //! any 64-bit position), wrapping at 32 bits.
    static std::uint32_t RtpTimestamp(std::uint64_t position, std::uint64_t bitRate);
    //! The system's words for socket error @p error towards @p destination, but
    //! "no route to ADDR" when there is no route (ENETUNREACH, EHOSTUNREACH),
    //! so that the user sees which address lacks one.
    static std::string ErrorText(int error, const CNetAddress& destination);
    //! The socket, for its RTP identity and counters.
    const CUdpIOCPSocket& Socket() const { return m_socket; }

private:
    // The way out of the open schedule: the output, else the UDP socket.
    std::uint64_t FailedDatagrams() const
    {
        return m_openOutput ? m_openOutput->GetDatagramsFailed() : m_socket.GetDatagramsFailed();
    }
    std::uint64_t FailedPayloadBytes() const
    {
        return m_openOutput ? m_openOutput->GetPayloadBytesFailed() : m_socket.GetPayloadBytesFailed();
    }
    bool OutputHasRoom() const { return m_openOutput ? m_openOutput->HasRoom() : m_socket.HasRoom(); }
    //! One media datagram to the transport, through the output stage when it is on, else to the socket.
    bool SendDatagram(const std::uint8_t* data, std::uint32_t length, bool rtp, std::uint32_t timestamp)
    {
        return m_openOutput ? m_openOutput->Send(data, length)
               : m_stage    ? m_stage->Send(data, length, rtp, timestamp)
                            : m_socket.Send(data, length, rtp, timestamp);
    }
    void FlushOutput()
    {
        if (m_openOutput)
            m_openOutput->Flush();
        else
            m_socket.Flush();
    }
    void PlayoutThread();
    void RunCycle(std::uint32_t datagramsPerMs);
    //! Picks the engine of smooth pacing for the newly opened socket (Open).
    void ChoosePacing();
    //! Opens the output stage on the new socket and paces it by thread (Open).
    void OpenStage();
    //! True when the kernel times the datagrams of the open schedule.
    bool KernelTimed() const
    {
        const PacingMode mode = m_pacingInUse.load(std::memory_order_relaxed);
        return GetSmoothPacing() &&
               (mode == PacingMode::TxTime || (mode == PacingMode::Uring && UringFits(GetBitRate(), GetPacketSize())));
    }

    //! Hands the datagrams of @p due bytes from @p position on to the kernel
    //! with their departure times. @return the position after them.
    std::uint64_t SendAhead(std::uint64_t due, std::uint64_t position, std::uint64_t bitRate, std::uint32_t unit,
                            bool endOfStream, std::int64_t now, std::int64_t realOffsetNs);
    //! Reads the next datagram of @p unit bytes (or the stream's last, shorter
    //! one) from the FIFO into @p datagram. @return its length, 0 when none is ready.
    std::uint32_t TakeDatagram(std::uint8_t* datagram, std::uint32_t unit, bool endOfStream);
    //! Departure time on the schedule's clock of the datagram of @p bytes ending at @p position.
    std::int64_t Departure(std::uint64_t position, std::uint32_t bytes, std::uint64_t bitRate);
    //! False when the cycle is to be skipped because of a pause.
    bool HandlePause();
    //! Schedule time at which the byte @p position has fallen due.
    std::int64_t DueTimeNs(std::uint64_t position, std::uint64_t bitRate) const;
    //! Waits until @p deadlineNs of the schedule's clock.
    void SleepUntil(std::int64_t deadlineNs, std::int64_t realOffsetNs);
    //! Sleeps until @p deadlineNs of the steady clock (one absolute timer, no lock).
    static void SleepUntilSteady(std::int64_t deadlineNs);
    //! First offset where a packet starts, confirmed by the sync bytes of the
    //! next two packets as far as @p data reaches; @p length when there is none.
    static std::uint32_t FindSyncOffset(const std::uint8_t* data, std::uint32_t length, std::uint32_t packetSize);
    //! True when @p data has sync bytes at @p offset and one and two packets on, as far as it reaches.
    static bool SyncsAt(const std::uint8_t* data, std::uint32_t length, std::uint32_t offset, std::uint32_t packetSize);
    //! Payload bytes sent since the schedule began: taken minus refused.
    std::uint64_t SentOnSchedule(std::uint64_t scheduled) const;
    static void Raise(std::int32_t& counter) { counter = counter < kCounterMax ? counter + 1 : kCounterMax; }
    static void Lower(std::int32_t& counter) { counter = counter > 0 ? counter - 1 : 0; }

    CTimedMutex m_parameterLock;
    std::atomic<std::uint32_t> m_bitRate{0};
    std::atomic<std::uint32_t> m_packetSize{0};
    std::atomic<std::uint32_t> m_address{0};
    std::atomic<std::uint16_t> m_port{0};
    CNetAddress m_destination; // owner's thread (SetDestination, Open)
    std::atomic<bool> m_rtp{false};
    bool m_openRtp = false; // the RTP flag of the open schedule; under the parameter lock
    std::string m_openError;
    CUdpIOCPSocket m_socket;
    CSendPaths::Settings m_stageSettings;
    std::unique_ptr<CSendPaths> m_stage;     // null: the plain path; replaced by Open under the parameter lock
    IDatagramOutput* m_output = nullptr;     // as set; taken by Open
    IDatagramOutput* m_openOutput = nullptr; // of the open schedule; changed under the parameter lock
    bool m_outputOpen = false;               // owner's thread: m_openOutput is open (Stop closes it once)
    CSteadyClock::NowFn m_now = CSteadyClock::Default();
    bool m_customClock = false;
    SleepUntilFn m_sleepUntil;
    std::atomic<bool> m_smoothPacing{true};
    PacingMode m_pacingRequested = PacingMode::Auto;
    std::atomic<PacingMode> m_pacingInUse{PacingMode::Thread};
    std::string m_pacingNote;
    std::function<CTxTimeProbe::Result(int socketFd)> m_txtimeProbe;
    DepartureFn m_departureObserver;
    CUringPacer m_uring;
    std::mutex m_ringLock; // the play-out thread waits in the ring under it; Open and Stop replace the ring under it
    std::int64_t m_lastDepartureNs = 0; // schedule clock; 0 = none; play-out thread only
    std::int64_t m_aheadOffsetNs = 0;   // steady minus an injected clock, kernel-timed engines; play-out thread only
    bool m_pinned = false;              // the play-out thread is kept on one CPU; play-out thread only
    std::atomic<bool> m_pauseRequested{false};
    std::int64_t m_nextReleaseNs = 0; // steady clock; 0 = unknown; play-out thread only
    std::int32_t m_lastPending = 0;   // play-out thread only
    std::int32_t m_pendingProbe = 0;  // play-out thread only
    bool m_inPause = false;           // play-out thread only
    std::int64_t m_pauseStartNs = 0;  // play-out thread only
    std::int64_t m_startTimeNs = 0;   // 0: the schedule has not begun
    std::int64_t m_lastCycleNs = 0;   // 0: no cycle yet
    CFifo m_fifo;
    std::atomic<std::uint32_t> m_fifoCapacity{kFifoCapacityBytes};
    std::atomic<bool> m_prefilled{false};
    std::atomic<bool> m_endOfStream{false};
    CThread m_thread;
    CEvent m_stopEvent;
    std::mutex m_statusLock;
    std::int32_t m_busyCounter = 0;
    std::int32_t m_underflowCounter = 0;
    std::int32_t m_timerCounter = 0;
    std::atomic<std::uint64_t> m_bytesSent{0};
    std::uint64_t m_scheduledBytes = 0;        // taken on the schedule since it began; play-out thread only
    std::uint64_t m_failedBytesAtSchedule = 0; // the socket's refused bytes when the schedule began
    std::atomic<std::uint64_t> m_bytesWritten{0};
    std::atomic<std::uint64_t> m_bytesTaken{0};
    std::atomic<std::uint64_t> m_failedAtOpen{0};
    std::atomic<std::uint64_t> m_failedBytesAtOpen{0};
    std::atomic<bool> m_drained{false};
    std::atomic<bool> m_threadRunning{false};
    // The partial packet held over between two WriteData calls; the producer's alone.
    std::array<std::uint8_t, kMaxPacketSize> m_carry{};
    std::uint32_t m_carryCount = 0;
};
