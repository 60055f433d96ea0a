#include "engine/CFecDecoder.h"

#include <bitstream/ietf/rtp.h>

#include <algorithm>

namespace
{
constexpr std::uint32_t kMaxPayloadBytes = fec::kMaxMediaBytes - fec::kRtpHeaderBytes;
// FEC may come before its media, but not by more than this.
constexpr std::int64_t kFecAheadPackets = 2 * fec::kMaxMatrix;
// So many datagrams in a row far behind the window: the sender started afresh.
constexpr std::uint32_t kLateRunForResync = 16;
// Groups queued at once before they are checked (a gap queues at most L + D = 25).
constexpr std::size_t kWorkBatch = 4 * CFecDecoder::kWindowPackets;
// Everything a group can reach below the oldest open gap stays in the ring.
static_assert(fec::kMaxMatrix + std::max(CFecDecoder::kMaxLatencyPackets, CFecDecoder::kMaxHoldPackets) +
                  kFecAheadPackets <
              CFecDecoder::kWindowPackets);
} // namespace

CFecDecoder::CFecDecoder()
    : m_slots(kWindowPackets), m_media(new std::uint8_t[std::size_t{kWindowPackets} * fec::kMaxMediaBytes]),
      m_scratch(fec::kMaxMediaBytes)
{
    for (int k = 0; k < 2; ++k)
    {
        m_fec[k].resize(kWindowPackets);
        m_fecPayload[k].reset(new std::uint8_t[std::size_t{kWindowPackets} * kMaxPayloadBytes]);
    }
    m_work.reserve(2 * kWorkBatch);
    m_rebuilt.reserve(kWindowPackets);
}

bool CFecDecoder::SetLatencyPackets(std::uint32_t packets)
{
    if (packets > kMaxLatencyPackets)
        return false;
    m_latency = packets;
    return true;
}

std::uint32_t CFecDecoder::GetLatencyPackets() const
{
    if (m_latency != 0)
        return m_latency;
    if (m_columns == 0 || m_rows == 0)
        return kUnknownMatrixLatency;
    return 2 * m_columns * m_rows + m_columns;
}

void CFecDecoder::Reset()
{
    for (auto& s : m_slots)
        s.sequence = -1;
    for (auto& ring : m_fec)
        for (auto& f : ring)
            f.snBase = -1;
    m_reference = m_high = -1;
    m_fecLast[0] = m_fecLast[1] = -1;
    m_final = 0;
    m_settledAny = false;
    m_missing = 0;
    m_lateRun = 0;
    m_work.clear();
    m_rebuilt.clear();
}

std::int64_t CFecDecoder::Unwrap(std::uint16_t sequence)
{
    const std::int64_t ref = m_high >= 0 ? m_high : m_reference;
    if (ref < 0)
        return m_reference = (std::int64_t{1} << 32) + sequence; // far from 0 both ways
    const auto delta =
        static_cast<std::int16_t>(static_cast<std::uint16_t>(sequence - static_cast<std::uint16_t>(ref)));
    return ref + delta;
}

CFecDecoder::State CFecDecoder::StateOf(std::int64_t s) const
{
    if (s > m_high)
        return State::Future;
    if (IsPresent(s))
        return State::Present;
    return s >= m_final ? State::Missing : State::Lost;
}

void CFecDecoder::Store(std::int64_t s, std::span<const std::uint8_t> datagram)
{
    std::memcpy(MediaAt(s), datagram.data(), datagram.size());
    m_slots[Index(s)] = MediaSlot{s, static_cast<std::uint16_t>(datagram.size())};
}

void CFecDecoder::QueueGroupsOf(std::int64_t s)
{
    if (m_columns == 0)
        return;
    for (std::uint32_t k = 0; k < m_rows; ++k)
        m_work.push_back(Work{0, s - std::int64_t{k} * m_columns});
    for (std::uint32_t k = 0; k < m_columns; ++k)
        m_work.push_back(Work{1, s - std::int64_t{k}});
}

void CFecDecoder::Advance(std::int64_t s)
{
    const std::int64_t from = m_high + 1;
    m_high = s;
    for (std::int64_t gap = from; gap < s; ++gap)
    {
        ++m_missing;
        QueueGroupsOf(gap);
        if (m_work.size() > kWorkBatch)
            Solve(); // keeps the queue within what was reserved
    }
}

