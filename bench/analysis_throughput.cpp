// Analysis throughput: CDecodeStream on a generated 200 MB stream of 10
// programs, one thread, fed in 1 MiB chunks as the play engine and the record
// thread do. Peers measured in the same run: a plain copy of the same chunks
// (memory bandwidth) and a walk that only reads each packet's PID. BM_Adapted is
// the same analysis with every play adaptation on (PCR, PTS/DTS, continuity,
// TDT/TOT), as the reader thread runs it while playing.
//
//   build/default/bench/orvane-bench-analysis --benchmark_min_time=2

#include "analysis/CDecodeStream.h"
#include "analysis/CTsGenerator.h"

#include <benchmark/benchmark.h>

#include <array>
#include <cstring>
#include <vector>

namespace
{
constexpr std::size_t kStreamBytes = 200'000'000;
constexpr std::size_t kChunkBytes = 1 << 20;
constexpr long kHeadroomBytes = 512;

const std::vector<std::uint8_t>& Stream()
{
    static const std::vector<std::uint8_t> stream = [] {
        CTsGeneratorConfig config;
        config.programs = 10;
        config.bitRate = 40'000'000;
        config.durationSeconds = static_cast<double>(kStreamBytes) * 8.0 / 40'000'000.0;
        CTsGenerator generator(config);
        return generator.GenerateToMemory();
    }();
    return stream;
}

void RunDecoder(benchmark::State& state, bool adapt)
{
    std::vector<std::uint8_t> stream = Stream();
    double rate = 0.0;
    double packets = 0.0;
    for (auto _ : state)
    {
        CDecodeStream decoder;
        decoder.ResetListData(1, 1);
        if (adapt)
        {
            CAnalysisState& s = decoder.State();
            s.m_pcrRestamp.store(1);
            s.m_pcrRestamp2.store(1);
            s.m_ccRestamp.store(1);
            s.m_totTdtEnable.store(1);
            s.m_totTdtTimeType.store(1);
            decoder.m_playBitRate.store(40'000'000.0);
        }
        for (std::size_t pos = 0; pos < stream.size(); pos += kChunkBytes)
        {
            // The bytes in front of a chunk are the end of the previous one, which is
            // exactly what the decoder puts back there: the headroom is genuine.
            unsigned char* data = stream.data() + pos;
            long length = static_cast<long>(std::min(kChunkBytes, stream.size() - pos));
            decoder.InsertStreamData(data, length, pos == 0 ? 0 : kHeadroomBytes);
            decoder.CopyStreamData(stream.data(), kHeadroomBytes, stream.data());
        }
        rate = decoder.State().m_bitRate.load();
        packets = static_cast<double>(decoder.TakeSnapshot().totalPackets);
        benchmark::DoNotOptimize(rate);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * stream.size()));
    state.counters["measured_bps"] = rate;
    state.counters["packets"] = packets;
}

void BM_Analysis(benchmark::State& state)
{
    RunDecoder(state, false);
}

void BM_Adapted(benchmark::State& state)
{
    RunDecoder(state, true);
}

void BM_CopyPeer(benchmark::State& state)
{
    const std::vector<std::uint8_t>& stream = Stream();
    std::vector<std::uint8_t> buffer(kChunkBytes + kHeadroomBytes);
    for (auto _ : state)
    {
        for (std::size_t pos = 0; pos < stream.size(); pos += kChunkBytes)
        {
            const std::size_t length = std::min(kChunkBytes, stream.size() - pos);
            std::memcpy(buffer.data() + kHeadroomBytes, stream.data() + pos, length);
            benchmark::ClobberMemory();
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * stream.size()));
}

void BM_PidWalkPeer(benchmark::State& state)
{
    const std::vector<std::uint8_t>& stream = Stream();
    std::array<std::uint64_t, 8192> counts{};
    for (auto _ : state)
    {
        for (std::size_t pos = 0; pos + 188 <= stream.size(); pos += 188)
            ++counts[(stream[pos + 1] & 0x1F) << 8 | stream[pos + 2]];
        benchmark::DoNotOptimize(counts.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * stream.size()));
}
} // namespace

BENCHMARK(BM_Analysis)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Adapted)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CopyPeer)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PidWalkPeer)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_MAIN();
