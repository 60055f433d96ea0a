#pragma once
// Opening a network sender towards a loopback receiver and feeding it
// numbered packets (tstest::MakePackets), for the pacing suites.

#include "engine/CNetworkSender.h"
#include "engine/LoopbackReceiver.h"
#include "engine/TsTestStream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace senderfeed
{
constexpr std::uint32_t kLoopback = 0x7F000001;
constexpr std::uint32_t kUnit = 7 * 188;

//! Opens @p sender towards @p rx at @p bitRate.
inline void Open(CNetworkSender& sender, LoopbackReceiver& rx, std::uint32_t bitRate)
{
    ASSERT_TRUE(sender.SetRate(bitRate, 188));
    sender.SetDestination(kLoopback, rx.Port(), false);
    ASSERT_TRUE(sender.Open());
}

//! Writes bytes @p from .. @p from + @p n of @p data through WriteData, with the headroom it asks for.
inline bool Write(CNetworkSender& s, const std::vector<std::uint8_t>& data, std::size_t from = 0,
                  std::size_t n = SIZE_MAX)
{
    n = std::min(n, data.size() - from);
    std::vector<std::uint8_t> buffer(CNetworkSender::kMaxPacketSize + n);
    std::copy_n(data.begin() + static_cast<std::ptrdiff_t>(from), n, buffer.begin() + CNetworkSender::kMaxPacketSize);
    return s.WriteData(buffer.data() + CNetworkSender::kMaxPacketSize, static_cast<std::uint32_t>(n));
}

//! Writes packets @p first .. @p first + @p packets - 1 and, with @p all, says
//! that is all, so sending starts at once.
inline void Feed(CNetworkSender& sender, std::uint64_t packets, std::uint64_t first = 0, bool all = true)
{
    constexpr std::uint64_t kChunk = 5'000;
    for (std::uint64_t at = 0; at < packets; at += kChunk)
        ASSERT_TRUE(Write(sender, tstest::MakePackets(std::min(kChunk, packets - at), first + at)));
    if (all)
        sender.SetEndOfStream(true);
}
} // namespace senderfeed
