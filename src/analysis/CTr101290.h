#pragma once
//! @file CTr101290.h
//! The ETSI TR 101 290 priority 1 and 2 indicators of one stream, judged on the
//! packets CTsAnalyzer hands over (and the sync events of CPacketSync).
//!
//! Time base: the stream's own. A packet's time is its byte position (packets since
//! Reset() times the packet size) at the measured PCR rate, so a file and a live
//! stream are judged alike and the result does not depend on how the bytes were cut
//! into chunks or when they arrived (arrival jitter is MDI's business). Limits in
//! seconds become limits in bytes at the rate given to SetRate(); while no rate is
//! known no interval is judged (the gaps are judged once it is known). PCR accuracy
//! uses each PCR PID's own line of PCR against byte position (its constant rate, not
//! disturbed by lost packets elsewhere).
//!
//! Counting: an event per bad packet or section (scrambled PID 0, a wrong table_id,
//! a bad CRC, a continuity error, ...; scrambled packets without a CAT at most once a
//! second) and one per gap for the interval rules (PAT, PMT, PID, PCR, PTS): a gap is
//! counted once, when it passes its limit. "Active" = an event, or an open gap,
//! within the last second of stream time.
//!
//! Memory is fixed: a few arrays over the 8,192 PIDs and kMaxPcrPids PCR states.
//! Not thread-safe: CTsAnalyzer's owner serialises the calls.

#include "analysis/CTr101290Counters.h"

#include <array>
#include <bitset>
#include <cstdint>
#include <vector>

class CTr101290
{
public:
    using Indicator = CTr101290Counters::Indicator;
    static constexpr std::size_t kPidCount = 8192;
    //! PIDs whose PCRs are judged; PCRs of further PIDs are not.
    static constexpr std::size_t kMaxPcrPids = 64;
    static constexpr double kDefaultPidTimeoutSeconds = 5.0;
    static constexpr double kPatIntervalSeconds = 0.5;
    static constexpr double kPmtIntervalSeconds = 0.5;
    static constexpr double kPcrRepetitionSeconds = 0.040;
    static constexpr double kPtsIntervalSeconds = 0.700;
    static constexpr double kActiveSeconds = 1.0;
    //! PCR_discontinuity_indicator_error: a step beyond 100 ms (27 MHz ticks).
    static constexpr std::uint64_t kPcrDiscontinuityTicks = 27'000'000 / 10;
    //! PCR_accuracy_error: more than 500 ns off (27 MHz ticks).
    static constexpr double kPcrAccuracyTicks = 13.5;
    //! "Last second" while no rate is known (a nominal 10 Mbit/s).
    static constexpr std::uint64_t kNominalSecondBytes = 10'000'000 / 8;

    CTr101290();

    //! A new run: counters, baselines and the stream clock from zero.
    void Reset();
    //! The stream continues elsewhere (jump, loop): PCR and PTS baselines are
    //! forgotten; counters, gaps and the clock go on.
    void Restart();
    //! PID_error limit, seconds (> 0).
    void SetPidTimeout(double seconds);
    double PidTimeout() const { return m_pidTimeoutSeconds; }
    //! The measured transport rate, bit/s (0 = unknown).
    void SetRate(double bitRate);

