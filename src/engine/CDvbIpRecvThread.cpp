#include "engine/CDvbIpRecvThread.h"

#include "common/CEventLog.h"
#include "common/CSteadyClock.h"

#include <bitstream/ietf/rtp.h>

#include <algorithm>
#include <cstring>
#include <thread>

namespace
{
constexpr std::int64_t kNsPerMs = 1'000'000;
} // namespace

CDvbIpRecvThread::CDvbIpRecvThread(std::uint32_t fifoBytes, std::uint32_t poolRecords)
    : m_pool(poolRecords), m_fifo(fifoBytes)
{
}

CDvbIpRecvThread::~CDvbIpRecvThread()
{
    Stop();
    // The threads end within their bounds; they must have ended before the
    // pool, the FIFO and this object go.
    for (int attempt = 0; attempt < 10 && !ReleaseWhenJoined(); ++attempt)
        EndReception(false);
}

bool CDvbIpRecvThread::Start()
{
    if (m_receiving.load())
        return true;
    if (!ReleaseWhenJoined())
    {
        EndReception(false);
        if (!ReleaseWhenJoined())
            return false; // the previous stream's threads have not ended yet
    }
    if (!m_fifo.Allocate() || !m_pool.Allocate())
    {
        m_fifo.Release();
        m_pool.Release();
        return false;
    }
    m_status.store(0);
    m_lossLatch.store(false);
    for (auto* c : {&m_arrivals, &m_datagrams, &m_payloadBytes, &m_late, &m_invalid, &m_fecInvalid, &m_oversized,
                    &m_missing, &m_tooLate, &m_restarts, &m_overflowDrops, &m_rtpInUdpMode, &m_kernelDrops,
                    &m_reordered, &m_duplicates, &m_transportDrops})
        c->store(0);
    // The receive thread starts in Open, after this.
    m_mdiMeter.Reset();
    m_mdiRateBps.store(0.0);
    m_seqKnown = false;
    {
        std::lock_guard lock(m_mdiLock);
        m_mdiShown = Mdi();
    }
    m_runInput = m_input;
    m_runRtp = m_rtp && m_runInput == nullptr;
    // Protection needs RTP sequence numbers; without it the main socket's path stays as it was.
    m_runFec = m_runRtp && m_fec;
    const bool twoPaths = m_runRtp && m_secondPort != 0;
    m_runProtected = m_runFec || twoPaths;
    m_missRetries = kMissRetries + (twoPaths ? m_mergeWindowMs / static_cast<std::uint32_t>(kCycleMs) : 0);
    {
        std::lock_guard lock(m_protectLock);
        m_fecDecoder = m_runFec ? std::make_unique<CFecDecoder>() : nullptr;
        // Media and FEC come through different sockets read by different threads:
        // one of them may lag the other by more than 2 x L x D + L datagrams at high
        // rates or under load. The largest bound costs only a longer wait at a gap.
        if (m_fecDecoder)
            m_fecDecoder->SetLatencyPackets(CFecDecoder::kMaxLatencyPackets);
        for (std::uint32_t stream = 0; stream < m_merge.size(); ++stream)
        {
            m_merge[stream] = twoPaths && (stream == 0 || m_runFec) ? std::make_unique<CSeamlessMerge>() : nullptr;
            if (m_merge[stream])
                m_merge[stream]->SetWindowMs(m_mergeWindowMs);
        }
        m_fecHigh.store(-1);
        m_fecSettled.store(-1);
    }
    m_stopRequest.store(false);
    m_discardReserve.store(false);
    m_receiving.store(true);
    m_wake.Reset();
    m_threadsJoined = false;
    if (!m_sequencer.Start("orvane-sequence", ThreadPriority::Normal, [this] { SequencingLoop(); }))
    {
        m_receiving.store(false);
        m_threadsJoined = true;
        m_pool.Release();
        m_fifo.Release();
        return false;
    }
    if (!OpenInput() || !OpenSideInputs())
    {
        EndReception(false);
        ReleaseWhenJoined();
        return false;
    }
    return true;
}

