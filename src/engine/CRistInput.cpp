#include "engine/CRistInput.h"

#include <librist/librist.h>

#include <cstring>
#include <ctime>
#include <thread>

namespace
{
std::int64_t RealtimeNs()
{
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return std::int64_t{ts.tv_sec} * 1'000'000'000 + ts.tv_nsec;
}

// The RTP sequence numbers librist hands over: gaps are counted modulo 16 bits.
constexpr std::uint64_t kSequenceMask = 0xFFFF;
} // namespace

CRistInput::CRistInput(const CRistSettings& settings) : m_settings(settings) {}

CRistInput::~CRistInput()
{
    while (!Close(std::chrono::milliseconds(2'000)))
    {
    }
}

bool CRistInput::Open(Sink sink)
{
    if (!m_threadEnded)
        return false;
    m_sink = std::move(sink);
    m_lost.store(0);
    m_stop.store(false);
    if (!m_link.Start(m_settings, CRistLink::Direction::Receive))
        return false;
    m_threadEnded = false;
    if (!m_thread.Start("orvane-rist-in", ThreadPriority::TimeCritical, [this] { Run(); }))
    {
        m_threadEnded = true;
        m_link.Stop();
        return false;
    }
    return true;
}

bool CRistInput::Close(std::chrono::milliseconds timeout)
{
    m_stop.store(true, std::memory_order_release);
    if (!m_threadEnded)
    {
        if (!m_thread.Join(timeout))
            return false;
        m_threadEnded = true;
    }
    m_link.Stop();
    return true;
}

void CRistInput::Run()
{
    rist_ctx* ctx = m_link.Context();
    bool haveExpected = false;
    std::uint64_t expected = 0;
    // A record taken and not yet filled: it goes back to the receiver's pool at the end.
    DvbIpRecvBuffer* record = nullptr;
    while (!m_stop.load(std::memory_order_acquire))
    {
        if (record == nullptr)
        {
            record = m_sink.getFree();
            if (record == nullptr)
            {
                // No free record: librist's queue holds the stream meanwhile.
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                continue;
            }
        }
        rist_data_block* block = nullptr;
        if (rist_receiver_data_read2(ctx, &block, kReadTimeoutMs) <= 0 || block == nullptr)
            continue;
        if (haveExpected)
        {
            const std::uint64_t gap = (block->seq - expected) & kSequenceMask;
            if (gap != 0 && gap < (kSequenceMask >> 1))
            {
                m_lost.fetch_add(gap, std::memory_order_relaxed);
                m_sink.lost(static_cast<std::uint32_t>(gap));
            }
        }
        haveExpected = true;
        expected = (block->seq + 1) & kSequenceMask;
        if (block->payload_len > record->m_capacity)
        {
            // Longer than any datagram of seven packets: not a stream of ours, and lost.
            m_lost.fetch_add(1, std::memory_order_relaxed);
            m_sink.lost(1);
            rist_receiver_data_block_free2(&block);
            continue;
        }
        std::memcpy(record->m_data, block->payload, block->payload_len);
        record->m_length = static_cast<std::uint32_t>(block->payload_len);
        record->m_arrivalNs = RealtimeNs();
        rist_receiver_data_block_free2(&block);
        m_sink.receive(record);
        record = nullptr;
    }
    if (record != nullptr && m_sink.putBack)
        m_sink.putBack(record);
}
