#include "engine/CDvbIpRecvThread.h"

#include "common/CSteadyClock.h"

#include <bitstream/ietf/rtp.h>

#include <thread>

namespace
{
constexpr auto kThreadJoinTimeout = std::chrono::milliseconds(2'000);
constexpr std::int64_t kNsPerMs = 1'000'000;
} // namespace

CDvbIpRecvThread::CDvbIpRecvThread(std::uint32_t fifoBytes, std::uint32_t poolRecords)
    : m_pool(poolRecords), m_fifo(fifoBytes)
{
}

CDvbIpRecvThread::~CDvbIpRecvThread()
{
    Stop();
}

bool CDvbIpRecvThread::Start()
{
    if (m_receiving.load())
        return true;
    if (!m_fifo.Allocate() || !m_pool.Allocate())
    {
        m_fifo.Release();
        m_pool.Release();
        return false;
    }
    m_status.store(0);
    for (auto* c : {&m_datagrams, &m_payloadBytes, &m_late, &m_invalid, &m_missing, &m_resyncs, &m_overflowDrops,
                    &m_rtpInUdpMode})
        c->store(0);
    m_stopRequest.store(false);
    m_receiving.store(true);
    m_sequencer.Join(kThreadJoinTimeout); // a previous stream's thread has ended already
    m_wake.Reset();
    if (!m_sequencer.Start("orvane-sequence", ThreadPriority::Normal, [this] { SequencingLoop(); }))
    {
        m_receiving.store(false);
        m_pool.Release();
        m_fifo.Release();
        return false;
    }
    if (!Open(m_port, m_membership))
    {
        StopReceiving();
        m_pool.Release();
        m_fifo.Release();
        return false;
    }
    return true;
}

void CDvbIpRecvThread::StopReceiving()
{
    Close(); // takes what the kernel still holds, then no more datagrams
    m_receiving.store(false);
    m_finalDeadlineNs.store(CSteadyClock::NowNs() + kFinalDrainMs * kNsPerMs);
    m_stopRequest.store(true);
    m_wake.Set();
    m_sequencer.Join(kThreadJoinTimeout);
}

bool CDvbIpRecvThread::Stop()
{
    StopReceiving();
    m_pool.Release();
    m_fifo.Release();
    return true;
}

DvbIpRecvBuffer* CDvbIpRecvThread::GetFreeBuffer()
{
    if (!m_receiving.load(std::memory_order_relaxed))
        return nullptr;
    DvbIpRecvBuffer* record = m_pool.GetFree();
    if (record == nullptr)
        SetFlag(kStatusOverflow);
    else
        ClearFlag(kStatusOverflow);
    return record;
}

bool CDvbIpRecvThread::IsTransportStream(const std::uint8_t* data, std::uint32_t length)
{
    return length == 0 || (data[0] == kSyncByte && (length % 188 == 0 || length % 204 == 0));
}

void CDvbIpRecvThread::OnReceive(DvbIpRecvBuffer* record)
{
    bool valid = true;
    if (m_rtp)
    {
        std::uint16_t sequence = 0;
        valid = ParseRtp(record->m_data, record->m_length, sequence, record->m_payloadOffset, record->m_payloadLength);
        record->m_sequence = sequence;
    }
    else
    {
        record->m_payloadOffset = 0;
        record->m_payloadLength = record->m_length;
    }
    if (!valid || !IsTransportStream(record->m_data + record->m_payloadOffset, record->m_payloadLength))
    {
        m_invalid.fetch_add(1, std::memory_order_relaxed);
        // The commonest mistake: an RTP sender received in UDP mode. Noted so that the
        // user can be told to switch; the datagram is dropped all the same.
        std::uint16_t sequence = 0;
        std::uint32_t offset = 0;
        std::uint32_t length = 0;
        if (!m_rtp && ParseRtp(record->m_data, record->m_length, sequence, offset, length) && length != 0 &&
            IsTransportStream(record->m_data + offset, length))
            m_rtpInUdpMode.fetch_add(1, std::memory_order_relaxed);
        m_pool.PutFree(record);
        return;
    }
    m_arrivals.fetch_add(1, std::memory_order_relaxed);
    m_pool.PutReady(record);
}

void CDvbIpRecvThread::OnDropped(std::uint32_t count)
{
    m_overflowDrops.fetch_add(count, std::memory_order_relaxed);
    SetFlag(kStatusOverflow);
}

bool CDvbIpRecvThread::ParseRtp(const std::uint8_t* data, std::uint32_t length, std::uint16_t& sequence,
                                std::uint32_t& payloadOffset, std::uint32_t& payloadLength)
{
    if (length < RTP_HEADER_SIZE || !rtp_check_hdr(data))
        return false;
    std::uint32_t offset = RTP_HEADER_SIZE + 4u * rtp_get_cc(data);
    if (offset > length)
        return false;
    if (rtp_check_extension(data))
    {
        // 4-byte extension header, then its length in 32-bit words.
        if (offset + 4 > length)
            return false;
        offset += 4 + 4u * ((static_cast<std::uint32_t>(data[offset + 2]) << 8) | data[offset + 3]);
        if (offset > length)
            return false;
    }
    std::uint32_t end = length;
    if (rtp_check_padding(data))
    {
        const std::uint32_t padding = data[length - 1];
        if (padding == 0 || padding > length - offset)
            return false;
        end -= padding;
    }
    sequence = rtp_get_seqnum(data);
    payloadOffset = offset;
    payloadLength = end - offset;
    return true;
}

void CDvbIpRecvThread::Deliver(DvbIpRecvBuffer* record, bool& haveExpected, std::uint16_t& expected)
{
    const auto sequence = static_cast<std::uint16_t>(record->m_sequence);
    if (haveExpected && sequence != static_cast<std::uint16_t>(m_previous + 1) && m_diagnostics != nullptr)
        std::fprintf(m_diagnostics, "recv rtp Seq %ld prev %ld\n", static_cast<long>(sequence),
                     static_cast<long>(m_previous));
    m_previous = sequence;
    expected = static_cast<std::uint16_t>(sequence + 1);
    haveExpected = true;
    if (record->m_payloadLength != 0)
    {
        if (m_fifo.Write(record->m_data + record->m_payloadOffset, record->m_payloadLength))
        {
            m_packetBytes.store(record->m_payloadLength % 188 == 0 ? 188 : 204, std::memory_order_relaxed);
            ClearFlag(kStatusOverflow);
            m_datagrams.fetch_add(1, std::memory_order_relaxed);
            m_payloadBytes.fetch_add(record->m_payloadLength, std::memory_order_relaxed);
        }
        else
        {
            SetFlag(kStatusOverflow);
            m_overflowDrops.fetch_add(1, std::memory_order_relaxed);
        }
    }
    m_pool.PutFree(record);
}

void CDvbIpRecvThread::Drain(bool flush, bool giveUp, bool& haveExpected, std::uint16_t& expected,
                             std::uint32_t& misses)
{
    const std::int32_t keep = flush ? 0 : kReserveDatagrams;
    // Bounded: every round takes a record out of the ready list or ends.
    while (m_pool.ReadyCount() > keep)
    {
        // A full FIFO holds the records back instead of dropping them: the pool
        // and then the kernel queue absorb a record worker that falls behind.
        if (m_fifo.GetFree() < DvbIpRecvBufferPool::kBufferBytes && !WaitForRoom())
            return;
        if (!haveExpected)
        {
            // The start of a stream decides the numbering: take it from a full
            // reserve, or from what a quiet stream has sent when the quiet lasts.
            if (m_rtp && m_pool.ReadyCount() <= kReserveDatagrams && !giveUp)
                return;
            // In UDP mode arrival order is the order: the head is the first.
            DvbIpRecvBuffer* first = m_rtp ? m_pool.TakeFirst() : m_pool.TakeHead();
            if (first == nullptr)
                return;
            Deliver(first, haveExpected, expected);
            continue;
        }
        DvbIpRecvBufferPool::Search search;
        DvbIpRecvBuffer* record = m_pool.TakeNext(expected, search);
        m_late.fetch_add(search.lateDropped + search.strayDropped, std::memory_order_relaxed);
        if (record != nullptr)
        {
            misses = 0;
            Deliver(record, haveExpected, expected);
            continue;
        }
        // The missing one may still come: wait for it a few cycles while the
        // stream flows, and while a slow stream is quiet, until the quiet lasts.
        if (search.nearAhead && !giveUp && (flush || misses < kMissRetries))
        {
            ++misses;
            return;
        }
        if (m_pool.ReadyCount() <= keep)
            return; // late records were dropped; nothing beyond the reserve is left
        record = m_pool.TakeResync(expected);
        if (record == nullptr)
            return;
        const std::int32_t gap =
            DvbIpRecvBufferPool::Distance(expected, static_cast<std::uint16_t>(record->m_sequence));
        if (gap > 0 && gap <= DvbIpRecvBufferPool::kNearSpan)
            m_missing.fetch_add(static_cast<std::uint64_t>(gap), std::memory_order_relaxed);
        else
            m_resyncs.fetch_add(1, std::memory_order_relaxed);
        misses = 0;
        Deliver(record, haveExpected, expected);
    }
}

bool CDvbIpRecvThread::WaitForRoom()
{
    if (!m_stopRequest.load())
        return false; // next cycle
    // Reception has ended: give the record worker time to make room for the
    // datagrams still in reserve, within a bound (nobody may be reading).
    const std::int64_t deadline = m_finalDeadlineNs.load();
    while (m_fifo.GetFree() < DvbIpRecvBufferPool::kBufferBytes)
    {
        if (CSteadyClock::NowNs() > deadline || m_fifo.GetCapacity() == 0)
            return true; // the write fails and counts as overflow
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

void CDvbIpRecvThread::SequencingLoop()
{
    bool haveExpected = false; // the first datagram of a stream is taken whatever its number
    std::uint16_t expected = 0;
    std::uint32_t misses = 0;
    std::uint64_t lastArrivals = m_arrivals.load();
    std::uint64_t lastDelivered = m_datagrams.load();
    std::int64_t lastArrivalNs = CSteadyClock::NowNs();
    std::int64_t lastTakenNs = lastArrivalNs;
    m_previous = 0;

    while (!m_stopRequest.load())
    {
        m_wake.Wait(std::chrono::milliseconds(kCycleMs));
        if (m_stopRequest.load())
            break;
        const std::int64_t now = CSteadyClock::NowNs();
        const std::uint64_t arrivals = m_arrivals.load(std::memory_order_relaxed);
        if (arrivals != lastArrivals)
        {
            lastArrivals = arrivals;
            lastArrivalNs = now;
        }
        const std::int64_t quietNs = now - lastArrivalNs;
        Drain(quietNs >= kQuietMs * kNsPerMs, quietNs >= kQuietGiveUpMs * kNsPerMs, haveExpected, expected, misses);

        const std::uint64_t delivered = m_datagrams.load(std::memory_order_relaxed);
        if (delivered != lastDelivered || m_pool.ReadyCount() > 0)
        {
            lastDelivered = delivered;
            lastTakenNs = now;
        }
        if (now - lastTakenNs > kNoDataMs * kNsPerMs)
            SetFlag(kStatusNoData);
        else
            ClearFlag(kStatusNoData);
    }
    // The port is closed: what is still in reserve belongs to the stream.
    Drain(true, true, haveExpected, expected, misses);
}

bool CDvbIpRecvThread::ReadData(void* destination, std::uint32_t wanted, std::uint32_t& got)
{
    got = 0;
    if (m_fifo.GetUsed() < wanted)
    {
        SetFlag(kStatusShortRead);
        return true;
    }
    ClearFlag(kStatusShortRead);
    got = wanted;
    return m_fifo.Read(destination, got);
}

bool CDvbIpRecvThread::ReadAvailable(void* destination, std::uint32_t maximum, std::uint32_t& got)
{
    got = maximum;
    return m_fifo.Read(destination, got);
}

CDvbIpRecvThread::Counters CDvbIpRecvThread::GetCounters() const
{
    Counters c;
    c.datagrams = m_datagrams.load();
    c.payloadBytes = m_payloadBytes.load();
    c.late = m_late.load();
    c.invalid = m_invalid.load();
    c.missing = m_missing.load();
    c.resyncs = m_resyncs.load();
    c.overflowDrops = m_overflowDrops.load();
    c.rtpInUdpMode = m_rtpInUdpMode.load();
    return c;
}
