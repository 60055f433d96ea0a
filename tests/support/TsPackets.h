#pragma once
//! @file TsPackets.h
//! Hand-made transport-stream packets for every suite.
//!
//! Numbered packets: packet n carries PID 0x100, continuity counter n mod 16 and
//! its number in 6-bit digits; no payload byte is 0x47, so only real packet
//! starts look like sync bytes to a resynchronising reader. Classify() gives
//! the number back, so what a sender put on the wire or a recorder wrote to a
//! file can be checked packet by packet.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace tstest
{
constexpr std::uint32_t kPacket = 188;
constexpr std::uint16_t kDataPid = 0x100;
constexpr std::uint16_t kNullPid = 0x1FFF;
constexpr std::int64_t kNullIndex = -1;
constexpr std::int64_t kOtherIndex = -2;

//! Writes numbered packet @p n at @p p.
inline void FillPacket(std::uint8_t* p, std::uint64_t n)
{
    p[0] = 0x47;
    p[1] = static_cast<std::uint8_t>(kDataPid >> 8);
    p[2] = static_cast<std::uint8_t>(kDataPid & 0xFF);
    p[3] = static_cast<std::uint8_t>(0x10 | (n & 0x0F));
    for (std::uint32_t d = 0; d < 5; ++d)
        p[4 + d] = static_cast<std::uint8_t>((n >> (6 * d)) & 0x3F);
    for (std::uint32_t j = 9; j < kPacket; ++j)
        p[j] = static_cast<std::uint8_t>((n * 7 + j) & 0x3F);
}

//! Numbered packets @p first .. @p first + @p count - 1.
inline std::vector<std::uint8_t> MakePackets(std::uint64_t count, std::uint64_t first = 0)
{
    std::vector<std::uint8_t> v(count * kPacket);
    for (std::uint64_t i = 0; i < count; ++i)
        FillPacket(v.data() + i * kPacket, first + i);
    return v;
}

//! The numbers @p first .. @p first + @p count - 1, as Classify() gives them back.
inline std::vector<std::int64_t> Numbers(std::int64_t first, std::int64_t count)
{
    std::vector<std::int64_t> v(static_cast<std::size_t>(count));
    for (std::int64_t i = 0; i < count; ++i)
        v[static_cast<std::size_t>(i)] = first + i;
    return v;
}

//! The packet's number, kNullIndex for a null packet, kOtherIndex for anything else.
inline std::int64_t Classify(const std::uint8_t* p)
{
    if (p[0] != 0x47)
        return kOtherIndex;
    const auto pid = static_cast<std::uint16_t>(((p[1] & 0x1F) << 8) | p[2]);
    if (pid == kNullPid)
        return kNullIndex;
    if (pid != kDataPid)
        return kOtherIndex;
    std::int64_t n = 0;
    for (std::uint32_t d = 0; d < 5; ++d)
        n |= std::int64_t{p[4 + d]} << (6 * d);
    std::uint8_t expect[kPacket];
    FillPacket(expect, static_cast<std::uint64_t>(n));
    return std::equal(expect, expect + kPacket, p) ? n : kOtherIndex;
}

//! Classify() of every whole packet in @p bytes.
inline std::vector<std::int64_t> ClassifyAll(const std::vector<std::uint8_t>& bytes)
{
    std::vector<std::int64_t> out;
    for (std::size_t at = 0; at + kPacket <= bytes.size(); at += kPacket)
        out.push_back(Classify(bytes.data() + at));
    return out;
}

//! Appends one packet of @p pid with @p payload behind the header (0xFF after it).
inline void AddPacket(std::vector<std::uint8_t>& stream, std::uint16_t pid, std::uint8_t cc,
                      const std::vector<std::uint8_t>& payload = {}, bool unitStart = false)
{
    std::uint8_t p[kPacket];
    std::memset(p, 0xFF, sizeof p);
    p[0] = 0x47;
    p[1] = static_cast<std::uint8_t>((unitStart ? 0x40 : 0x00) | (pid >> 8 & 0x1F));
    p[2] = static_cast<std::uint8_t>(pid);
    p[3] = static_cast<std::uint8_t>(0x10 | (cc & 0x0F));
    if (!payload.empty())
        std::memcpy(p + 4, payload.data(), std::min<std::size_t>(payload.size(), kPacket - 4));
    stream.insert(stream.end(), p, p + kPacket);
}
} // namespace tstest
