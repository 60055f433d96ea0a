#pragma once
//! @file RtpPackets.h
//! RTP datagrams carrying numbered transport-stream packets (TsPackets.h), as a
//! TS-over-RTP sender makes them: datagram n has sequence number first + n
//! (16-bit wrap), a 90 kHz timestamp and the numbered packets n x 7 onwards.

#include "TsPackets.h"

#include <cstdint>
#include <vector>

namespace tstest
{
constexpr std::uint32_t kRtpHeader = 12;
constexpr std::uint32_t kPacketsPerDatagram = 7;
constexpr std::uint32_t kRtpSsrc = 0x4F52564E;

//! Datagram @p n of a stream starting at sequence @p firstSequence, with
//! @p packets TS packets (7 unless the test varies the length).
inline std::vector<std::uint8_t> MakeRtpDatagram(std::uint64_t n, std::uint16_t firstSequence = 0,
                                                 std::uint32_t packets = kPacketsPerDatagram)
{
    std::vector<std::uint8_t> d(kRtpHeader + packets * kPacket);
    const auto sequence = static_cast<std::uint16_t>(firstSequence + n);
    const auto timestamp = static_cast<std::uint32_t>(n * 1'234 + 99);
    d[0] = 0x80;
    d[1] = 33; // MPEG-2 TS
    d[2] = static_cast<std::uint8_t>(sequence >> 8);
    d[3] = static_cast<std::uint8_t>(sequence);
    for (int k = 0; k < 4; ++k)
    {
        d[4 + k] = static_cast<std::uint8_t>(timestamp >> (24 - 8 * k));
        d[8 + k] = static_cast<std::uint8_t>(kRtpSsrc >> (24 - 8 * k));
    }
    for (std::uint32_t p = 0; p < packets; ++p)
        FillPacket(d.data() + kRtpHeader + p * kPacket, n * kPacketsPerDatagram + p);
    return d;
}

//! The sequence number of an RTP datagram.
inline std::uint16_t RtpSequence(const std::uint8_t* d)
{
    return static_cast<std::uint16_t>(d[2] << 8 | d[3]);
}
} // namespace tstest
