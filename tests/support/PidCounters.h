#pragma once
//! @file PidCounters.h
//! Analysis snapshots made by hand from per-PID packet counters, for the
//! bit-rate history and the graph drawn from it.

#include "analysis/CAnalysisSnapshot.h"

#include <cstdint>
#include <utility>
#include <vector>

namespace tstest
{
using PidPackets = std::vector<std::pair<std::uint16_t, std::uint64_t>>;

//! A snapshot whose PIDs have counted @p packets so far (the total is their sum).
inline CAnalysisSnapshot PidCounters(const PidPackets& packets, int packetSize = 188)
{
    CAnalysisSnapshot snapshot;
    snapshot.packetSize = packetSize;
    for (const auto& [pid, count] : packets)
    {
        CPidEntry entry;
        entry.pid = pid;
        entry.stats.packets = count;
        snapshot.pids.push_back(entry);
        snapshot.totalPackets += count;
    }
    return snapshot;
}

//! The counters after @p seconds of PIDs each sending its given packets per second.
inline CAnalysisSnapshot SteadyCounters(const PidPackets& perSecond, std::uint64_t seconds, int packetSize = 188)
{
    PidPackets counted = perSecond;
    for (auto& [pid, count] : counted)
        count *= seconds;
    return PidCounters(counted, packetSize);
}
} // namespace tstest
