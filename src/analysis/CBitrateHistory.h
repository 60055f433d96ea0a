#pragma once
//! @file CBitrateHistory.h
//! The bit rates of the last minutes of a stream, total and per PID, for the
//! bit-rate graph. Fed about once a second with the analysis object's snapshot:
//! the rates come from the packet counters' growth over the time between two
//! snapshots (packets x packet size x 8 / elapsed seconds), not from the PCR, so
//! they show what really arrived or left.
//!
//! Memory stays bounded whatever the stream holds (up to 8,192 PIDs): each sample
//! keeps only the PIDs with the highest rates of that second, the rest counted
//! together as "other", and samples older than the window are dropped.
//!
//! Threads: not thread-safe; one owner (the window thread's timer) calls everything.

#include "analysis/CAnalysisSnapshot.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

class CBitrateHistory
{
public:
    static constexpr int kDefaultWindowSeconds = 300;
    //! PIDs kept per sample; the rest go to "other".
    static constexpr std::size_t kDefaultTrackedPids = 16;
    static constexpr std::size_t kPidCount = 8192;
    //! Assumed when the snapshot has no packet size yet.
    static constexpr int kDefaultPacketSize = 188;

    struct CPidRate
    {
        std::uint16_t pid = 0;
        double bitsPerSecond = 0.0;
    };

    //! One second (or so) of the stream.
    struct CSample
    {
        std::int64_t timeMs = 0; //!< when the snapshot was taken (the owner's clock)
        double totalBitsPerSecond = 0.0;
        std::vector<CPidRate> pids;      //!< the highest rates of this sample, highest first
        double otherBitsPerSecond = 0.0; //!< every PID not in @c pids
    };

    explicit CBitrateHistory(int windowSeconds = kDefaultWindowSeconds, std::size_t trackedPids = kDefaultTrackedPids);

    //! Forgets the samples and the counters (a new run starts).
    void Clear();

    //! Takes the counters of @p snapshot at @p nowMs (milliseconds, never going
    //! back). The first call after Clear only sets the starting counters.
    //! Counters that went down (the analysis was reset) start again from there,
    //! without a sample. An empty snapshot (no packet counted: the analysis was
    //! busy or just reset) is skipped.
    //! @return true when a sample was added.
    bool Add(const CAnalysisSnapshot& snapshot, std::int64_t nowMs);

    int WindowSeconds() const { return m_windowSeconds; }
    std::size_t TrackedPids() const { return m_trackedPids; }
    //! Samples of the window, oldest first.
    const std::deque<CSample>& Samples() const { return m_samples; }
    bool IsEmpty() const { return m_samples.empty(); }
    //! The highest total rate of the window, bit/s.
    double PeakTotal() const;
    //! Up to @p count PIDs with the highest mean rates over the window, highest
    //! first (the same PID order from one second to the next while rates hold).
    std::vector<std::uint16_t> TopPids(std::size_t count) const;
    //! The rate of @p pid in @p sample, 0 when it was not among the sample's PIDs.
    static double PidRate(const CSample& sample, std::uint16_t pid);

private:
    int m_windowSeconds;
    std::size_t m_trackedPids;
    std::size_t m_maxSamples;
    std::deque<CSample> m_samples;
    bool m_started = false;
    std::int64_t m_lastTimeMs = 0;
    std::uint64_t m_lastTotal = 0;
    std::vector<std::uint64_t> m_lastPackets; //!< per PID, at the last snapshot
    std::vector<std::uint64_t> m_currentPackets;
    std::vector<CPidRate> m_scratch; //!< every PID's rate of the current snapshot
};