void CDvbIpRecvThread::EndReception(bool keepReserve)
{
    // One deadline for every thread: the receive thread's last read, the
    // sequencer's wait for room in a full FIFO and both joins.
    const std::int64_t deadline = CSteadyClock::NowNs() + kStopBoundMs * kNsPerMs;
    const auto left = [deadline] {
        return std::chrono::milliseconds(std::max<std::int64_t>(0, (deadline - CSteadyClock::NowNs()) / kNsPerMs));
    };
    m_discardReserve.store(!keepReserve);
    m_finalDeadlineNs.store(deadline);
    // Takes what the kernel still holds (bounded), then no more datagrams.
    const bool clientEnded =
        Close(left()) && CloseSideInputs(left()) && (m_runInput == nullptr || m_runInput->Close(left()));
    m_receiving.store(false);
    m_stopRequest.store(true);
    m_wake.Set();
    const bool sequencerEnded = m_sequencer.Join(left() + std::chrono::milliseconds(kCycleMs * 10));
    m_threadsJoined = clientEnded && sequencerEnded;
    if (m_threadsJoined)
    {
        // Every input has ended: open gaps are final, every path's numbers settled.
        std::lock_guard lock(m_protectLock);
        if (m_fecDecoder)
            m_fecDecoder->Flush();
        for (auto& merge : m_merge)
            if (merge)
                merge->Flush();
    }
}

bool CDvbIpRecvThread::OpenInput()
{
    if (m_runInput == nullptr)
        return Open(m_port, m_membership);
    IDatagramInput::Sink sink{
        [this] { return GetFreeBuffer(); },
        [this](DvbIpRecvBuffer* record) { OnReceive(record); },
        [this](std::uint32_t datagrams) { OnTransportLoss(datagrams); },
        [this](DvbIpRecvBuffer* record) { m_pool.PutFree(record); },
    };
    if (m_runInput->Open(std::move(sink)))
        return true;
    SetLastError(m_runInput->LastError());
    return false;
}

void CDvbIpRecvThread::OnTransportLoss(std::uint32_t datagrams)
{
    m_transportDrops.fetch_add(datagrams, std::memory_order_relaxed);
    m_mdiMeter.AddLoss(std::uint64_t{datagrams} * kMdiPacketsPerDatagram);
    LatchLoss();
}

bool CDvbIpRecvThread::SetMergeWindowMs(std::uint32_t ms)
{
    if (ms < 1 || ms > CSeamlessMerge::kMaxWindowMs)
        return false;
    m_mergeWindowMs = ms;
    return true;
}

