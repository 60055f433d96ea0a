#pragma once
//! @file CPsiTables.h
//! The PSI/SI tables of a stream, from complete sections: PAT, the PMT of every
//! program, the SDT of the actual transport stream (service and provider names),
//! TDT and TOT. Sections with a bad CRC are rejected and reported to the caller.
//! Memory is bounded: at most kMaxPrograms programs and services are kept.

#include "analysis/CAnalysisSnapshot.h"

#include <bitset>
#include <cstddef>
#include <cstdint>
#include <map>

class CPsiTables
{
public:
    static constexpr std::uint16_t kPatPid = 0x0000;
    static constexpr std::uint16_t kSdtPid = 0x0011;
    static constexpr std::uint16_t kTdtPid = 0x0014;
    //! Programs (and services) tracked; more are counted but not kept.
    static constexpr std::size_t kMaxPrograms = 4096;

    enum class Result
    {
        Used,     //!< the section was understood (or is of a table we do not need)
        BadCrc,   //!< CRC_32 wrong: ignored
        Malformed //!< lengths inconsistent: ignored
    };

    void Reset();
    //! One complete section received on @p pid.
    Result OnSection(std::uint16_t pid, std::uint8_t* section, std::size_t length);

    //! PIDs that carry PMTs according to the PAT.
    bool IsPmtPid(std::uint16_t pid) const { return m_pmtPids.test(pid & 0x1FFF); }
    const std::bitset<8192>& PmtPids() const { return m_pmtPids; }
    //! Changes each time the set of PMT PIDs changes.
    std::uint32_t PmtPidGeneration() const { return m_pmtGeneration; }
    //! PIDs listed in the PMTs (elementary streams), and a number that changes with them.
    const std::bitset<8192>& StreamPids() const { return m_streamPids; }
    std::uint32_t StreamPidGeneration() const { return m_streamGeneration; }
    //! The NIT PID the PAT gives (program 0); 0 while none.
    std::uint16_t NetworkPid() const { return m_networkPid; }
    //! The PCR PID of the program whose PMT lists elementary @p pid; 0x1FFF if none.
    std::uint16_t PcrPidOf(std::uint16_t pid) const;
    //! First TDT or TOT time of the stream, s since 1970; 0 while none.
    std::int64_t FirstTime() const { return m_firstTime; }

    //! Copies the tables into @p snapshot.
    void FillSnapshot(CAnalysisSnapshot& snapshot) const;

private:
    Result OnPat(std::uint8_t* section);
    Result OnPmt(std::uint16_t pid, std::uint8_t* section);
    Result OnSdt(std::uint8_t* section);
    void OnTime(std::int64_t time, bool isTot);
    void RebuildPmtPids();
    void RebuildStreamPids();

    bool m_hasPat = false;
    std::uint8_t m_patVersion = 0xFF;
    std::uint16_t m_transportStreamId = 0;
    std::uint16_t m_networkPid = 0;
    std::uint32_t m_programsDropped = 0;
    std::map<std::uint16_t, CProgramInfo> m_programs;
    std::map<std::uint16_t, CServiceInfo> m_services;
    std::bitset<8192> m_pmtPids;
    std::uint32_t m_pmtGeneration = 0;
    std::bitset<8192> m_streamPids;
    std::uint32_t m_streamGeneration = 0;
    std::int64_t m_firstTime = 0;
    std::int64_t m_lastTdt = 0;
    std::int64_t m_lastTot = 0;
};
