#include "engine/CUringPacer.h"

#include "common/CSteadyClock.h"
#include "engine/CUdpIOCPSocket.h"

#include <liburing.h>
#include <sched.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>

namespace
{
// user_data of requests that are no send: a send's is its slot number.
constexpr std::uint64_t kTimeoutTag = ~std::uint64_t{0};
constexpr std::uint64_t kCancelTag = kTimeoutTag - 1;
constexpr std::uint64_t kProbeTag = kTimeoutTag - 2;

__kernel_timespec ToTimespec(std::int64_t ns)
{
    __kernel_timespec ts{};
    ts.tv_sec = ns / 1'000'000'000;
    ts.tv_nsec = ns % 1'000'000'000;
    return ts;
}
} // namespace

CUringPacer::CUringPacer()
    : m_ring(std::make_unique<io_uring>()),
      m_setup([](unsigned entries, io_uring& ring) { return io_uring_queue_init(entries, &ring, 0); })
{
}

CUringPacer::~CUringPacer()
{
    if (m_open)
        io_uring_queue_exit(m_ring.get());
}

bool CUringPacer::Open(int socketFd)
{
    m_error.clear();
    if (m_buffer.Empty() && !m_buffer.Allocate(std::size_t{kSlots} * CUdpIOCPSocket::kDataAreaBytes))
    {
        m_error = std::strerror(ENOMEM);
        return false;
    }
    const int result = m_setup(kRingEntries, *m_ring);
    if (result < 0)
    {
        m_error = std::strerror(-result);
        if (result == -EPERM || result == -ENOSYS)
            m_error += " (kernel.io_uring_disabled, or a seccomp profile)";
        return false;
    }
    m_open = true;
    m_fd = socketFd;
    m_slots.assign(kSlots, Slot{});
    m_free.clear();
    for (std::uint32_t i = kSlots; i > 0; --i)
        m_free.push_back(i - 1);
    m_held.clear();
    m_inFlight = 0;
    m_unsubmitted = 0;
    m_pendingPayload = 0;
    if (!CheckLinkedTimeouts())
    {
        io_uring_queue_exit(m_ring.get());
        m_open = false;
        return false;
    }
    return true;
}

bool CUringPacer::CheckLinkedTimeouts()
{
    // A kernel without IORING_TIMEOUT_ETIME_SUCCESS ends every chain at its
    // timeout: nothing would ever be sent. An expired timeout linked to a no-op tells.
    io_uring_sqe* timeout = io_uring_get_sqe(m_ring.get());
    io_uring_sqe* nop = io_uring_get_sqe(m_ring.get());
    if (timeout == nullptr || nop == nullptr)
    {
        m_error = std::strerror(EBUSY);
        return false;
    }
    static __kernel_timespec zero{};
    io_uring_prep_timeout(timeout, &zero, 0, IORING_TIMEOUT_ETIME_SUCCESS);
    timeout->flags |= IOSQE_IO_LINK;
    io_uring_sqe_set_data64(timeout, kTimeoutTag);
    io_uring_prep_nop(nop);
    io_uring_sqe_set_data64(nop, kProbeTag);
    int submitted = io_uring_submit(m_ring.get());
    if (submitted < 0)
    {
        m_error = std::strerror(-submitted);
        return false;
    }
    for (int seen = 0; seen < 2;)
    {
        io_uring_cqe* cqe = nullptr;
        __kernel_timespec wait = ToTimespec(kDrainTimeoutNs);
        if (io_uring_wait_cqe_timeout(m_ring.get(), &cqe, &wait) != 0)
        {
            m_error = "no completion of a timed test request";
            return false;
        }
        const bool probe = cqe->user_data == kProbeTag;
        const int res = cqe->res;
        io_uring_cqe_seen(m_ring.get(), cqe);
        ++seen;
        if (probe)
        {
            if (res == -ECANCELED)
            {
                m_error = "the kernel's io_uring ends linked requests at an expired timeout";
                return false;
            }
            return true;
        }
    }
    return true;
}

void CUringPacer::Close(CUdpIOCPSocket& socket)
{
    if (!m_open)
        return;
    // The slots must outlive every request that points at them.
    CancelAll(socket);
    io_uring_queue_exit(m_ring.get());
    m_open = false;
    m_held.clear();
    m_inFlight = 0;
    m_pendingPayload = 0;
}

std::uint8_t* CUringPacer::NextSlot()
{
    if (m_free.empty())
        return nullptr;
    return m_buffer.Data() + std::size_t{m_free.back()} * CUdpIOCPSocket::kDataAreaBytes;
}

void CUringPacer::Prepare(std::uint32_t slot, std::int64_t departureNs)
{
    Slot& s = m_slots[slot];
    s.departure = ToTimespec(std::max<std::int64_t>(departureNs, 0));
    // There is room: at most two entries per slot are ever unsubmitted.
    io_uring_sqe* timeout = io_uring_get_sqe(m_ring.get());
    io_uring_sqe* send = io_uring_get_sqe(m_ring.get());
    io_uring_prep_timeout(timeout, &s.departure, 0, IORING_TIMEOUT_ABS | IORING_TIMEOUT_ETIME_SUCCESS);
    // No IOSQE_CQE_SKIP_SUCCESS on the timeout: a cancelled chain would then
    // post no completion for its send either, and the slot would never be free.
    // Each datagram is its own chain: timers armed together expire in order
    // and their sends follow in that order even when the thread runs them
    // late. (One chain per refill arms each timer only after the send before
    // it, so a late thread interleaves two refills; ordering the refills with
    // IOSQE_IO_DRAIN sends every request through io-wq at 3 to 5 times the CPU.)
    timeout->flags |= IOSQE_IO_LINK;
    io_uring_sqe_set_data64(timeout, kTimeoutTag);
    io_uring_prep_send(send, m_fd, m_buffer.Data() + std::size_t{slot} * CUdpIOCPSocket::kDataAreaBytes, s.length, 0);
    io_uring_sqe_set_data64(send, slot);
    ++m_inFlight;
    ++m_unsubmitted;
}