bool CDvbIpRecvThread::OpenSideInputs()
{
    m_sideInputs.clear();
    if (!m_runProtected)
        return true;
    const CUdpSideInput::Callbacks callbacks{
        [this] { return GetFreeBuffer(); },
        [this](std::uint32_t input, DvbIpRecvBuffer* record) { ReceiveProtected(input, record); },
        [this](std::uint32_t count) { OnDropped(count); },
        [this] { OnOversized(); },
    };
    static constexpr const char* kNames[] = {"second input", "column FEC", "row FEC"};
    for (std::uint32_t input = 1; input < 6; ++input)
    {
        const std::uint32_t path = input / 3;
        const std::uint32_t stream = input % 3;
        if ((path == 1 && m_secondPort == 0) || (stream != 0 && !m_runFec))
            continue;
        const std::uint32_t port = (path == 0 ? m_port : m_secondPort) + (stream == 1   ? kColumnPortOffset
                                                                          : stream == 2 ? kRowPortOffset
                                                                                        : 0);
        const std::string name = std::string(kNames[stream]) + (path == 1 && stream != 0 ? " of the second input" : "");
        if (port > 65'535)
        {
            SetLastError(name + ": port " + std::to_string(port) + " is beyond 65535");
            return false;
        }
        auto side = std::make_unique<CUdpSideInput>(input, callbacks);
        if (!side->Open(static_cast<std::uint16_t>(port), path == 0 ? m_membership : m_secondMembership))
        {
            SetLastError(name + " on port " + std::to_string(port) + ": " + side->LastError());
            return false;
        }
        m_sideInputs.push_back(std::move(side));
    }
    return true;
}

bool CDvbIpRecvThread::CloseSideInputs(std::chrono::milliseconds timeout)
{
    bool ended = true;
    for (auto& input : m_sideInputs)
        ended = input->Close(timeout) && ended;
    return ended;
}

bool CDvbIpRecvThread::ReleaseWhenJoined()
{
    if (!m_threadsJoined)
    {
        // Threads that overran an earlier stop may have ended since.
        m_threadsJoined = Close(std::chrono::milliseconds(0)) && CloseSideInputs(std::chrono::milliseconds(0)) &&
                          (m_runInput == nullptr || m_runInput->Close(std::chrono::milliseconds(0))) &&
                          m_sequencer.Join(std::chrono::milliseconds(0));
        if (!m_threadsJoined)
            return false;
    }
    m_pool.Release();
    m_fifo.Release();
    return true;
}

bool CDvbIpRecvThread::Stop()
{
    EndReception(false);
    ReleaseWhenJoined();
    return true;
}

DvbIpRecvBuffer* CDvbIpRecvThread::GetFreeBuffer()
{
    if (!m_receiving.load(std::memory_order_relaxed))
        return nullptr;
    // No free record loses nothing: the datagrams wait in the kernel queue,
    // and only what that queue drops is a loss (OnDropped).
    return m_pool.GetFree();
}

bool CDvbIpRecvThread::IsTransportStream(const std::uint8_t* data, std::uint32_t length)
{
    return length == 0 || (data[0] == kSyncByte && (length % 188 == 0 || length % 204 == 0));
}

void CDvbIpRecvThread::OnReceive(DvbIpRecvBuffer* record)
{
    if (m_runProtected)
    {
        ReceiveProtected(0, record);
        return;
    }
    record->m_passes = 0;
    if (m_runRtp)
    {
        if (!ParseRtpRecord(record))
            return;
    }
    else
    {
        // UDP payloads are written as received, whatever they hold.
        record->m_payloadOffset = 0;
        record->m_payloadLength = record->m_length;
        record->m_ssrc = 0;
        record->m_sequence = NextArrival();
        // The commonest mistake: an RTP sender received in UDP mode. Noted so
        // that the user can be told to switch.
        std::uint16_t sequence = 0;
        std::uint32_t offset = 0;
        std::uint32_t length = 0;
        if (ParseRtp(record->m_data, record->m_length, sequence, offset, length) && length != 0 &&
            IsTransportStream(record->m_data + offset, length))
            m_rtpInUdpMode.fetch_add(1, std::memory_order_relaxed);
    }
    m_arrivals.fetch_add(1, std::memory_order_relaxed);
    MeasureArrival(*record);
    m_pool.PutReady(record);
}

void CDvbIpRecvThread::ReceiveProtected(std::uint32_t input, DvbIpRecvBuffer* record)
{
    record->m_passes = 0;
    const std::uint32_t path = input / 3;
    const std::uint32_t stream = input % 3;
    const std::span<const std::uint8_t> datagram(record->m_data, record->m_length);
    if (stream == 0 && !ParseRtpRecord(record))
        return;
    std::lock_guard lock(m_protectLock);
    if (m_merge[stream])
    {
        // The first copy of each sequence number goes on, from whichever path.
        const auto verdict = m_merge[stream]->Add(path, CSteadyClock::NowNs(), datagram);
        if (verdict != CSeamlessMerge::Verdict::Pass)
        {
            if (verdict == CSeamlessMerge::Verdict::Malformed)
                (stream == 0 ? m_invalid : m_fecInvalid).fetch_add(1, std::memory_order_relaxed);
            m_pool.PutFree(record);
            return;
        }
    }
    if (stream != 0)
    {
        if (m_fecDecoder)
        {
            m_fecDecoder->AddFec(datagram);
            PassRebuilt(record->m_arrivalNs);
        }
        m_pool.PutFree(record);
        return;
    }
    if (m_fecDecoder && m_fecDecoder->AddMedia(datagram) == CFecDecoder::MediaResult::Duplicate)
    {
        // Rebuilt already: this copy came after its FEC (with two paths, the
        // trailing path's copy often does).
        m_duplicates.fetch_add(1, std::memory_order_relaxed);
        m_pool.PutFree(record);
        return;
    }
    // Behind the highest number, it fills a gap late: the sequencer must find it at once.
    // Far behind, it is a sender that started its numbering again.
    const std::int32_t behind = DvbIpRecvBufferPool::Distance(m_seqHighest, record->m_sequence);
    const bool fillsGap =
        m_seqKnown && record->m_ssrc == m_seqSsrc && behind < 0 && behind >= -DvbIpRecvBufferPool::kNearSpan;
    m_arrivals.fetch_add(1, std::memory_order_relaxed);
    MeasureArrival(*record);
    const std::int64_t arrivalNs = record->m_arrivalNs;
    if (fillsGap)
        m_pool.PutReadyFront(record);
    else
        m_pool.PutReady(record);
    if (m_fecDecoder)
    {
        PassRebuilt(arrivalNs);
        m_fecSettled.store(m_fecDecoder->GetSettledBelow(), std::memory_order_release);
        m_fecHigh.store(m_seqHighest, std::memory_order_release);
    }
}

void CDvbIpRecvThread::PassRebuilt(std::int64_t arrivalNs)
{
    const auto rebuilt = m_fecDecoder->Rebuilt();
    if (rebuilt.empty())
        return;
    // Newest first, each to the front: the front of the ready list ends in sequence order.
    m_rebuiltOrder.assign(rebuilt.begin(), rebuilt.end());
    const std::uint16_t high = m_seqHighest;
    const auto behind = [high](std::span<const std::uint8_t> d) {
        return DvbIpRecvBufferPool::Distance(static_cast<std::uint16_t>(d[2] << 8 | d[3]), high);
    };
    std::sort(m_rebuiltOrder.begin(), m_rebuiltOrder.end(),
              [&behind](const auto& a, const auto& b) { return behind(a) > behind(b); });
    for (const auto& datagram : m_rebuiltOrder)
    {
        DvbIpRecvBuffer* record = m_pool.GetFree();
        if (record == nullptr)
        {
            // No record for it: lost here, and said so.
            m_overflowDrops.fetch_add(1, std::memory_order_relaxed);
            LatchLoss();
            continue;
        }
        std::memcpy(record->m_data, datagram.data(), datagram.size());
        record->m_length = static_cast<std::uint32_t>(datagram.size());
        record->m_arrivalNs = arrivalNs;
        record->m_passes = 0;
        if (!ParseRtpRecord(record))
            continue;
        m_pool.PutReadyFront(record);
    }
}

bool CDvbIpRecvThread::ParseRtpRecord(DvbIpRecvBuffer* record)
{
    std::uint16_t sequence = 0;
    if (!ParseRtp(record->m_data, record->m_length, sequence, record->m_payloadOffset, record->m_payloadLength,
                  &record->m_ssrc) ||
        !IsTransportStream(record->m_data + record->m_payloadOffset, record->m_payloadLength))
    {
        m_invalid.fetch_add(1, std::memory_order_relaxed);
        m_pool.PutFree(record);
        return false;
    }
    record->m_sequence = sequence;
    return true;
}

bool CDvbIpRecvThread::MayStillCome(std::uint16_t expected, std::uint32_t misses) const
{
    if (misses < m_missRetries)
        return true;
    if (!m_runFec)
        return false;
    // Until the decoder has settled the number (its latency bound, or a FEC stream
    // that trails the media) a rebuild may come. A highest number behind the
    // expected one is a new numbering: nothing to wait for.
    const std::int32_t high = m_fecHigh.load(std::memory_order_acquire);
    const std::int32_t settled = m_fecSettled.load(std::memory_order_acquire);
    const std::int32_t ahead = DvbIpRecvBufferPool::Distance(expected, static_cast<std::uint16_t>(high));
    return high >= 0 && settled >= 0 && ahead >= 0 && ahead <= static_cast<std::int32_t>(CFecDecoder::kWindowPackets) &&
           DvbIpRecvBufferPool::Distance(static_cast<std::uint16_t>(settled), expected) >= 0;
}

void CDvbIpRecvThread::MeasureArrival(const DvbIpRecvBuffer& record)
{
    const std::uint32_t length = record.m_payloadLength;
    const std::uint32_t packetBytes = length % 188 == 0 ? 188 : length % 204 == 0 ? 204 : 188;
    const std::uint32_t packets = length / packetBytes;
    const std::uint32_t lost = m_runRtp ? TrackSequence(static_cast<std::uint16_t>(record.m_sequence), record.m_ssrc,
                                                        packets != 0 ? packets : kMdiPacketsPerDatagram)
                                        : 0;
    m_mdiMeter.SetMediaRate(m_mdiRateBps.load(std::memory_order_relaxed));
    if (!m_mdiMeter.AddDatagram(record.m_arrivalNs, length, packets, lost))
        return;
    const CMdiMeter::Result& r = m_mdiMeter.Last();
    std::lock_guard lock(m_mdiLock);
    m_mdiShown = {r.dfMs, r.mlr, r.valid, r.maxDfMs};
    m_mdiShownNs = CSteadyClock::NowNs();
}

std::uint32_t CDvbIpRecvThread::TrackSequence(std::uint16_t sequence, std::uint32_t ssrc, std::uint32_t packets)
{
    const auto ahead = static_cast<std::int16_t>(sequence - m_seqHighest);
    if (m_seqKnown && ssrc == m_seqSsrc)
    {
        if (ahead > 0 && ahead <= DvbIpRecvBufferPool::kNearSpan)
        {
            m_seqSeen = ahead >= 64 ? 1 : (m_seqSeen << ahead) | 1;
            m_seqHighest = sequence;
            return static_cast<std::uint32_t>(ahead - 1) * packets;
        }
        if (ahead <= 0 && -ahead <= DvbIpRecvBufferPool::kNearSpan)
        {
            // Its gap was counted when a newer one came first.
            const std::uint64_t bit = -ahead < 64 ? std::uint64_t{1} << -ahead : 0;
            if ((m_seqSeen & bit) != 0)
                m_duplicates.fetch_add(1, std::memory_order_relaxed);
            else
                m_reordered.fetch_add(1, std::memory_order_relaxed);
            m_seqSeen |= bit;
            return 0;
        }
    }
    // The first datagram, a new SSRC or a numbering far away: a sender restart, nothing lost.
    m_seqKnown = true;
    m_seqSsrc = ssrc;
    m_seqHighest = sequence;
    m_seqSeen = 1;
    return 0;
}

CDvbIpRecvThread::Mdi CDvbIpRecvThread::GetMdi() const
{
    std::lock_guard lock(m_mdiLock);
    Mdi mdi = m_mdiShown;
    if (mdi.valid && CSteadyClock::NowNs() - m_mdiShownNs > kMdiStaleMs * kNsPerMs)
        mdi.valid = false; // the stream stopped: no second ends any more
    return mdi;
}

void CDvbIpRecvThread::OnDropped(std::uint32_t count)
{
    m_kernelDrops.fetch_add(count, std::memory_order_relaxed);
    // In RTP mode the sequence gaps count them.
    if (!m_runRtp)
        m_mdiMeter.AddLoss(std::uint64_t{count} * kMdiPacketsPerDatagram);
    LatchLoss();
}

void CDvbIpRecvThread::OnOversized()
{
    m_oversized.fetch_add(1, std::memory_order_relaxed);
    m_invalid.fetch_add(1, std::memory_order_relaxed);
}

bool CDvbIpRecvThread::ParseRtp(const std::uint8_t* data, std::uint32_t length, std::uint16_t& sequence,
                                std::uint32_t& payloadOffset, std::uint32_t& payloadLength, std::uint32_t* ssrc)
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
    if (ssrc != nullptr)
    {
        std::uint8_t bytes[4];
        rtp_get_ssrc(data, bytes);
        *ssrc = (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) | (std::uint32_t{bytes[2]} << 8) |
                bytes[3];
    }
    payloadOffset = offset;
    payloadLength = end - offset;
    return true;
}