    //! Every packet, damaged or not, first: advances the clock; a referenced PID
    //! that comes back after more than the time-out was absent too long.
    void OnPacket(std::uint16_t pid, int packetSize)
    {
        m_position += static_cast<std::uint64_t>(packetSize);
        m_packetSize = packetSize;
        std::uint64_t& seen = m_lastSeen[pid];
        if (m_position - seen > m_pidTimeoutBytes)
            OnLongAbsence(pid);
        seen = m_position;
        if (m_position >= m_nextCheck)
            CheckGaps();
    }
    //! A packet with the transport_error_indicator set: nothing else in it is judged,
    //! and the PID's PCR and PTS baselines are dropped (the chain is broken).
    void OnTransportError(std::uint16_t pid);
    //! A packet with transport_scrambling_control not 00.
    void OnScrambled(std::uint16_t pid);
    //! A continuity error, as CTsAnalyzer counts it per PID.
    void OnContinuityError();
    //! CPacketSync found no sync byte where one was due (the packet is lost).
    void OnSyncByteError();
    //! CPacketSync lost the packet grid (2 or more sync bytes missing).
    void OnSyncLoss() { Event(Indicator::TsSyncLoss); }
    //! A PES start with a PTS on @p pid.
    void OnPts(std::uint16_t pid);
    //! A PCR (27 MHz units) of @p pid; @p discontinuity = the packet's discontinuity
    //! indicator. @return true when the PCR leaves the time base without the flag
    //! (the caller then treats it as a discontinuity too).
    bool OnPcr(std::uint16_t pid, std::uint64_t pcr, bool discontinuity);
    //! A complete section on @p pid; @p crcOk false when its CRC_32 is wrong
    //! (only sections that carry one: the caller counts CRC_error through OnCrcError).
    void OnSection(std::uint16_t pid, std::uint8_t tableId, bool crcOk);
    void OnCrcError() { Event(Indicator::CrcError); }
    //! PIDs that carry PMTs according to the PAT.
    void SetPmtPids(const std::bitset<kPidCount>& pids);
    //! PIDs listed in the PMTs (PID_error watches them).
    void SetReferencedPids(const std::bitset<kPidCount>& pids);

    //! Counters and the active flags now.
    void Fill(CTr101290Counters& counters) const;
    //! Stream bytes since Reset() (the clock).
    std::uint64_t Position() const { return m_position; }

private:
    static constexpr std::uint64_t kNever = ~std::uint64_t{0};

    struct PcrPoint
    {
        std::uint64_t pcr = 0;      // 27 MHz
        std::uint64_t position = 0; // byte position of its packet
    };
    struct PcrState
    {
        std::uint16_t pid = 0;
        bool valid = false; // last holds the previous PCR
        PcrPoint last;
        // Accuracy: the rate is the slope from base to good (the last PCR judged
        // good); suspect is a PCR that was off (a new time base if the next agrees).
        int points = 0; // 0 none, 1 base only, 2 base and good
        PcrPoint base;
        PcrPoint good;
        bool suspectValid = false;
        PcrPoint suspect;
    };

    void Event(Indicator indicator);
    void OnLongAbsence(std::uint16_t pid);
    void CheckGaps();
    PcrState* PcrStateOf(std::uint16_t pid);
    void JudgeAccuracy(PcrState& state, const PcrPoint& now);
    void ForgetPcrLines();
    std::uint64_t Bytes(double seconds) const;

    std::uint64_t m_position = 0;
    int m_packetSize = 188;
    double m_rate = 0.0;
    double m_pidTimeoutSeconds = kDefaultPidTimeoutSeconds;
    // Limits in bytes at the measured rate; kNever while no rate is known.
    std::uint64_t m_pidTimeoutBytes = kNever;
    std::uint64_t m_patBytes = kNever;
    std::uint64_t m_pmtBytes = kNever;
    std::uint64_t m_pcrRepetitionBytes = kNever;
    std::uint64_t m_ptsBytes = kNever;
    std::uint64_t m_secondBytes = kNominalSecondBytes;
    std::uint64_t m_checkBytes = kNominalSecondBytes / 20;
    std::uint64_t m_nextCheck = 0;

    CTr101290Counters m_counters;
    std::array<std::uint64_t, CTr101290Counters::kCount> m_lastEvent{};
    std::array<bool, CTr101290Counters::kCount> m_eventSeen{};

    // Per PID: byte positions of its last packet, PMT section and PTS.
    std::vector<std::uint64_t> m_lastSeen;
    std::vector<std::uint64_t> m_lastPmt;
    std::vector<std::uint64_t> m_lastPts;
    std::bitset<kPidCount> m_ptsValid; // m_lastPts holds a baseline
    std::bitset<kPidCount> m_pmtPids;
    std::bitset<kPidCount> m_referenced;
    std::vector<std::uint16_t> m_pmtList; // the same PIDs as lists, for the periodic check
    std::vector<std::uint16_t> m_referencedList;
    std::bitset<kPidCount> m_pidGapOpen; // PID_error counted, the PID not back yet
    std::bitset<kPidCount> m_pmtGapOpen; // PMT_error counted, no PMT since
    std::uint64_t m_lastPat = 0;
    bool m_patGapOpen = false;
    bool m_catSeen = false;
    std::vector<PcrState> m_pcr;
};