void CFecDecoder::FinalizeUpTo(std::int64_t s)
{
    for (; m_final <= s; ++m_final)
    {
        m_settledAny = true;
        if (!IsPresent(m_final))
        {
            ++m_counters.unrecoverable;
            --m_missing;
        }
    }
}

std::int64_t CFecDecoder::SettleLimit() const
{
    std::int64_t limit = m_high - GetLatencyPackets();
    const std::int64_t matrix = m_columns != 0 && m_rows != 0 ? std::int64_t{m_columns} * m_rows : fec::kMaxMatrix;
    for (const std::int64_t last : m_fecLast)
        if (last >= 0)
            limit = std::min(limit, last - matrix);
    return std::max(limit, m_high - std::int64_t{kMaxHoldPackets});
}

void CFecDecoder::Flush()
{
    m_rebuilt.clear();
    if (m_high >= 0)
        FinalizeUpTo(m_high);
}

CFecDecoder::MediaResult CFecDecoder::AddMedia(std::span<const std::uint8_t> datagram)
{
    m_rebuilt.clear();
    ++m_counters.media;
    if (datagram.size() < fec::kRtpHeaderBytes || datagram.size() > fec::kMaxMediaBytes ||
        !rtp_check_hdr(datagram.data()))
    {
        ++m_counters.mediaMalformed;
        return MediaResult::Malformed;
    }
    std::int64_t s = Unwrap(rtp_get_seqnum(datagram.data()));
    if (m_high >= 0 &&
        (s > m_high + kWindowPackets || (s < m_final - fec::kMaxMatrix && ++m_lateRun >= kLateRunForResync)))
    {
        // An outage longer than the window or a sender that started afresh.
        FinalizeUpTo(m_high);
        Reset();
        ++m_counters.resyncs;
        s = Unwrap(rtp_get_seqnum(datagram.data()));
    }
    m_ssrc = rtp_get_int_ssrc(datagram.data());
    if (m_high < 0)
    {
        m_high = m_final = s;
        Store(s, datagram);
        return MediaResult::Fresh;
    }
    if (s < m_final - fec::kMaxMatrix)
    {
        ++m_counters.late;
        return MediaResult::Late;
    }
    m_lateRun = 0;
    if (s <= m_high && IsPresent(s))
    {
        ++m_counters.duplicates;
        return MediaResult::Duplicate;
    }
    if (s < m_final && !m_settledAny && s >= m_high - static_cast<std::int64_t>(GetLatencyPackets()))
    {
        // The first datagrams came out of order: the stream starts earlier than thought.
        for (std::int64_t gap = s + 1; gap < m_final; ++gap)
        {
            ++m_missing;
            QueueGroupsOf(gap);
        }
        m_final = s;
        ++m_missing; // taken back below
    }
    const bool late = s < m_final; // still kept: its groups may rebuild others
    Store(s, datagram);
    if (s > m_high)
        Advance(s);
    else if (!late)
        --m_missing;
    if (m_missing > 0)
        QueueGroupsOf(s);
    Solve();
    FinalizeUpTo(SettleLimit());
    if (late)
    {
        ++m_counters.late;
        return MediaResult::Late;
    }
    return MediaResult::Fresh;
}

bool CFecDecoder::AddFec(std::span<const std::uint8_t> datagram)
{
    m_rebuilt.clear();
    ++m_counters.fecReceived;
    fec::Header h;
    if (!fec::Parse(datagram, h))
    {
        ++m_counters.fecMalformed;
        return false;
    }
    if (h.stream == fec::Stream::Column)
    {
        m_columns = h.offset;
        m_rows = h.count;
    }
    else if (m_rows == 0)
        m_columns = h.count; // D stays unknown without column FEC
    const std::int64_t base = Unwrap(h.snBase);
    const std::int64_t last = base + std::int64_t{h.count - 1} * h.offset;
    // How far this FEC stream has come, even when it is too late to be of use.
    const int k = h.stream == fec::Stream::Row ? 1 : 0;
    m_fecLast[k] = std::max(m_fecLast[k], last);
    if (m_high >= 0 && (last < m_final || base > m_high + kFecAheadPackets))
    {
        ++m_counters.fecUnused;
        return true;
    }
    FecSlot& f = m_fec[k][Index(base)];
    f.snBase = base;
    f.offset = h.offset;
    f.count = h.count;
    f.payloadBytes = static_cast<std::uint16_t>(h.payload.size());
    f.recovery = h.recovery;
    std::memcpy(m_fecPayload[k].get() + std::size_t{Index(base)} * kMaxPayloadBytes, h.payload.data(),
                h.payload.size());
    if (m_missing > 0)
    {
        m_work.push_back(Work{static_cast<std::uint8_t>(k), base});
        Solve();
    }
    return true;
}

