#include "analysis/CTr101290.h"

#include <algorithm>
#include <cmath>

namespace
{
constexpr std::uint64_t kPcrWrap = (std::uint64_t{1} << 33) * 300;
constexpr std::uint8_t kTablePat = 0x00;
constexpr std::uint8_t kTableCat = 0x01;
constexpr std::uint8_t kTablePmt = 0x02;
constexpr std::uint16_t kPatPid = 0x0000;
constexpr std::uint16_t kCatPid = 0x0001;
// A PCR this many packets off is taken for lost or extra packets, not a bad PCR.
constexpr double kMaxShiftPackets = 64;
// The gaps are looked at about every 50 ms of stream time.
constexpr double kCheckSeconds = 0.050;

// PCR of @p later minus @p earlier in 27 MHz ticks, signed, across the wrap.
double PcrDelta(std::uint64_t later, std::uint64_t earlier)
{
    const std::uint64_t forward = (later + kPcrWrap - earlier % kPcrWrap) % kPcrWrap;
    return forward > kPcrWrap / 2 ? -static_cast<double>(kPcrWrap - forward) : static_cast<double>(forward);
}

using PidSet = std::bitset<CTr101290::kPidCount>;

// Takes @p pids as the watched PIDs: each new one is given its time-out from @p now in @p last, the open
// gaps of the PIDs gone are forgotten, and @p list lists them for the periodic check.
void Watch(const PidSet& pids, std::uint64_t now, PidSet& watched, std::vector<std::uint16_t>& list,
           std::vector<std::uint64_t>& last, PidSet& gapOpen)
{
    const PidSet added = pids & ~watched;
    list.clear();
    for (std::size_t pid = 0; pid < pids.size(); ++pid)
    {
        if (added.test(pid))
            last[pid] = now;
        if (pids.test(pid))
            list.push_back(static_cast<std::uint16_t>(pid));
    }
    gapOpen &= pids;
    watched = pids;
}
} // namespace

CTr101290::CTr101290() : m_lastSeen(kPidCount, 0), m_lastPmt(kPidCount, 0), m_lastPts(kPidCount, 0)
{
    m_pcr.reserve(kMaxPcrPids);
}

void CTr101290::Reset()
{
    // The PMT and referenced PIDs are what the tables say: they stay until the tables change.
    m_position = 0;
    m_nextCheck = 0;
    m_counters = CTr101290Counters{};
    m_lastEvent.fill(0);
    m_eventSeen.fill(false);
    std::fill(m_lastSeen.begin(), m_lastSeen.end(), 0);
    std::fill(m_lastPmt.begin(), m_lastPmt.end(), 0);
    std::fill(m_lastPts.begin(), m_lastPts.end(), 0);
    m_ptsValid.reset();
    m_pidGapOpen.reset();
    m_pmtGapOpen.reset();
    m_lastPat = 0;
    m_patGapOpen = false;
    m_catSeen = false;
    m_pcr.clear();
    SetRate(0.0);
}

void CTr101290::Restart()
{
    for (PcrState& state : m_pcr)
        state.valid = false;
    ForgetPcrLines();
    m_ptsValid.reset();
}

void CTr101290::ForgetPcrLines()
{
    for (PcrState& state : m_pcr)
    {
        state.points = 0;
        state.suspectValid = false;
    }
}

void CTr101290::SetPidTimeout(double seconds)
{
    if (seconds > 0.0)
        m_pidTimeoutSeconds = seconds;
    SetRate(m_rate);
}

std::uint64_t CTr101290::Bytes(double seconds) const
{
    if (!(m_rate > 0.0))
        return kNever;
    const double bytes = seconds * m_rate / 8.0;
    return bytes >= 1e18 ? kNever : static_cast<std::uint64_t>(bytes);
}

void CTr101290::SetRate(double bitRate)
{
    m_rate = bitRate > 0.0 ? bitRate : 0.0;
    m_pidTimeoutBytes = Bytes(m_pidTimeoutSeconds);
    m_patBytes = Bytes(kPatIntervalSeconds);
    m_pmtBytes = Bytes(kPmtIntervalSeconds);
    m_pcrRepetitionBytes = Bytes(kPcrRepetitionSeconds);
    m_ptsBytes = Bytes(kPtsIntervalSeconds);
    m_secondBytes = m_rate > 0.0 ? Bytes(kActiveSeconds) : kNominalSecondBytes;
    m_checkBytes = std::max<std::uint64_t>(m_rate > 0.0 ? Bytes(kCheckSeconds) : m_secondBytes / 20, 1);
    m_nextCheck = std::min(m_nextCheck, m_position + m_checkBytes);
}

