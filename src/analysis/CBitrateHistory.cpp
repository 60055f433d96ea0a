#include "analysis/CBitrateHistory.h"

#include <algorithm>
#include <map>

CBitrateHistory::CBitrateHistory(int windowSeconds, std::size_t trackedPids)
    : m_windowSeconds(std::max(windowSeconds, 1)), m_trackedPids(std::max<std::size_t>(trackedPids, 1)),
      // One sample a second, with room for a timer that runs a little fast.
      m_maxSamples(static_cast<std::size_t>(m_windowSeconds) * 2 + 2), m_lastPackets(kPidCount, 0),
      m_currentPackets(kPidCount, 0)
{
    m_scratch.reserve(kPidCount);
}

void CBitrateHistory::Clear()
{
    m_samples.clear();
    m_started = false;
    m_lastTimeMs = 0;
    m_lastTotal = 0;
    std::fill(m_lastPackets.begin(), m_lastPackets.end(), 0);
}

bool CBitrateHistory::Add(const CAnalysisSnapshot& snapshot, std::int64_t nowMs)
{
    if (snapshot.totalPackets == 0 && snapshot.pids.empty() && m_started)
        return false;
    const bool counting = m_started && snapshot.totalPackets >= m_lastTotal;
    const std::int64_t elapsedMs = nowMs - m_lastTimeMs;
    if (m_started && counting && elapsedMs <= 0)
        return false;

    const double bitsPerPacket = 8.0 * (snapshot.packetSize > 0 ? snapshot.packetSize : kDefaultPacketSize);
    const double perSecond = counting ? bitsPerPacket * 1000.0 / static_cast<double>(elapsedMs) : 0.0;
    std::vector<std::uint64_t>& current = m_currentPackets;
    std::fill(current.begin(), current.end(), 0);
    m_scratch.clear();
    for (const CPidEntry& entry : snapshot.pids)
    {
        if (entry.pid >= kPidCount)
            continue;
        current[entry.pid] = entry.stats.packets;
        // A PID whose counter went down was reset: what it has now came since.
        const std::uint64_t before = m_lastPackets[entry.pid];
        const std::uint64_t grown = entry.stats.packets >= before ? entry.stats.packets - before : entry.stats.packets;
        if (counting && grown > 0)
            m_scratch.push_back({entry.pid, static_cast<double>(grown) * perSecond});
    }
    const std::uint64_t totalGrown = counting ? snapshot.totalPackets - m_lastTotal : 0;
    m_lastPackets.swap(current);
    m_lastTotal = snapshot.totalPackets;
    m_lastTimeMs = nowMs;
    if (!counting)
    {
        m_started = true;
        return false;
    }

    CSample sample;
    sample.timeMs = nowMs;
    sample.totalBitsPerSecond = static_cast<double>(totalGrown) * perSecond;
    const std::size_t kept = std::min(m_trackedPids, m_scratch.size());
    std::partial_sort(m_scratch.begin(), m_scratch.begin() + static_cast<std::ptrdiff_t>(kept), m_scratch.end(),
                      [](const CPidRate& a, const CPidRate& b) {
                          return a.bitsPerSecond != b.bitsPerSecond ? a.bitsPerSecond > b.bitsPerSecond : a.pid < b.pid;
                      });
    sample.pids.assign(m_scratch.begin(), m_scratch.begin() + static_cast<std::ptrdiff_t>(kept));
    double listed = 0.0;
    for (const CPidRate& rate : sample.pids)
        listed += rate.bitsPerSecond;
    // The total counts every packet; the PIDs' sum can only fall short of it.
    sample.otherBitsPerSecond = std::max(0.0, sample.totalBitsPerSecond - listed);
    m_samples.push_back(std::move(sample));

    const std::int64_t oldest = nowMs - static_cast<std::int64_t>(m_windowSeconds) * 1000;
    while (m_samples.size() > m_maxSamples || m_samples.front().timeMs < oldest)
        m_samples.pop_front();
    return true;
}

double CBitrateHistory::PeakTotal() const
{
    double peak = 0.0;
    for (const CSample& sample : m_samples)
        peak = std::max(peak, sample.totalBitsPerSecond);
    return peak;
}

std::vector<std::uint16_t> CBitrateHistory::TopPids(std::size_t count) const
{
    // At most window x tracked PIDs: small, and only when the graph is drawn.
    std::map<std::uint16_t, double> sums;
    for (const CSample& sample : m_samples)
        for (const CPidRate& rate : sample.pids)
            sums[rate.pid] += rate.bitsPerSecond;
    std::vector<CPidRate> ranked;
    ranked.reserve(sums.size());
    for (const auto& [pid, sum] : sums)
        ranked.push_back({pid, sum});
    std::stable_sort(ranked.begin(), ranked.end(),
                     [](const CPidRate& a, const CPidRate& b) { return a.bitsPerSecond > b.bitsPerSecond; });
    std::vector<std::uint16_t> pids;
    for (std::size_t i = 0; i < ranked.size() && i < count; ++i)
        pids.push_back(ranked[i].pid);
    return pids;
}

double CBitrateHistory::PidRate(const CSample& sample, std::uint16_t pid)
{
    for (const CPidRate& rate : sample.pids)
        if (rate.pid == pid)
            return rate.bitsPerSecond;
    return 0.0;
}
