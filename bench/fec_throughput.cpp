// SMPTE 2022-1 FEC encode and decode, 2022-7 merge: one thread, L = D = 10,
// 1,328-byte TS-over-RTP datagrams (7 x 188 = 1,316 payload bytes), as the
// sender and receiver would feed them. Figures in docs/benchmarks.md.
//
//   build/default/bench/orvane-bench-fec --benchmark_min_time=1

#include "engine/CFecDecoder.h"
#include "engine/CFecEncoder.h"
#include "engine/CSeamlessMerge.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

namespace
{
constexpr std::uint32_t kDatagramBytes = 12 + 7 * 188;
constexpr std::uint32_t kMatrix = 100;
constexpr std::uint32_t kCycle = 65'536; // one turn of the sequence numbers

std::vector<std::uint8_t> Datagram(std::uint32_t n, std::mt19937_64& random)
{
    std::vector<std::uint8_t> d(kDatagramBytes);
    for (auto& b : d)
        b = static_cast<std::uint8_t>(random());
    d[0] = 0x80;
    d[1] = 33;
    d[2] = static_cast<std::uint8_t>(n >> 8);
    d[3] = static_cast<std::uint8_t>(n);
    return d;
}

void Rates(benchmark::State& state, double bytes)
{
    state.counters["MB/s"] = benchmark::Counter(bytes / 1e6, benchmark::Counter::kIsRate);
    state.counters["Mbit/s"] = benchmark::Counter(bytes * 8 / 1e6, benchmark::Counter::kIsRate);
}

void BM_FecEncode(benchmark::State& state)
{
    std::mt19937_64 random(1);
    std::vector<std::vector<std::uint8_t>> media;
    for (std::uint32_t n = 0; n < kMatrix; ++n)
        media.push_back(Datagram(n, random));
    CFecEncoder encoder;
    encoder.Configure({10, 10, state.range(0) ? CFecEncoder::Mode::RowColumn : CFecEncoder::Mode::Column, 0});
    std::uint16_t sequence = 0;
    double bytes = 0;
    for (auto _ : state)
        for (auto& d : media)
        {
            d[2] = static_cast<std::uint8_t>(sequence >> 8);
            d[3] = static_cast<std::uint8_t>(sequence++);
            encoder.AddMedia(d);
            benchmark::DoNotOptimize(encoder.Ready().data());
            bytes += kDatagramBytes;
        }
    Rates(state, bytes);
}
BENCHMARK(BM_FecEncode)->Arg(0)->Arg(1)->ArgName("rowColumn");

// Media and FEC of one turn of the sequence numbers, with range(0) per mille lost.
void BM_FecDecode(benchmark::State& state)
{
    std::mt19937_64 random(2);
    std::vector<std::vector<std::uint8_t>> wire;
    std::vector<bool> isFec;
    CFecEncoder encoder;
    encoder.Configure({10, 10, CFecEncoder::Mode::RowColumn, 0});
    std::uint64_t mediaBytes = 0;
    for (std::uint32_t n = 0; n < kCycle; ++n)
    {
        auto d = Datagram(n, random);
        encoder.AddMedia(d);
        if (static_cast<std::int64_t>(random() % 1'000) >= state.range(0))
        {
            wire.push_back(std::move(d));
            isFec.push_back(false);
        }
        mediaBytes += kDatagramBytes;
        for (const auto& p : encoder.Ready())
        {
            wire.emplace_back(p.datagram.begin(), p.datagram.end());
            isFec.push_back(true);
        }
    }
    CFecDecoder decoder;
    double bytes = 0;
    for (auto _ : state)
    {
        for (std::size_t i = 0; i < wire.size(); ++i)
            if (isFec[i])
                decoder.AddFec(wire[i]);
            else
                decoder.AddMedia(wire[i]);
        bytes += static_cast<double>(mediaBytes);
    }
    state.counters["recovered"] = static_cast<double>(decoder.GetCounters().recovered);
    state.counters["unrecoverable"] = static_cast<double>(decoder.GetCounters().unrecoverable);
    Rates(state, bytes);
}
BENCHMARK(BM_FecDecode)->Arg(0)->Arg(10)->ArgName("lossPerMille")->Unit(benchmark::kMillisecond);

// Both paths deliver every datagram, path 1 a little later.
void BM_SeamlessMerge(benchmark::State& state)
{
    std::mt19937_64 random(3);
    std::vector<std::vector<std::uint8_t>> media;
    for (std::uint32_t n = 0; n < kMatrix; ++n)
        media.push_back(Datagram(n, random));
    CSeamlessMerge merge;
    std::uint16_t sequence = 0;
    std::int64_t now = 0;
    double bytes = 0;
    for (auto _ : state)
        for (std::size_t i = 0; i < media.size(); ++i)
        {
            auto& d = media[i];
            d[2] = static_cast<std::uint8_t>(sequence >> 8);
            d[3] = static_cast<std::uint8_t>(sequence);
            benchmark::DoNotOptimize(merge.Add(0, now, d));
            auto& earlier = media[(i + media.size() - 5) % media.size()]; // path 1 trails by 5
            benchmark::DoNotOptimize(merge.Add(1, now, earlier));
            ++sequence;
            now += 10'000; // 100,000 datagrams/s
            bytes += kDatagramBytes;
        }
    Rates(state, bytes);
}
BENCHMARK(BM_SeamlessMerge);
} // namespace

BENCHMARK_MAIN();
