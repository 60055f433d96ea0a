#include "analysis/CTsAnalyzer.h"

#include <bitstream/mpeg/ts.h>

#include <algorithm>

namespace
{
constexpr std::size_t kTsHeaderBytes = 4;
constexpr std::size_t kTsBytes = 188;
// PIDs whose sections are read or CRC-checked besides PAT, PMTs and SDT.
constexpr std::uint16_t kCatPid = 0x0001;
constexpr std::uint16_t kNitPid = 0x0010;
constexpr std::uint16_t kEitPid = 0x0012;
} // namespace

CTsAnalyzer::CTsAnalyzer()
    : m_sync(*this), m_pids(kPidCount), m_recentCurrent(kPidCount, 0), m_recentPrevious(kPidCount, 0)
{
    m_pcrMeters.reserve(kMaxPcrPids);
    m_onSection = [this](std::uint8_t* section, std::size_t length) {
        const CPsiTables::Result result = m_tables.OnSection(m_sectionPid, section, length);
        if (result == CPsiTables::Result::BadCrc)
        {
            ++m_pids[m_sectionPid].crcErrors;
            m_tr101290.OnCrcError();
        }
        m_tr101290.OnSection(m_sectionPid, section[0], result == CPsiTables::Result::Used);
    };
    UpdatePsiPids();
}

void CTsAnalyzer::Restart()
{
    m_sync.Restart();
    for (CPidStats& stats : m_pids)
    {
        stats.ccValid = false;
        stats.duplicateSeen = false;
    }
    for (PcrMeter& meter : m_pcrMeters)
        meter.rate.Restart();
    for (auto& assembler : m_assemblers)
        if (assembler)
            assembler->Reset();
    m_tr101290.Restart();
}

void CTsAnalyzer::Reset(bool pidList, bool programList)
{
    if (pidList)
    {
        m_sync.Reset();
        std::fill(m_pids.begin(), m_pids.end(), CPidStats{});
        m_totalPackets = 0;
        std::fill(m_recentCurrent.begin(), m_recentCurrent.end(), 0u);
        std::fill(m_recentPrevious.begin(), m_recentPrevious.end(), 0u);
        m_recentCurrentTotal = 0;
        m_recentPreviousTotal = 0;
        m_recentPeriod = kMinRecentPackets;
        m_pcrMeters.clear();
        m_bitRate = 0.0;
        m_pcrSeen = false;
        m_tr101290.Reset();
    }
    if (programList)
    {
        m_tables.Reset();
        for (auto& assembler : m_assemblers)
            assembler.reset();
        m_psiGeneration = ~0u;
        m_streamGeneration = ~0u;
        UpdatePsiPids();
    }
}

void CTsAnalyzer::UpdatePsiPids()
{
    if (m_tables.StreamPidGeneration() != m_streamGeneration)
    {
        m_streamGeneration = m_tables.StreamPidGeneration();
        m_tr101290.SetReferencedPids(m_tables.StreamPids());
    }
    // Section buffers exist only for the PIDs that carry tables we read or whose
    // CRCs count (CAT, NIT, EIT): a fixed handful plus the PMTs.
    const std::uint16_t nitPid = m_tables.NetworkPid() != 0 ? m_tables.NetworkPid() : kNitPid;
    if (m_tables.PmtPidGeneration() == m_psiGeneration && nitPid == m_nitPid)
        return;
    m_psiGeneration = m_tables.PmtPidGeneration();
    m_nitPid = nitPid;
    m_tr101290.SetPmtPids(m_tables.PmtPids());
    for (std::size_t pid = 0; pid < kPidCount; ++pid)
    {
        const bool wanted = pid == CPsiTables::kPatPid || pid == CPsiTables::kSdtPid || pid == CPsiTables::kTdtPid ||
                            pid == kCatPid || pid == nitPid || pid == kEitPid ||
                            m_tables.IsPmtPid(static_cast<std::uint16_t>(pid));
        if (wanted && !m_assemblers[pid])
            m_assemblers[pid] = std::make_unique<CSectionAssembler>(
                pid == kEitPid ? CSectionAssembler::kMaxAnySectionBytes : CSectionAssembler::kMaxSectionBytes);
        else if (!wanted && m_assemblers[pid])
            m_assemblers[pid].reset();
    }
}

