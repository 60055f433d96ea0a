#pragma once
//! @file CSeamlessMerge.h
//! SMPTE 2022-7 seamless protection switching, receiver side: the same RTP
//! stream arrives over two paths; every sequence number is passed on once, from
//! whichever path delivered it first, in the order the first copies arrive (the
//! receiver's re-ordering comes after). A copy is expected within the path-skew
//! window (default 50 ms, at most 500 ms) of the first one; one arriving later
//! is dropped and counted late, never passed a second time. A sequence number
//! neither path delivered within the window after its gap showed stays a gap.
//!
//! Once a sequence number's window has passed it is settled and counted: only
//! on one path (and missing on the other), or missing on both. A path that goes
//! silent counts as missing everything; when it comes back its numbering is
//! taken up again from the other path's.
//!
//! Sequence numbers are 16 bits: the window also cannot reach more than 32,768
//! datagrams back (about 350 ms at 1 Gbit/s of 1,328-byte datagrams).
//! No I/O, no threads, memory taken once (1.5 MB); time is given by the caller
//! (CLOCK_MONOTONIC, ns). One thread calls everything.

#include <array>
#include <cstdint>
#include <span>
#include <vector>

class CSeamlessMerge
{
public:
    static constexpr std::uint32_t kPaths = 2;
    static constexpr std::uint32_t kDefaultWindowMs = 50;
    static constexpr std::uint32_t kMaxWindowMs = 500;

    enum class Verdict : std::uint8_t
    {
        Pass,      //!< first copy of this sequence number: pass it on
        Copy,      //!< the other path's copy, within the window: drop it
        Duplicate, //!< this path delivered it already: drop it
        Late,      //!< beyond the window (or its gap was given up): drop it
        Malformed  //!< not RTP version 2, or no such path: drop it
    };

    struct PathCounters
    {
        std::uint64_t received = 0;   //!< datagrams taken on this path (all verdicts)
        std::uint64_t passed = 0;     //!< first copies that came from this path
        std::uint64_t missing = 0;    //!< settled sequence numbers this path did not bring in time
        std::uint64_t onlyHere = 0;   //!< settled sequence numbers only this path brought
        std::uint64_t late = 0;       //!< copies dropped for arriving beyond the window
        std::uint64_t duplicates = 0; //!< repeated on this path
        std::uint64_t malformed = 0;
        std::int64_t lastArrivalNs = -1;
    };

    struct Counters
    {
        std::array<PathCounters, kPaths> path;
        std::uint64_t passed = 0;
        std::uint64_t lostBoth = 0;    //!< settled sequence numbers neither path brought
        std::int64_t skewLatestNs = 0; //!< how long the last second copy trailed the first
        std::int64_t skewMaxNs = 0;
        std::uint32_t leadingPath = 0; //!< the path of the last first copy a copy trailed
    };

    CSeamlessMerge();

    //! @param ms path-skew window, 1-500. @return false (unchanged) otherwise.
    bool SetWindowMs(std::uint32_t ms);
    std::uint32_t GetWindowMs() const { return static_cast<std::uint32_t>(m_windowNs / 1'000'000); }

    //! Takes a datagram of path @p path (0 or 1) that arrived at @p nowNs.
    Verdict Add(std::uint32_t path, std::int64_t nowNs, std::span<const std::uint8_t> datagram);
    //! Settles what the window has passed by @p nowNs (call it now and then when
    //! both paths are silent, so that the counters move on).
    void Settle(std::int64_t nowNs);
    //! End of stream: settles everything.
    void Flush();
    //! Forgets all sequence numbers (counters stay).
    void Reset();

    //! A path is alive when it delivered within the window before @p nowNs.
    bool IsPathAlive(std::uint32_t path, std::int64_t nowNs) const;
    const Counters& GetCounters() const { return m_counters; }

private:
    struct Entry
    {
        std::int64_t sequence = -1;
        std::int64_t timeNs = 0; // first copy, or when the gap showed
        std::uint8_t paths = 0;  // bit per path that delivered it in time
    };

    std::int64_t Unwrap(std::uint32_t path, std::int64_t nowNs, std::uint16_t sequence) const;
    Entry& At(std::int64_t s) { return m_ring[static_cast<std::uint32_t>(s) & (kRing - 1)]; }
    void SettleOne();
    void NoteSkew(std::uint32_t leading, std::int64_t skewNs);

    static constexpr std::uint32_t kRing = 65'536;
    std::vector<Entry> m_ring;
    std::array<std::int64_t, kPaths> m_pathLast{-1, -1}; // last unwrapped sequence number per path
    std::int64_t m_high = -1;                            // highest sequence number seen
    std::int64_t m_tail = 0;                             // oldest not settled
    std::int64_t m_windowNs = std::int64_t{kDefaultWindowMs} * 1'000'000;
    Counters m_counters;
};
