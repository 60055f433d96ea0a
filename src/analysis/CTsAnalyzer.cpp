#include "analysis/CTsAnalyzer.h"

#include <bitstream/mpeg/ts.h>

#include <algorithm>

namespace
{
constexpr std::size_t kTsHeaderBytes = 4;
constexpr std::size_t kTsBytes = 188;
} // namespace

CTsAnalyzer::CTsAnalyzer()
    : m_sync(*this), m_pids(kPidCount), m_recentCurrent(kPidCount, 0), m_recentPrevious(kPidCount, 0)
{
    m_pcrMeters.reserve(kMaxPcrPids);
    m_onSection = [this](std::uint8_t* section, std::size_t length) {
        if (m_tables.OnSection(m_sectionPid, section, length) == CPsiTables::Result::BadCrc)
            ++m_pids[m_sectionPid].crcErrors;
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
    }
    if (programList)
    {
        m_tables.Reset();
        for (auto& assembler : m_assemblers)
            assembler.reset();
        m_psiGeneration = ~0u;
        UpdatePsiPids();
    }
}

void CTsAnalyzer::UpdatePsiPids()
{
    // Section buffers exist only for the PIDs that carry tables we read.
    if (m_tables.PmtPidGeneration() == m_psiGeneration)
        return;
    m_psiGeneration = m_tables.PmtPidGeneration();
    for (std::size_t pid = 0; pid < kPidCount; ++pid)
    {
        const bool wanted = pid == CPsiTables::kPatPid || pid == CPsiTables::kSdtPid || pid == CPsiTables::kTdtPid ||
                            m_tables.IsPmtPid(static_cast<std::uint16_t>(pid));
        if (wanted && !m_assemblers[pid])
            m_assemblers[pid] = std::make_unique<CSectionAssembler>();
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
    if (ts_get_transporterror(packet))
    {
        // The demodulator says the packet is damaged: nothing in it can be trusted.
        ++stats.transportErrors;
        return;
    }
    if (ts_get_scrambling(packet) != 0)
        ++stats.scrambledPackets;

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
                ++stats.continuityErrors;
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
        OnPcr(pid, pcr, discontinuity, packetIndex);
    }

    if (hasPayload && m_assemblers[pid])
        OnPsiPayload(pid, packet, lost || discontinuity);
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
    if (best != nullptr)
        m_bitRate = best->rate.Rate();
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
    // A new PAT may have moved the PMTs.
    if (pid == CPsiTables::kPatPid)
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