void CDvbIpRecvThread::Deliver(DvbIpRecvBuffer* record, bool& haveExpected, std::uint16_t& expected)
{
    const auto sequence = static_cast<std::uint16_t>(record->m_sequence);
    // Arrival numbers have no gaps: the line is for RTP numbering only.
    if (m_runRtp && haveExpected && sequence != static_cast<std::uint16_t>(m_previous + 1))
    {
        ReportJump(sequence);
        if (CEventLog* log = m_eventLog.load())
            log->Add(CEventLog::Kind::SequenceJump,
                     "RTP sequence jump: " + std::to_string(m_previous) + " -> " + std::to_string(sequence));
    }
    m_previous = sequence;
    m_ssrc = record->m_ssrc;
    expected = static_cast<std::uint16_t>(sequence + 1);
    haveExpected = true;
    if (record->m_payloadLength != 0)
    {
        const std::uint8_t* payload = record->m_data + record->m_payloadOffset;
        if (m_fifo.Write(payload, record->m_payloadLength))
        {
            if (IsTransportStream(payload, record->m_payloadLength))
                m_packetBytes.store(record->m_payloadLength % 188 == 0 ? 188 : 204, std::memory_order_relaxed);
            m_datagrams.fetch_add(1, std::memory_order_relaxed);
            m_payloadBytes.fetch_add(record->m_payloadLength, std::memory_order_relaxed);
        }
        else
        {
            LatchLoss();
            m_overflowDrops.fetch_add(1, std::memory_order_relaxed);
        }
    }
    m_pool.PutFree(record);
}

