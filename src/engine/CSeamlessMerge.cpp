#include "engine/CSeamlessMerge.h"

#include <bitstream/ietf/rtp.h>

namespace
{
constexpr std::size_t kRtpHeaderBytes = 12;
// A forward jump beyond this many numbers is not walked number by number.
constexpr std::int64_t kJumpPackets = 4'096;
} // namespace

CSeamlessMerge::CSeamlessMerge() : m_ring(kRing) {}

bool CSeamlessMerge::SetWindowMs(std::uint32_t ms)
{
    if (ms < 1 || ms > kMaxWindowMs)
        return false;
    m_windowNs = std::int64_t{ms} * 1'000'000;
    return true;
}

void CSeamlessMerge::Reset()
{
    for (auto& e : m_ring)
        e.sequence = -1;
    m_pathLast = {-1, -1};
    m_high = -1;
    m_tail = 0;
}

bool CSeamlessMerge::IsPathAlive(std::uint32_t path, std::int64_t nowNs) const
{
    if (path >= kPaths)
        return false;
    const std::int64_t last = m_counters.path[path].lastArrivalNs;
    return last >= 0 && nowNs - last <= m_windowNs;
}

std::int64_t CSeamlessMerge::Unwrap(std::uint32_t path, std::int64_t nowNs, std::uint16_t sequence) const
{
    // A live path follows its own numbering (it may trail the other by many
    // datagrams); a new or returning one takes up the merged numbering.
    std::int64_t ref = IsPathAlive(path, nowNs) && m_pathLast[path] >= 0 ? m_pathLast[path] : m_high;
    if (ref < 0)
        return (std::int64_t{1} << 32) + sequence;
    const auto delta =
        static_cast<std::int16_t>(static_cast<std::uint16_t>(sequence - static_cast<std::uint16_t>(ref)));
    return ref + delta;
}

void CSeamlessMerge::NoteSkew(std::uint32_t leading, std::int64_t skewNs)
{
    m_counters.skewLatestNs = skewNs;
    m_counters.leadingPath = leading;
    if (skewNs > m_counters.skewMaxNs)
        m_counters.skewMaxNs = skewNs;
}

void CSeamlessMerge::SettleOne()
{
    Entry& e = At(m_tail++);
    switch (e.paths)
    {
    case 0:
        ++m_counters.lostBoth;
        for (auto& p : m_counters.path)
            ++p.missing;
        break;
    case 1:
    case 2: {
        const std::uint32_t only = e.paths == 1 ? 0 : 1;
        ++m_counters.path[only].onlyHere;
        ++m_counters.path[1 - only].missing;
        break;
    }
    default:
        break;
    }
}

void CSeamlessMerge::Settle(std::int64_t nowNs)
{
    while (m_high >= 0 && m_tail <= m_high && nowNs - At(m_tail).timeNs > m_windowNs)
        SettleOne();
}

void CSeamlessMerge::Flush()
{
    while (m_high >= 0 && m_tail <= m_high)
        SettleOne();
}

CSeamlessMerge::Verdict CSeamlessMerge::Add(std::uint32_t path, std::int64_t nowNs,
                                            std::span<const std::uint8_t> datagram)
{
    if (path >= kPaths)
        return Verdict::Malformed;
    PathCounters& pc = m_counters.path[path];
    ++pc.received;
    if (datagram.size() < kRtpHeaderBytes || !rtp_check_hdr(datagram.data()))
    {
        ++pc.malformed;
        return Verdict::Malformed;
    }
    const std::int64_t s = Unwrap(path, nowNs, rtp_get_seqnum(datagram.data()));
    pc.lastArrivalNs = nowNs;
    m_pathLast[path] = s;
    const auto bit = static_cast<std::uint8_t>(1U << path);
    Verdict verdict = Verdict::Pass;

    if (m_high < 0 || s > m_high)
    {
        if (m_high >= 0 && s - m_high > kJumpPackets)
        {
            // Both paths silent for long (or a sender that started afresh): the
            // open numbers settle now and the jump is counted without walking it.
            Flush();
            const auto jump = static_cast<std::uint64_t>(s - m_high - 1);
            m_counters.lostBoth += jump;
            for (auto& p : m_counters.path)
                p.missing += jump;
            m_high = -1;
        }
        if (m_high < 0)
        {
            m_high = s - 1;
            m_tail = s;
        }
        // The ring holds 65,536 numbers: what would be overwritten is settled first.
        while (m_tail <= s - kRing)
            SettleOne();
        for (std::int64_t gap = m_high + 1; gap < s; ++gap)
        {
            if (gap < m_tail)
                continue;
            At(gap) = Entry{gap, nowNs, 0};
        }
        At(s) = Entry{s, nowNs, bit};
        m_high = s;
    }
    else if (s < m_tail)
    {
        // Settled already: a copy beyond the window, or older still.
        Entry& e = At(s);
        if (e.sequence == s && (e.paths & bit) != 0)
            verdict = Verdict::Duplicate;
        else
        {
            if (e.sequence == s && e.paths != 0)
                NoteSkew(1 - path, nowNs - e.timeNs);
            verdict = Verdict::Late;
        }
    }
    else
    {
        Entry& e = At(s);
        if ((e.paths & bit) != 0)
            verdict = Verdict::Duplicate;
        else if (e.paths != 0)
        {
            const std::int64_t skew = nowNs - e.timeNs;
            NoteSkew(1 - path, skew);
            if (skew > m_windowNs)
                verdict = Verdict::Late;
            else
            {
                e.paths |= bit;
                verdict = Verdict::Copy;
            }
        }
        else if (nowNs - e.timeNs > m_windowNs)
            verdict = Verdict::Late; // the gap was given up
        else
        {
            e.paths = bit;
            e.timeNs = nowNs;
        }
    }

    switch (verdict)
    {
    case Verdict::Pass:
        ++pc.passed;
        ++m_counters.passed;
        break;
    case Verdict::Duplicate:
        ++pc.duplicates;
        break;
    case Verdict::Late:
        ++pc.late;
        break;
    default:
        break;
    }
    Settle(nowNs);
    return verdict;
}