void CTr101290::Event(Indicator indicator)
{
    const auto i = static_cast<std::size_t>(indicator);
    ++m_counters.count[i];
    m_lastEvent[i] = m_position;
    m_eventSeen[i] = true;
}

void CTr101290::OnTransportError(std::uint16_t pid)
{
    Event(Indicator::TransportError);
    for (PcrState& state : m_pcr)
        if (state.pid == pid)
        {
            state.valid = false; // the next PCR starts a new line
            state.points = 0;
        }
    m_ptsValid.reset(pid);
}

void CTr101290::OnScrambled(std::uint16_t pid)
{
    if (pid == kPatPid)
        Event(Indicator::PatError);
    else if (m_pmtPids.test(pid))
        Event(Indicator::PmtError);
    // Scrambled packets come by the thousand: one CAT_error per second while no CAT was seen.
    const auto cat = static_cast<std::size_t>(Indicator::CatError);
    if (!m_catSeen && (!m_eventSeen[cat] || m_position - m_lastEvent[cat] >= m_secondBytes))
        Event(Indicator::CatError);
}

void CTr101290::OnContinuityError()
{
    Event(Indicator::CcError);
    // Packets are missing (or extra): the byte positions no longer give the PCRs'
    // time, so the accuracy starts a new line on every PCR PID.
    ForgetPcrLines();
}

void CTr101290::OnSyncByteError()
{
    Event(Indicator::SyncByteError);
    ForgetPcrLines(); // the packet there is lost
}

void CTr101290::OnPts(std::uint16_t pid)
{
    if (m_ptsValid.test(pid) && m_position - m_lastPts[pid] > m_ptsBytes)
        Event(Indicator::PtsError);
    m_lastPts[pid] = m_position;
    m_ptsValid.set(pid);
}

CTr101290::PcrState* CTr101290::PcrStateOf(std::uint16_t pid)
{
    for (PcrState& state : m_pcr)
        if (state.pid == pid)
            return &state;
    if (m_pcr.size() >= kMaxPcrPids)
        return nullptr;
    m_pcr.push_back(PcrState{});
    m_pcr.back().pid = pid;
    return &m_pcr.back();
}

bool CTr101290::OnPcr(std::uint16_t pid, std::uint64_t pcr, bool discontinuity)
{
    PcrState* state = PcrStateOf(pid);
    if (state == nullptr)
        return false;
    const PcrPoint now{pcr % kPcrWrap, m_position};
    if (!state->valid || discontinuity)
    {
        // A new time base, announced: nothing to compare with.
        state->valid = true;
        state->last = now;
        state->points = 1;
        state->base = now;
        state->suspectValid = false;
        return false;
    }
    if (now.position - state->last.position > m_pcrRepetitionBytes)
        Event(Indicator::PcrRepetitionError);
    const std::uint64_t step = (now.pcr + kPcrWrap - state->last.pcr) % kPcrWrap;
    state->last = now;
    if (step > kPcrDiscontinuityTicks)
    {
        // More than 100 ms on, or back (a huge step forward modulo the wrap).
        Event(Indicator::PcrDiscontinuityIndicatorError);
        state->points = 1;
        state->base = now;
        state->suspectValid = false;
        return true;
    }
    JudgeAccuracy(*state, now);
    return false;
}

