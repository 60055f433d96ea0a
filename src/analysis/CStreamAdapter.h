#pragma once
//! @file CStreamAdapter.h
//! The adaptations applied while playing, in place, on whole packets about to be
//! sent: PCR restamping from the packet's position in the output at the play bit
//! rate, PTS/DTS shifted by the same amount as the PCR of their program,
//! continuity counters continued across loops and jumps, and the TDT/TOT time
//! rewritten along the output timeline (TOT CRC recomputed).
//!
//! The output timeline starts with NewPlay and is never broken afterwards:
//! jumps and loops only Rebase the link between file and output (the PTS/DTS
//! shift and the continuity offsets). Bytes that leave outside the adapted
//! chunks (stuffing bursts) or are dropped before sending (the FIFO emptied at a
//! jump) are reported with AddOutputBytes, so that positions are wire positions.
//! Single-threaded: CDecodeStream serialises the calls. See docs/adaptations.md.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

struct CAdaptSettings
{
    bool pcr = false;  //!< PCR and PTS/DTS restamping
    bool cc = false;   //!< continuity-counter restamping
    bool time = false; //!< TDT/TOT rewriting
    int timeType = 0;  //!< 0 file time, 1 current time, 2 specified time
    std::int64_t timeOffset = 0;
    std::int64_t fileTime = 0; //!< first TDT/TOT time of the file, 0 = unknown
    double playBitRate = 0.0;  //!< bit/s; 0 = nothing is restamped
};

class CStreamAdapter
{
public:
    static constexpr std::uint64_t kPcrModulus = (std::uint64_t{1} << 33) * 300; // 27 MHz
    static constexpr std::uint64_t kPtsModulus = std::uint64_t{1} << 33;         // 90 kHz
    static constexpr std::uint16_t kNullPid = 0x1FFF;
    static constexpr std::uint16_t kTimePid = 0x0014;
    //! Packets remembered for the continuity state of a FIFO dropped at a jump
    //! (30 MiB of 188-byte packets and a chunk).
    static constexpr std::size_t kHistoryPackets = std::size_t{1} << 18;

    //! The PCR PID of the program an elementary PID belongs to, kNullPid if none.
    using PcrPidLookup = std::function<std::uint16_t(std::uint16_t)>;

    CStreamAdapter();

    //! A new output timeline: position 0 now, wall clock @p now (s since 1970).
    void NewPlay(std::int64_t now);
    //! The stream continues at another place of the file (jump, loop).
    void Rebase();
    //! Bytes sent (+) or dropped (-) outside Process.
    void AddOutputBytes(std::int64_t bytes, int packetSize);
    //! Adapts [data, data + length), starting at a packet boundary; packets that are
    //! not whole or do not start with the sync byte pass unchanged.
    void Process(std::uint8_t* data, std::size_t length, int packetSize, const CAdaptSettings& settings,
                 const PcrPidLookup& pcrPidOf);

    std::int64_t OutputPosition() const { return m_position; }

private:
    struct PidState
    {
        bool pcrBased = false;     // PCR base known (once per timeline)
        bool shiftKnown = false;   // PTS/DTS shift measured since the last rebase
        bool ccKnown = false;      // continuity offset chosen since the last rebase
        std::int8_t lastCc = -1;   // last counter sent, -1 none
        std::uint8_t ccOffset = 0; // added to the file's counter
        std::uint64_t pcrBase = 0; // 27 MHz, output PCR at output tick 0
        std::uint64_t shift90 = 0; // PTS/DTS shift, 90 kHz, modulo 2^33
    };

    //! Output 27 MHz ticks since the timeline start at output position @p position.
    std::uint64_t Ticks(std::int64_t position) const;
    void UpdateRate(double rate);
    void RestampPcr(std::uint8_t* packet, std::uint16_t pid, std::int64_t position);
    void RestampPes(std::uint8_t* packet, std::uint16_t pid, const std::uint8_t* rest, std::size_t restLength,
                    std::int64_t restPosition, int packetSize, const PcrPidLookup& pcrPidOf);
    bool LookAheadShift(std::uint16_t pcrPid, const std::uint8_t* rest, std::size_t restLength,
                        std::int64_t restPosition, int packetSize);
    void RestampCc(std::uint8_t* packet, std::uint16_t pid);
    void RewriteTime(std::uint8_t* packet, std::int64_t position, const CAdaptSettings& settings);
    std::int64_t TimeAt(std::int64_t position, const CAdaptSettings& settings, std::int64_t sectionTime);
    void Remember(std::uint16_t pid, int cc);

    std::vector<PidState> m_pids;
    std::int64_t m_position = 0; // output bytes since NewPlay
    std::int64_t m_wallStart = 0;
    bool m_skipLeading = true; // bytes before the first packet after a start or rebase are not sent
    // The rate may change while playing: ticks are counted from the last change.
    double m_rate = 0.0;
    std::int64_t m_anchorPosition = 0;
    std::uint64_t m_anchorTicks = 0;
    std::uint16_t m_lastPcrPid = kNullPid;
    // Time type 0: the file time belongs to the first rewritten TDT/TOT.
    bool m_fileTimeAnchored = false;
    std::int64_t m_fileTimeStart = 0;
    std::uint64_t m_fileTimeTicks = 0;
    // PID (13 bits) | counter << 13 | sent-counter flag << 17 of the last packets sent.
    std::vector<std::uint32_t> m_history;
    std::size_t m_historyNext = 0;
    std::size_t m_historyFill = 0;
};
