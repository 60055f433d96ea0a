#pragma once
//! @file FecTestStream.h
//! A TS-over-RTP stream with SMPTE 2022-1 FEC as the sender puts it on the wire,
//! and a receiver run over it with chosen losses (CFecEncoder/CFecDecoder tests).

#include "engine/CFecDecoder.h"
#include "engine/CFecEncoder.h"
#include "support/RtpPackets.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <random>
#include <set>
#include <vector>

namespace fectest
{
struct WireDatagram
{
    bool isFec = false;
    fec::Stream stream = fec::Stream::Column;
    std::uint64_t n = 0; // media: datagram number; FEC: its number on the wire among FEC
    std::vector<std::uint8_t> bytes;
};

//! Length of media datagram @p n: 7 TS packets, or 1-7 when @p vary.
inline std::uint32_t PacketsOf(std::uint64_t n, bool vary)
{
    return vary ? static_cast<std::uint32_t>(1 + (n * 5 + n / 3) % 7) : tstest::kPacketsPerDatagram;
}

//! @p count media datagrams and their FEC, in sending order (held FEC flushed at the end).
inline std::vector<WireDatagram> Encode(const CFecEncoder::Settings& s, std::uint64_t count,
                                        std::uint16_t firstSequence, bool vary = false)
{
    CFecEncoder encoder;
    encoder.Configure(s);
    std::vector<WireDatagram> wire;
    std::uint64_t fecCount = 0;
    const auto take = [&](std::span<const CFecEncoder::Packet> ready) {
        for (const auto& p : ready)
            wire.push_back({true, p.stream, fecCount++, {p.datagram.begin(), p.datagram.end()}});
    };
    for (std::uint64_t n = 0; n < count; ++n)
    {
        auto d = tstest::MakeRtpDatagram(n, firstSequence, PacketsOf(n, vary));
        encoder.AddMedia(d);
        wire.push_back({false, fec::Stream::Column, n, std::move(d)});
        take(encoder.Ready());
    }
    take(encoder.Flush());
    return wire;
}

struct Decoded
{
    std::map<std::uint64_t, std::vector<std::uint8_t>> rebuilt; // by datagram number
    CFecDecoder::Counters counters;
};

//! Feeds @p wire minus the lost media (numbers) and lost FEC (wire numbers), then flushes.
//! With @p disorderSeed, datagrams come up to 4 places out of order and 2 % twice.
inline Decoded Decode(const std::vector<WireDatagram>& wire, std::uint16_t firstSequence,
                      const std::set<std::uint64_t>& lostMedia, const std::set<std::uint64_t>& lostFec = {},
                      std::uint64_t disorderSeed = 0)
{
    std::vector<const WireDatagram*> order;
    std::mt19937_64 random(disorderSeed);
    for (const auto& w : wire)
        for (int copies = disorderSeed != 0 && random() % 50 == 0 ? 2 : 1; copies > 0; --copies)
            order.push_back(&w);
    if (disorderSeed != 0)
        for (std::size_t i = 0; i + 1 < order.size(); ++i)
            std::swap(order[i], order[std::min(order.size() - 1, i + random() % 5)]);
    CFecDecoder decoder;
    Decoded out;
    for (const WireDatagram* p : order)
    {
        const WireDatagram& w = *p;
        if (w.isFec ? lostFec.count(w.n) != 0 : lostMedia.count(w.n) != 0)
            continue;
        if (w.isFec)
            decoder.AddFec(w.bytes);
        else
            decoder.AddMedia(w.bytes);
        for (const auto& r : decoder.Rebuilt())
        {
            const auto n = static_cast<std::uint16_t>(tstest::RtpSequence(r.data()) - firstSequence);
            out.rebuilt.emplace(n, std::vector<std::uint8_t>(r.begin(), r.end()));
        }
    }
    decoder.Flush();
    out.counters = decoder.GetCounters();
    return out;
}
} // namespace fectest