void CTr101290::JudgeAccuracy(PcrState& state, const PcrPoint& now)
{
    // The measured constant rate is the slope of PCR over byte position from the
    // baseline's first PCR to the last good one: PCR stamping is judged, not arrival.
    if (state.points == 0 || now.position <= state.base.position)
    {
        state.points = 1;
        state.base = now;
        state.suspectValid = false;
        return;
    }
    if (state.points == 1)
    {
        state.points = 2;
        state.good = now;
        return;
    }
    const double ticksPerByte =
        PcrDelta(state.good.pcr, state.base.pcr) / static_cast<double>(state.good.position - state.base.position);
    const auto offBy = [&](const PcrPoint& from) {
        const double expected = static_cast<double>(now.position - from.position) * ticksPerByte;
        return PcrDelta(now.pcr, from.pcr) - expected;
    };
    const double off = offBy(state.good);
    if (std::fabs(off) <= kPcrAccuracyTicks)
    {
        state.good = now;
        state.suspectValid = false;
        return;
    }
    // Off by whole packets: packets were lost or added on the way (the continuity
    // check counts that), the PCR itself is right. A new baseline starts here.
    const double packetTicks = ticksPerByte * m_packetSize;
    const double packets = std::round(off / packetTicks);
    if (packets != 0.0 && std::fabs(packets) <= kMaxShiftPackets &&
        std::fabs(off - packets * packetTicks) <= kPcrAccuracyTicks)
    {
        state.points = 1;
        state.base = now;
        state.suspectValid = false;
        return;
    }
    if (state.suspectValid)
    {
        // Off again: if it agrees with the suspect, the time base stepped once (counted
        // then); either way a new baseline starts at the suspect.
        if (std::fabs(offBy(state.suspect)) > kPcrAccuracyTicks)
            Event(Indicator::PcrAccuracyError);
        state.base = state.suspect;
        state.good = now;
        state.suspectValid = false;
        return;
    }
    Event(Indicator::PcrAccuracyError);
    state.suspect = now;
    state.suspectValid = true;
}

void CTr101290::OnSection(std::uint16_t pid, std::uint8_t tableId, bool crcOk)
{
    if (pid == kPatPid)
    {
        if (tableId != kTablePat)
            Event(Indicator::PatError);
        else if (crcOk)
        {
            if (m_position - m_lastPat > m_patBytes && !m_patGapOpen)
                Event(Indicator::PatError);
            m_patGapOpen = false;
            m_lastPat = m_position;
        }
    }
    else if (pid == kCatPid)
    {
        if (tableId != kTableCat)
            Event(Indicator::CatError);
        else if (crcOk)
            m_catSeen = true;
    }
    else if (tableId == kTablePmt && crcOk && m_pmtPids.test(pid))
    {
        if (m_position - m_lastPmt[pid] > m_pmtBytes && !m_pmtGapOpen.test(pid))
            Event(Indicator::PmtError);
        m_pmtGapOpen.reset(pid);
        m_lastPmt[pid] = m_position;
    }
}

void CTr101290::SetPmtPids(const std::bitset<kPidCount>& pids)
{
    // A PMT PID new in the PAT is given half a second from now.
    Watch(pids, m_position, m_pmtPids, m_pmtList, m_lastPmt, m_pmtGapOpen);
}

void CTr101290::SetReferencedPids(const std::bitset<kPidCount>& pids)
{
    // A PID new in a PMT is given the time-out from now.
    Watch(pids, m_position, m_referenced, m_referencedList, m_lastSeen, m_pidGapOpen);
}

void CTr101290::OnLongAbsence(std::uint16_t pid)
{
    if (!m_referenced.test(pid))
        return;
    // Back after too long: counted now unless the periodic check already did.
    if (!m_pidGapOpen.test(pid))
        Event(Indicator::PidError);
    m_pidGapOpen.reset(pid);
}

void CTr101290::CheckGaps()
{
    m_nextCheck = m_position + m_checkBytes;
    const auto gap = [this](Indicator indicator, bool& open) {
        // Counted once per gap; an open gap keeps the indicator active.
        if (!open)
            Event(indicator);
        else
            m_lastEvent[static_cast<std::size_t>(indicator)] = m_position;
        open = true;
    };
    if (m_position - m_lastPat > m_patBytes)
        gap(Indicator::PatError, m_patGapOpen);
    for (const std::uint16_t pid : m_pmtList)
        if (m_position - m_lastPmt[pid] > m_pmtBytes)
        {
            bool open = m_pmtGapOpen.test(pid);
            gap(Indicator::PmtError, open);
            m_pmtGapOpen.set(pid);
        }
    for (const std::uint16_t pid : m_referencedList)
        if (m_position - m_lastSeen[pid] > m_pidTimeoutBytes)
        {
            bool open = m_pidGapOpen.test(pid);
            gap(Indicator::PidError, open);
            m_pidGapOpen.set(pid);
        }
}

void CTr101290::Fill(CTr101290Counters& counters) const
{
    counters.count = m_counters.count;
    for (std::size_t i = 0; i < CTr101290Counters::kCount; ++i)
        counters.active[i] = m_eventSeen[i] && m_position - m_lastEvent[i] <= m_secondBytes;
}
