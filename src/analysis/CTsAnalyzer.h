#pragma once
//! @file CTsAnalyzer.h
//! The analysis of one stream, single-threaded: packets from CPacketSync, per-PID
//! counters (continuity, transport errors, scrambling, PCR), the PCR bit rate,
//! the PSI/SI tables and the TR 101 290 indicators (CTr101290). CDecodeStream wraps it with the chunk contract and the
//! lock. Memory is fixed by the PID space (8,192 counters, at most kMaxPcrPids rate meters, section buffers only for
//! PSI PIDs) and the table limits of CPsiTables.

#include "analysis/CAnalysisSnapshot.h"
#include "analysis/CPacketSync.h"
#include "analysis/CPcrRate.h"
#include "analysis/CPsiTables.h"
#include "analysis/CSectionAssembler.h"
#include "analysis/CTr101290.h"

#include <array>
#include <memory>
#include <vector>

class CTsAnalyzer final : public IPacketHandler
{
public:
    static constexpr std::size_t kPidCount = 8192;
    static constexpr std::uint16_t kNullPid = 0x1FFF;
    //! PIDs whose PCRs are measured; further PCR PIDs are only flagged.
    static constexpr std::size_t kMaxPcrPids = 64;
    //! The per-PID rates are shares of the packets of the last one to two periods;
    //! a period is about one second of the stream, at least this many packets.
    static constexpr std::uint64_t kMinRecentPackets = 2000;

    CTsAnalyzer();

    //! Next bytes of the stream.
    void Feed(const std::uint8_t* data, std::size_t length) { m_sync.Feed(data, length); }
    //! The stream continues elsewhere (jump, loop): partial packets and sections,
    //! continuity and PCR baselines are forgotten; counters and tables stay.
    void Restart();
    //! Clears the PID counters (and with them the stream figures) and/or the tables.
    void Reset(bool pidList, bool programList);

    CPacketSync& Sync() { return m_sync; }
    const CPacketSync& Sync() const { return m_sync; }
    double BitRate() const { return m_bitRate; }
    bool PcrSeen() const { return m_pcrSeen; }
    std::int64_t FirstTime() const { return m_tables.FirstTime(); }
    std::uint16_t PcrPidOf(std::uint16_t pid) const { return m_tables.PcrPidOf(pid); }
    //! The TR 101 290 indicators (for their settings; the counts are in the snapshot).
    CTr101290& Tr101290() { return m_tr101290; }

    void FillSnapshot(CAnalysisSnapshot& snapshot) const;

    void OnPacket(const std::uint8_t* packet, std::uint64_t packetIndex) override;
    void OnSyncByteError() override { m_tr101290.OnSyncByteError(); }
    void OnSyncLoss() override { m_tr101290.OnSyncLoss(); }

private:
    struct PcrMeter
    {
        std::uint16_t pid = 0;
        CPcrRate rate;
    };

    void OnPcr(std::uint16_t pid, std::uint64_t pcr, bool discontinuity, std::uint64_t packetIndex);
    void OnPsiPayload(std::uint16_t pid, const std::uint8_t* packet, bool lostBefore);
    void UpdatePsiPids();
    void OnPesStart(std::uint16_t pid, const std::uint8_t* payload, std::size_t length);
    void RotateRecent();

    CPacketSync m_sync;
    std::vector<CPidStats> m_pids; // kPidCount entries
    std::uint64_t m_totalPackets = 0;
    // Packets per PID of the current and the previous period (the recent rates).
    std::vector<std::uint32_t> m_recentCurrent;
    std::vector<std::uint32_t> m_recentPrevious;
    std::uint64_t m_recentCurrentTotal = 0;
    std::uint64_t m_recentPreviousTotal = 0;
    std::uint64_t m_recentPeriod = kMinRecentPackets;
    std::vector<PcrMeter> m_pcrMeters;
    double m_bitRate = 0.0;
    bool m_pcrSeen = false;
    CPsiTables m_tables;
    std::uint32_t m_psiGeneration = ~0u;
    std::uint16_t m_nitPid = 0;
    std::uint32_t m_streamGeneration = ~0u;
    CTr101290 m_tr101290;
    std::array<std::unique_ptr<CSectionAssembler>, kPidCount> m_assemblers;
    CSectionAssembler::SectionCallback m_onSection;
    std::uint16_t m_sectionPid = 0;
};