void CDvbIpRecvThread::ReportJump(std::uint16_t sequence)
{
    if (m_diagnostics == nullptr)
        return;
    // Under loss a line per gap floods the terminal: one a second, with the count of the others.
    const std::int64_t now = CSteadyClock::NowNs();
    if (m_gapLineNs != 0 && now - m_gapLineNs < kGapLineIntervalMs * kNsPerMs)
    {
        ++m_gapLinesHeld;
        return;
    }
    m_gapLineNs = now;
    if (m_gapLinesHeld == 0)
        std::fprintf(m_diagnostics, "recv rtp Seq %ld prev %ld\n", static_cast<long>(sequence),
                     static_cast<long>(m_previous));
    else
        std::fprintf(m_diagnostics, "recv rtp Seq %ld prev %ld (%llu more jumps not shown)\n",
                     static_cast<long>(sequence), static_cast<long>(m_previous),
                     static_cast<unsigned long long>(m_gapLinesHeld));
    m_gapLinesHeld = 0;
}

void CDvbIpRecvThread::CountTooLate(std::uint32_t datagrams)
{
    if (datagrams == 0)
        return;
    // Counted missing when given up already; the count shows that waiting longer would have saved them.
    m_tooLate.fetch_add(datagrams, std::memory_order_relaxed);
    LatchLoss();
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
        if (!m_runRtp)
        {
            // Arrival order is the order.
            DvbIpRecvBuffer* next = m_pool.TakeHead();
            if (next == nullptr)
                return;
            Deliver(next, haveExpected, expected);
            continue;
        }
        if (!haveExpected)
        {
            // The start of a stream decides the numbering: take it from a full
            // reserve, or from what a quiet stream has sent when the quiet lasts.
            if (m_pool.ReadyCount() <= kReserveDatagrams && !giveUp)
                return;
            DvbIpRecvBuffer* first = m_pool.TakeFirst();
            if (first == nullptr)
                return;
            Deliver(first, haveExpected, expected);
            continue;
        }
        const bool mayStillCome = MayStillCome(expected, misses);
        DvbIpRecvBufferPool::Search search;
        DvbIpRecvBuffer* record = m_pool.TakeNext(expected, m_ssrc, search);
        m_late.fetch_add(search.lateDropped + search.strayDropped, std::memory_order_relaxed);
        CountTooLate(search.lateGivenUp);
        if (record != nullptr)
        {
            misses = 0;
            Deliver(record, haveExpected, expected);
            continue;
        }
        if (search.nearAhead)
        {
            // The missing one may still come: wait for it a few cycles while the
            // stream flows, and while a slow stream is quiet, until the quiet lasts.
            if (!giveUp && (flush || mayStillCome))
            {
                ++misses;
                return;
            }
            record = m_pool.TakeResync(expected, m_ssrc);
            if (record == nullptr)
                return;

            m_missing.fetch_add(static_cast<std::uint64_t>(DvbIpRecvBufferPool::Distance(
                                    expected, static_cast<std::uint16_t>(record->m_sequence))),
                                std::memory_order_relaxed);
            // The stream goes on without them: a loss, whatever comes later.
            LatchLoss();
            misses = 0;
            Deliver(record, haveExpected, expected);
            continue;
        }
        if (search.otherSpace == 0)
        {
            if (search.lateDropped + search.lateGivenUp + search.strayDropped != 0)
                continue; // more may wait beyond the window
            return;
        }
        // Nothing of this space is waiting: the sender has restarted (new SSRC or
        // numbering). Everything of the old space has been passed on.
        DvbIpRecvBufferPool::Search restart;
        record = m_pool.TakeRestart(expected, m_ssrc, giveUp, restart);
        m_late.fetch_add(restart.strayDropped, std::memory_order_relaxed);
        if (record == nullptr)
        {
            if (restart.strayDropped != 0)
                continue;
            return;
        }
        // The same numbering further on while the kernel dropped datagrams: a run of
        // them lost here, not a sender that started afresh.
        const std::int32_t jump =
            DvbIpRecvBufferPool::Distance(expected, static_cast<std::uint16_t>(record->m_sequence));
        const std::uint64_t drops = m_kernelDrops.load(std::memory_order_relaxed);
        if (record->m_ssrc == m_ssrc && jump > 0 && drops != m_dropsSeen)
        {
            m_missing.fetch_add(static_cast<std::uint64_t>(jump), std::memory_order_relaxed);
            LatchLoss();
        }
        else
            m_restarts.fetch_add(1, std::memory_order_relaxed);
        m_dropsSeen = drops;
        misses = 0;
        Deliver(record, haveExpected, expected);
    }
}