void CTsAnalyzer::OnPacket(const std::uint8_t* packet, std::uint64_t packetIndex)
{
    ++m_totalPackets;
    const std::uint16_t pid = ts_get_pid(packet);
    CPidStats& stats = m_pids[pid];
    ++stats.packets;
    ++m_recentCurrent[pid];
    if (++m_recentCurrentTotal >= m_recentPeriod)
        RotateRecent();
    m_tr101290.OnPacket(pid, m_sync.PacketSize());
    if (ts_get_transporterror(packet))
    {
        // The demodulator says the packet is damaged: nothing in it can be trusted.
        // Its PID's chain is broken here, which is not a second error: continuity,
        // sections, PCR and PTS start again with the next packet.
        ++stats.transportErrors;
        stats.ccValid = false;
        if (m_assemblers[pid])
            m_assemblers[pid]->Reset();
        m_tr101290.OnTransportError(pid);
        return;
    }
    const bool scrambled = ts_get_scrambling(packet) != 0;
    if (scrambled)
    {
        ++stats.scrambledPackets;
        m_tr101290.OnScrambled(pid);
    }

    const bool hasAdaptation = ts_has_adaptation(packet);
    const std::size_t adaptationLength = hasAdaptation ? ts_get_adaptation(packet) : 0;
    if (adaptationLength > kTsBytes - kTsHeaderBytes - 1)
        return; // malformed: the adaptation field would pass the packet end
    const bool discontinuity = adaptationLength > 0 && tsaf_has_discontinuity(packet);
    const bool hasPayload = ts_has_payload(packet);

    bool lost = false;
    if (pid != kNullPid)
    {
        const std::uint8_t cc = ts_get_cc(packet);
        if (stats.ccValid && !discontinuity)
        {
            if (!hasPayload)
                lost = cc != stats.lastCc; // no payload: the counter must not move
            else if (cc == stats.lastCc)
            {
                // One duplicate is allowed; a second one is an error.
                lost = stats.duplicateSeen;
                stats.duplicateSeen = true;
            }
            else
            {
                lost = cc != ((stats.lastCc + 1) & 0x0F);
                stats.duplicateSeen = false;
            }
            if (lost)
            {
                ++stats.continuityErrors;
                m_tr101290.OnContinuityError();
            }
        }
        else
            stats.duplicateSeen = false;
        stats.lastCc = cc;
        stats.ccValid = true;
    }

    if (adaptationLength >= 7 && tsaf_has_pcr(packet))
    {
        stats.carriesPcr = true;
        const std::uint64_t pcr = tsaf_get_pcr(packet) * 300 + tsaf_get_pcrext(packet);
        // A PCR that leaves its time base without the flag starts a new rate baseline too.
        const bool unflagged = m_tr101290.OnPcr(pid, pcr, discontinuity);
        OnPcr(pid, pcr, discontinuity || unflagged, packetIndex);
    }

    if (hasPayload && m_assemblers[pid])
        OnPsiPayload(pid, packet, lost || discontinuity);
    else if (hasPayload && ts_get_unitstart(packet) && !scrambled && pid != kNullPid)
    {
        const std::size_t start = kTsHeaderBytes + (hasAdaptation ? 1 + adaptationLength : 0);
        if (start < kTsBytes)
            OnPesStart(pid, packet + start, kTsBytes - start);
    }
}

void CTsAnalyzer::OnPesStart(std::uint16_t pid, const std::uint8_t* payload, std::size_t length)
{
    // A PES header with the MPEG-2 flags byte (not for the stream ids without one:
    // program stream map, padding, private stream 2, ECM, EMM, directory, DSM-CC, H.222.1 E).
    constexpr std::size_t kFlagsBytes = 9;
    if (length < kFlagsBytes || payload[0] != 0 || payload[1] != 0 || payload[2] != 1)
        return;
    const std::uint8_t streamId = payload[3];
    if (streamId == 0xBC || streamId == 0xBE || streamId == 0xBF || streamId == 0xF0 || streamId == 0xF1 ||
        streamId == 0xF2 || streamId == 0xF8 || streamId == 0xFF)
        return;
    if ((payload[6] & 0xC0) == 0x80 && (payload[7] & 0x80) != 0)
        m_tr101290.OnPts(pid);
}

