#pragma once
//! @file CUringPacer.h
//! Kernel-timed departures for the play-out: each datagram goes to an
//! io_uring as a chain of two requests, an absolute timeout on the monotonic
//! clock linked to the send of its slot, so the kernel releases the datagrams
//! at their times and the play-out thread only wakes to refill a few
//! milliseconds ahead.
//!
//! Timers sit on the CPU that armed them: the play-out thread stays on one
//! CPU while it paces this way, so that a stall of another CPU cannot let a
//! later refill overtake an earlier one. A slot is reused only after its send
//! has completed. A timeout that expires (-ETIME)
//! counts as success for its chain (IORING_TIMEOUT_ETIME_SUCCESS); a cancelled
//! or failed link (-ECANCELED) cancels the rest of its chain, and those
//! datagrams are held to go again, in order, at their own times (Resubmit). Results are counted in the
//! socket's counters as its own sends are: refused datagrams with their errno.
//!
//! Threads: one thread at a time (the play-out thread while playing; Open and
//! Close while it does not use the ring).

#include "common/CAlignedBuffer.h"

#include <linux/time_types.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class CUdpIOCPSocket;
struct io_uring;
struct io_uring_cqe;

class CUringPacer
{
public:
    static constexpr std::uint32_t kSlots = 1'024;            // datagrams in flight at most
    static constexpr std::uint32_t kRingEntries = 2 * kSlots; // a timeout and a send each
    static constexpr std::uint32_t kMaxRefusedRetries = 16;   // ECONNREFUSED: one ICMP error used up per try
    static constexpr std::int64_t kDrainTimeoutNs = 1'000'000'000;

    //! Sets up @p ring with @p entries; 0 or -errno (tests inject a refusal).
    using SetupFn = std::function<int(unsigned entries, io_uring& ring)>;
    //! The departure time (CLOCK_MONOTONIC) of the datagram of @p payload stream bytes ending at @p position.
    using DepartureFn = std::function<std::int64_t(std::uint64_t position, std::uint32_t payload)>;

    CUringPacer();
    ~CUringPacer();
    CUringPacer(const CUringPacer&) = delete;
    CUringPacer& operator=(const CUringPacer&) = delete;

    void SetSetup(SetupFn setup) { m_setup = std::move(setup); }
    //! Sets up the ring for the connected socket @p socketFd and checks that the
    //! kernel links timed sends. @return false when it cannot (io_uring
    //! disabled by kernel.io_uring_disabled, refused by seccomp, too old);
    //! GetError() says why.
    bool Open(int socketFd);
    const std::string& GetError() const { return m_error; }
    bool IsOpen() const { return m_open; }
    //! Cancels what is in flight, waits for it and frees the ring; held datagrams are dropped.
    void Close(CUdpIOCPSocket& socket);

    //! Free slots.
    std::uint32_t Room() const { return static_cast<std::uint32_t>(m_free.size()); }
    //! A free slot's buffer (kDataAreaBytes) for the next Queue; null when none is free.
    std::uint8_t* NextSlot();
    //! Queues the datagram written to NextSlot(): @p length bytes on the wire,
    //! @p payload of them stream bytes, leaving at @p departureNs (CLOCK_MONOTONIC),
    //! ending at @p position of the schedule.
    void Queue(std::uint32_t length, std::uint32_t payload, std::int64_t departureNs, std::uint64_t position);
    //! Keeps the calling thread on the CPU it runs on (true), or lets it run
    //! anywhere again (false). @return false when the system refuses.
    static bool PinToCurrentCpu(bool pin);
    //! Hands the queued requests to the kernel. @return false on a failed submit
    //! (the datagrams are held for the next one).
    bool Submit();
    //! Takes the completions there are, without waiting.
    void Reap(CUdpIOCPSocket& socket);
    //! Cancels every request in flight and waits for their completions (up to
    //! 1 s); datagrams that had not left are held. @return false on a time-out.
    bool CancelAll(CUdpIOCPSocket& socket);
    //! Submits what is queued and waits in the ring until @p deadlineNs
    //! (CLOCK_MONOTONIC): the timed sends that fall due meanwhile run in the
    //! kernel without a return to user space. Completions wait for Reap.
    void WaitUntil(std::int64_t deadlineNs);
    //! Queues the held datagrams again, in stream order, at @p departure of their positions.
    void Resubmit(const DepartureFn& departure);

    //! Requests in flight (datagrams whose send has not completed).
    std::uint32_t InFlight() const { return m_inFlight; }
    //! Datagrams waiting to go again (cancelled, or the send queue was full).
    std::uint32_t Held() const { return static_cast<std::uint32_t>(m_held.size()); }
    //! Stream bytes of the datagrams in flight or held: handed over, not yet sent.
    std::uint64_t PendingPayload() const { return m_pendingPayload; }

private:
    struct Slot
    {
        std::uint32_t length = 0;
        std::uint32_t payload = 0;
        std::uint64_t position = 0;
        __kernel_timespec departure{};
        std::uint32_t retries = 0;
    };
    void Prepare(std::uint32_t slot, std::int64_t departureNs);
    void Complete(const io_uring_cqe& cqe, CUdpIOCPSocket& socket);
    bool CheckLinkedTimeouts();

    std::unique_ptr<io_uring> m_ring; // liburing stays out of this header
    bool m_open = false;
    int m_fd = -1;
    std::string m_error;
    SetupFn m_setup;
    CAlignedBuffer m_buffer;
    std::vector<Slot> m_slots;
    std::vector<std::uint32_t> m_free;
    std::vector<std::uint32_t> m_held;
    std::uint32_t m_inFlight = 0;
    std::uint32_t m_unsubmitted = 0;
    std::uint64_t m_pendingPayload = 0;
};