void CFecDecoder::Solve()
{
    while (!m_work.empty())
    {
        const Work w = m_work.back();
        m_work.pop_back();
        Check(w);
    }
}

void CFecDecoder::Check(const Work& w)
{
    FecSlot& f = m_fec[w.stream][Index(w.snBase)];
    if (f.snBase != w.snBase)
        return;
    std::int64_t missing = -1;
    for (std::uint32_t i = 0; i < f.count; ++i)
    {
        const std::int64_t s = f.snBase + std::int64_t{i} * f.offset;
        switch (StateOf(s))
        {
        case State::Present:
            break;
        case State::Missing:
            if (missing >= 0)
                return; // two gaps: maybe later
            missing = s;
            break;
        case State::Future:
            return;
        case State::Lost:
            if (m_settledAny)
                f.snBase = -1; // can never solve (before that, the start may still move back)
            return;
        }
    }
    if (missing < 0)
    {
        f.snBase = -1; // all there: nothing left to do
        return;
    }
    const std::uint8_t* payload = m_fecPayload[w.stream].get() + std::size_t{Index(w.snBase)} * kMaxPayloadBytes;
    if (Rebuild(f, payload, missing))
        QueueGroupsOf(missing);
    f.snBase = -1;
}

bool CFecDecoder::Rebuild(FecSlot& f, const std::uint8_t* payload, std::int64_t missing)
{
    std::uint8_t* out = m_scratch.data();
    std::memcpy(out + fec::kRtpHeaderBytes, payload, f.payloadBytes);
    fec::Recovery r = f.recovery;
    std::uint32_t ssrc = m_ssrc;
    for (std::uint32_t i = 0; i < f.count; ++i)
    {
        const std::int64_t s = f.snBase + std::int64_t{i} * f.offset;
        if (s == missing)
            continue;
        const std::uint8_t* m = MediaAt(s);
        const std::uint32_t bytes = m_slots[Index(s)].bytes;
        if (bytes - fec::kRtpHeaderBytes > f.payloadBytes)
        {
            ++m_counters.fecInconsistent;
            return false;
        }
        fec::XorBytes(out + fec::kRtpHeaderBytes, m + fec::kRtpHeaderBytes, bytes - fec::kRtpHeaderBytes);
        r.Add(m, bytes);
        ssrc = rtp_get_int_ssrc(m);
    }
    // The rebuilt length must fit, and the padding behind it must XOR to zero.
    std::uint8_t* end = out + fec::kRtpHeaderBytes + f.payloadBytes;
    if (r.length > f.payloadBytes ||
        std::any_of(out + fec::kRtpHeaderBytes + r.length, end, [](std::uint8_t b) { return b != 0; }))
    {
        ++m_counters.fecInconsistent;
        return false;
    }
    rtp_set_hdr(out);
    out[0] |= r.pxcc;
    out[1] = static_cast<std::uint8_t>(r.marker << 7 | r.type);
    rtp_set_seqnum(out, static_cast<std::uint16_t>(missing));
    rtp_set_timestamp(out, r.timestamp);
    rtp_set_int_ssrc(out, ssrc);
    const std::span<const std::uint8_t> rebuilt(out, fec::kRtpHeaderBytes + r.length);
    Store(missing, rebuilt);
    --m_missing;
    ++m_counters.recovered;
    m_rebuilt.emplace_back(MediaAt(missing), rebuilt.size());
    return true;
}
