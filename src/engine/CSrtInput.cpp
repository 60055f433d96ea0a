#include "engine/CSrtInput.h"

#include "common/CSteadyClock.h"

#include <srt/srt.h>

#include <ctime>
#include <thread>

namespace
{
// SRT packet sequence numbers are 31 bits.
constexpr std::int32_t kSequenceMask = 0x7FFF'FFFF;

std::int64_t RealtimeNs()
{
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return std::int64_t{ts.tv_sec} * 1'000'000'000 + ts.tv_nsec;
}
} // namespace

CSrtInput::CSrtInput(const CSrtSettings& settings) : m_settings(settings) {}

CSrtInput::~CSrtInput()
{
    while (!Close(std::chrono::milliseconds(2'000)))
    {
    }
}

bool CSrtInput::Open(Sink sink)
{
    m_sink = std::move(sink);
    m_held = nullptr;
    m_lost.store(0);
    return m_link.Start(m_settings, CSrtLink::Direction::Receive,
                        [this](int socket, const std::atomic<bool>& stop) { Serve(socket, stop); });
}

bool CSrtInput::Close(std::chrono::milliseconds timeout)
{
    if (!m_link.Stop(timeout))
        return false;
    // The link thread has ended: the record it held goes back to the receiver's pool.
    if (m_held != nullptr && m_sink.putBack)
        m_sink.putBack(m_held);
    m_held = nullptr;
    return true;
}

void CSrtInput::Serve(int socket, const std::atomic<bool>& stop)
{
    const int eid = srt_epoll_create();
    int events = SRT_EPOLL_IN | SRT_EPOLL_ERR;
    srt_epoll_add_usock(eid, socket, &events);
    std::int32_t expected = -1; // a new connection numbers anew
    std::int64_t nextStatsNs = CSteadyClock::NowNs() + CSrtLink::kStatsMs * 1'000'000;
    while (!stop.load(std::memory_order_relaxed))
    {
        const std::int64_t now = CSteadyClock::NowNs();
        if (now >= nextStatsNs)
        {
            m_link.RefreshStats(socket);
            nextStatsNs = now + CSrtLink::kStatsMs * 1'000'000;
        }
        if (m_held == nullptr)
        {
            // No free record: SRT's receive buffer holds the stream meanwhile.
            m_held = m_sink.getFree();
            if (m_held == nullptr)
            {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                continue;
            }
        }
        SRT_MSGCTRL control = srt_msgctrl_default;
        const int n = srt_recvmsg2(socket, reinterpret_cast<char*>(m_held->m_data),
                                   static_cast<int>(m_held->m_capacity), &control);
        if (n == SRT_ERROR)
        {
            if (srt_getlasterror(nullptr) == SRT_EASYNCRCV)
            {
                SRT_EPOLL_EVENT event{};
                srt_epoll_uwait(eid, &event, 1, CSrtLink::kPollMs);
                continue;
            }
            m_link.NoteBroken();
            break;
        }
        if (n <= 0)
            continue;
        // Live mode: one message is one packet, so a gap in the packet
        // numbers is what SRT dropped as too late.
        if (expected >= 0)
        {
            const std::int32_t gap = (control.pktseq - expected) & kSequenceMask;
            if (gap != 0 && gap < (kSequenceMask >> 1))
            {
                m_lost.fetch_add(static_cast<std::uint64_t>(gap), std::memory_order_relaxed);
                m_sink.lost(static_cast<std::uint32_t>(gap));
            }
        }
        expected = (control.pktseq + 1) & kSequenceMask;
        m_held->m_length = static_cast<std::uint32_t>(n);
        m_held->m_arrivalNs = RealtimeNs();
        DvbIpRecvBuffer* record = m_held;
        m_held = nullptr;
        m_sink.receive(record);
    }
    m_link.RefreshStats(socket);
    srt_epoll_release(eid);
}