void CTsAnalyzer::RotateRecent()
{
    m_recentPrevious.swap(m_recentCurrent);
    std::fill(m_recentCurrent.begin(), m_recentCurrent.end(), 0u);
    m_recentPreviousTotal = m_recentCurrentTotal;
    m_recentCurrentTotal = 0;
    // About one second of the stream per period, once the rate is known.
    const double bitsPerPacket = 8.0 * std::max(m_sync.PacketSize(), 188);
    const double perSecond = m_bitRate / bitsPerPacket;
    m_recentPeriod = std::clamp<std::uint64_t>(static_cast<std::uint64_t>(perSecond), kMinRecentPackets, 10'000'000);
}

void CTsAnalyzer::OnPcr(std::uint16_t pid, std::uint64_t pcr, bool discontinuity, std::uint64_t packetIndex)
{
    m_pcrSeen = true;
    PcrMeter* meter = nullptr;
    for (PcrMeter& candidate : m_pcrMeters)
        if (candidate.pid == pid)
            meter = &candidate;
    if (meter == nullptr)
    {
        if (m_pcrMeters.size() >= kMaxPcrPids)
            return;
        m_pcrMeters.push_back(PcrMeter{pid, CPcrRate{}});
        meter = &m_pcrMeters.back();
    }
    const std::uint64_t position = packetIndex * static_cast<std::uint64_t>(m_sync.PacketSize());
    if (!meter->rate.AddPcr(pcr, position, discontinuity))
        return;

    // Each PCR PID measures the same multiplex; the longest baseline is the most precise.
    const PcrMeter* best = nullptr;
    for (const PcrMeter& candidate : m_pcrMeters)
        if (candidate.rate.Rate() > 0.0 && (best == nullptr || candidate.rate.BaselinePcr() > best->rate.BaselinePcr()))
            best = &candidate;
    if (best != nullptr && best->rate.Rate() != m_bitRate)
    {
        m_bitRate = best->rate.Rate();
        m_tr101290.SetRate(m_bitRate);
    }
}

void CTsAnalyzer::OnPsiPayload(std::uint16_t pid, const std::uint8_t* packet, bool lostBefore)
{
    CSectionAssembler& assembler = *m_assemblers[pid];
    if (lostBefore)
        assembler.Reset();
    const std::size_t start = kTsHeaderBytes + (ts_has_adaptation(packet) ? 1 + ts_get_adaptation(packet) : 0);
    if (start >= kTsBytes)
        return;
    m_sectionPid = pid;
    assembler.Feed(packet + start, kTsBytes - start, ts_get_unitstart(packet), m_onSection);
    // A new PAT may have moved the PMTs (and the NIT), a PMT its streams.
    if (pid == CPsiTables::kPatPid || m_tables.IsPmtPid(pid))
        UpdatePsiPids();
}

void CTsAnalyzer::FillSnapshot(CAnalysisSnapshot& snapshot) const
{
    snapshot.packetSize = m_sync.PacketSize();
    snapshot.firstPacketOffset = m_sync.FirstPacketOffset();
    snapshot.syncLoss = m_sync.SyncLoss();
    snapshot.bitRate = m_bitRate;
    snapshot.pcrSeen = m_pcrSeen;
    snapshot.totalPackets = m_totalPackets;
    m_tables.FillSnapshot(snapshot);
    m_tr101290.Fill(snapshot.tr101290);
    snapshot.pids.clear();
    for (std::size_t pid = 0; pid < kPidCount; ++pid)
    {
        const CPidStats& stats = m_pids[pid];
        if (stats.packets == 0)
            continue;
        CPidEntry entry;
        entry.pid = static_cast<std::uint16_t>(pid);
        entry.stats = stats;
        const std::uint64_t recentTotal = m_recentCurrentTotal + m_recentPreviousTotal;
        if (recentTotal > 0)
            entry.bitRate = m_bitRate *
                            static_cast<double>(std::uint64_t{m_recentCurrent[pid]} + m_recentPrevious[pid]) /
                            static_cast<double>(recentTotal);
        snapshot.pids.push_back(entry);
    }
}