void CUringPacer::Queue(std::uint32_t length, std::uint32_t payload, std::int64_t departureNs, std::uint64_t position)
{
    const std::uint32_t slot = m_free.back();
    m_free.pop_back();
    Slot& s = m_slots[slot];
    s.length = length;
    s.payload = payload;
    s.position = position;
    s.retries = 0;
    m_pendingPayload += payload;
    Prepare(slot, departureNs);
}

bool CUringPacer::PinToCurrentCpu(bool pin)
{
    cpu_set_t set;
    CPU_ZERO(&set);
    if (pin)
    {
        const int cpu = sched_getcpu();
        if (cpu < 0)
            return false;
        CPU_SET(cpu, &set);
    }
    else
    {
        for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu)
            CPU_SET(cpu, &set);
    }
    return sched_setaffinity(0, sizeof set, &set) == 0;
}

bool CUringPacer::Submit()
{
    if (m_unsubmitted == 0)
        return true;
    const int n = io_uring_submit(m_ring.get());
    if (n < 0)
        return false; // the entries stay in the ring for the next submit
    m_unsubmitted = 0;
    return true;
}

void CUringPacer::Complete(const io_uring_cqe& cqe, CUdpIOCPSocket& socket)
{
    if (cqe.user_data >= kProbeTag)
        return; // a timeout (expired or cancelled: its send says what happened) or a cancel
    const auto slot = static_cast<std::uint32_t>(cqe.user_data);
    Slot& s = m_slots[slot];
    --m_inFlight;
    const int res = cqe.res;
    if (res >= 0)
    {
        m_pendingPayload -= s.payload;
        socket.RecordSent(1);
        m_free.push_back(slot);
        return;
    }
    // Not sent: cancelled (a pause, a stop), the send queue full, or the ICMP
    // error of an earlier datagram (nobody listened): it goes again.
    if (res == -ECANCELED || res == -EAGAIN || res == -ENOBUFS ||
        (res == -ECONNREFUSED && ++s.retries <= kMaxRefusedRetries))
    {
        m_held.push_back(slot);
        return;
    }
    m_pendingPayload -= s.payload;
    socket.RecordFailed(s.payload, -res);
    m_free.push_back(slot);
}

void CUringPacer::Reap(CUdpIOCPSocket& socket)
{
    if (!m_open)
        return;
    io_uring_cqe* cqe = nullptr;
    unsigned head = 0;
    unsigned seen = 0;
    io_uring_for_each_cqe(m_ring.get(), head, cqe)
    {
        Complete(*cqe, socket);
        ++seen;
    }
    io_uring_cq_advance(m_ring.get(), seen);
}

bool CUringPacer::CancelAll(CUdpIOCPSocket& socket)
{
    if (!m_open)
        return true;
    Submit();
    Reap(socket);
    if (m_inFlight == 0)
        return true;
    io_uring_sqe* cancel = io_uring_get_sqe(m_ring.get());
    if (cancel != nullptr)
    {
        io_uring_prep_cancel64(cancel, 0, IORING_ASYNC_CANCEL_ALL | IORING_ASYNC_CANCEL_ANY);
        io_uring_sqe_set_data64(cancel, kCancelTag);
        io_uring_submit(m_ring.get());
    }
    // A kernel without the cancel of all requests lets them run out: they are
    // a few milliseconds ahead at most.
    const std::int64_t deadline = CSteadyClock::NowNs() + kDrainTimeoutNs;
    while (m_inFlight > 0)
    {
        const std::int64_t left = deadline - CSteadyClock::NowNs();
        if (left <= 0)
            return false;
        io_uring_cqe* cqe = nullptr;
        __kernel_timespec wait = ToTimespec(left);
        const int r = io_uring_wait_cqe_timeout(m_ring.get(), &cqe, &wait);
        if (r == 0)
            Reap(socket);
    }
    return true;
}

void CUringPacer::WaitUntil(std::int64_t deadlineNs)
{
    for (;;)
    {
        const std::int64_t left = deadlineNs - CSteadyClock::NowNs();
        if (left <= 0 || !m_open)
            return;
        // More completions than can come: the wait ends at the deadline.
        const unsigned never = 2 * m_inFlight + 2;
        __kernel_timespec wait = ToTimespec(left);
        io_uring_cqe* cqe = nullptr;
        const int r = io_uring_submit_and_wait_timeout(m_ring.get(), &cqe, never, &wait, nullptr);
        if (r >= 0 || r == -ETIME)
            m_unsubmitted = 0;
        if (r == -ETIME)
            return;
        if (r < 0 && r != -EINTR)
        {
            // Cannot wait in the ring: sleep on the clock instead.
            timespec ts{};
            ts.tv_sec = static_cast<time_t>(deadlineNs / 1'000'000'000);
            ts.tv_nsec = static_cast<long>(deadlineNs % 1'000'000'000);
            clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr);
            return;
        }
    }
}

void CUringPacer::Resubmit(const DepartureFn& departure)
{
    if (m_held.empty())
        return;
    std::sort(m_held.begin(), m_held.end(),
              [this](std::uint32_t a, std::uint32_t b) { return m_slots[a].position < m_slots[b].position; });
    for (const std::uint32_t slot : m_held)
        Prepare(slot, departure(m_slots[slot].position, m_slots[slot].payload));
    m_held.clear();
}