bool CDvbIpRecvThread::WaitForRoom()
{
    if (!m_stopRequest.load() || m_discardReserve.load())
        return false; // next cycle, or the reserve is not wanted
    // Reception has ended: give the record worker time to make room for the
    // datagrams still in reserve, within the stop bound (nobody may be reading).
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
    m_ssrc = 0;
    m_gapLineNs = 0;
    m_gapLinesHeld = 0;
    m_dropsSeen = 0;

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
        if (m_runProtected && now - m_lastSettleNs > 100 * kNsPerMs)
        {
            // The merge counts a silent path's losses only when told the time.
            m_lastSettleNs = now;
            std::lock_guard lock(m_protectLock);
            for (auto& merge : m_merge)
                if (merge)
                    merge->Settle(now);
        }
        const std::int64_t giveUpMs = m_runFec ? kQuietGiveUpFecMs : kQuietGiveUpMs;
        Drain(quietNs >= kQuietMs * kNsPerMs, quietNs >= giveUpMs * kNsPerMs, haveExpected, expected, misses);

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
    // The port is closed: what is still in reserve belongs to the stream,
    // unless the stream is being discarded.
    if (!m_discardReserve.load())
        Drain(true, true, haveExpected, expected, misses);
    if (m_diagnostics != nullptr && m_gapLinesHeld != 0)
        std::fprintf(m_diagnostics, "recv rtp: %llu more jumps not shown\n",
                     static_cast<unsigned long long>(m_gapLinesHeld));
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
    c.received = m_arrivals.load();
    c.datagrams = m_datagrams.load();
    c.payloadBytes = m_payloadBytes.load();
    c.late = m_late.load();
    c.invalid = m_invalid.load();
    c.oversized = m_oversized.load();
    c.missing = m_missing.load();
    c.tooLate = m_tooLate.load();
    c.restarts = m_restarts.load();
    c.overflowDrops = m_overflowDrops.load();
    c.rtpInUdpMode = m_rtpInUdpMode.load();
    c.kernelDrops = m_kernelDrops.load();
    c.transportDrops = m_transportDrops.load();
    c.receiveErrors = GetReceiveErrors();
    c.reordered = m_reordered.load();
    c.duplicates = m_duplicates.load();
    std::lock_guard lock(m_protectLock);
    if (m_fecDecoder)
    {
        const auto& f = m_fecDecoder->GetCounters();
        c.fec = true;
        c.fecRecovered = f.recovered;
        c.fecUnrecoverable = f.unrecoverable;
        c.fecPackets = f.fecReceived;
        c.fecInvalid = m_fecInvalid.load() + f.fecMalformed + f.fecInconsistent;
    }
    if (m_merge[0])
    {
        const auto& m = m_merge[0]->GetCounters();
        c.twoPaths = true;
        for (std::size_t p = 0; p < c.paths.size(); ++p)
            c.paths[p] = {m.path[p].received, m.path[p].missing, m.path[p].onlyHere};
        c.skewMs = static_cast<double>(m.skewLatestNs) / 1e6;
    }
    return c;
}
