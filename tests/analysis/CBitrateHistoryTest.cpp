// The bit-rate history: rates from counter growth, the bounded PID list with
// "other", the window, resets of the analysis, and a real generated stream.
#include "analysis/CBitrateHistory.h"

#include "AnalysisTestSupport.h"
#include "support/PidCounters.h"

#include <gtest/gtest.h>

#include <numeric>

namespace
{
using tstest::PidCounters;

double SumOfLayers(const CBitrateHistory::CSample& sample)
{
    return std::accumulate(sample.pids.begin(), sample.pids.end(), sample.otherBitsPerSecond,
                           [](double sum, const CBitrateHistory::CPidRate& rate) { return sum + rate.bitsPerSecond; });
}
} // namespace

TEST(CBitrateHistoryTest, RatesComeFromCounterGrowthOverElapsedTime)
{
    for (const int packetSize : {188, 204})
    {
        CBitrateHistory history;
        EXPECT_FALSE(history.Add(PidCounters({{0x100, 5'000}, {0x200, 100}}, packetSize), 10'000));
        EXPECT_TRUE(history.IsEmpty());
        // Two seconds later: 2,000 and 1,000 more packets.
        ASSERT_TRUE(history.Add(PidCounters({{0x100, 7'000}, {0x200, 1'100}}, packetSize), 12'000));
        ASSERT_EQ(history.Samples().size(), 1u);
        const auto& sample = history.Samples().back();
        const double bits = 8.0 * packetSize;
        EXPECT_EQ(sample.timeMs, 12'000);
        EXPECT_DOUBLE_EQ(sample.totalBitsPerSecond, 1'500 * bits);
        ASSERT_EQ(sample.pids.size(), 2u);
        EXPECT_EQ(sample.pids[0].pid, 0x100);
        EXPECT_DOUBLE_EQ(sample.pids[0].bitsPerSecond, 1'000 * bits);
        EXPECT_DOUBLE_EQ(CBitrateHistory::PidRate(sample, 0x200), 500 * bits);
        EXPECT_DOUBLE_EQ(CBitrateHistory::PidRate(sample, 0x300), 0.0);
        EXPECT_DOUBLE_EQ(sample.otherBitsPerSecond, 0.0);
        // A PID that stopped sending is not listed at all.
        ASSERT_TRUE(history.Add(PidCounters({{0x100, 8'000}, {0x200, 1'100}}, packetSize), 13'000));
        EXPECT_EQ(history.Samples().back().pids.size(), 1u);
        // No time elapsed: no sample, no division by zero.
        EXPECT_FALSE(history.Add(PidCounters({{0x100, 9'000}, {0x200, 1'100}}, packetSize), 13'000));
    }
}

TEST(CBitrateHistoryTest, EveryPidOfTheStreamStaysWithinTheTrackedBound)
{
    // All 8,192 PIDs, PID p sending p + 1 packets a second.
    constexpr std::size_t kTracked = 5;
    CBitrateHistory history(60, kTracked);
    for (int second = 0; second <= 3; ++second)
    {
        std::vector<std::pair<std::uint16_t, std::uint64_t>> packets;
        for (std::uint16_t pid = 0; pid < CBitrateHistory::kPidCount; ++pid)
            packets.emplace_back(pid, static_cast<std::uint64_t>(pid + 1) * second);
        history.Add(PidCounters(packets), second * 1'000);
    }
    ASSERT_EQ(history.Samples().size(), 3u);
    const auto& sample = history.Samples().back();
    ASSERT_EQ(sample.pids.size(), kTracked);
    for (std::size_t i = 0; i < kTracked; ++i)
        EXPECT_EQ(sample.pids[i].pid, 0x1FFF - i);
    // Nothing is lost: the layers add up to the total.
    EXPECT_NEAR(SumOfLayers(sample), sample.totalBitsPerSecond, 1e-3);
    const double all = 8192.0 * 8193.0 / 2.0 * 188 * 8;
    EXPECT_DOUBLE_EQ(sample.totalBitsPerSecond, all);
    EXPECT_GT(sample.otherBitsPerSecond, all * 0.99);
    EXPECT_EQ(history.TopPids(3), (std::vector<std::uint16_t>{0x1FFF, 0x1FFE, 0x1FFD}));
}

TEST(CBitrateHistoryTest, KeepsOnlyTheWindowEvenWithAFastTimer)
{
    CBitrateHistory history(300);
    std::uint64_t packets = 0;
    for (int second = 0; second <= 400; ++second, packets += 1'000)
        history.Add(PidCounters({{0x44, packets}}), second * 1'000);
    ASSERT_EQ(history.Samples().size(), 301u);
    EXPECT_EQ(history.Samples().front().timeMs, 100'000);
    EXPECT_EQ(history.Samples().back().timeMs, 400'000);

    // A timer running ten times too fast fills no more than its bound.
    CBitrateHistory fast(10);
    for (int tick = 0; tick <= 1'000; ++tick, packets += 10)
        fast.Add(PidCounters({{0x44, packets}}), tick * 100);
    EXPECT_LE(fast.Samples().size(), 2u * 10 + 2);
    EXPECT_GE(fast.Samples().front().timeMs, 100'000 - 10'000);
}

TEST(CBitrateHistoryTest, ResetAnalysisOrBusySnapshotMakesNoSpike)
{
    CBitrateHistory history;
    history.Add(PidCounters({{0x100, 1'000'000}}), 0);
    ASSERT_TRUE(history.Add(PidCounters({{0x100, 1'001'000}}), 1'000));
    // The analysis was busy: an empty snapshot is skipped, the next one counts
    // over the whole two seconds.
    EXPECT_FALSE(history.Add(CAnalysisSnapshot{}, 2'000));
    ASSERT_TRUE(history.Add(PidCounters({{0x100, 1'003'000}}), 3'000));
    EXPECT_DOUBLE_EQ(history.Samples().back().totalBitsPerSecond, 1'000 * 188 * 8.0);
    // The analysis was reset (a new stream): counting starts again from there.
    EXPECT_FALSE(history.Add(PidCounters({{0x100, 500}}), 4'000));
    ASSERT_TRUE(history.Add(PidCounters({{0x100, 1'500}}), 5'000));
    EXPECT_DOUBLE_EQ(history.Samples().back().totalBitsPerSecond, 1'000 * 188 * 8.0);
    EXPECT_EQ(history.Samples().size(), 3u);
    EXPECT_DOUBLE_EQ(history.PeakTotal(), 1'000 * 188 * 8.0);

    history.Clear();
    EXPECT_TRUE(history.IsEmpty());
    EXPECT_FALSE(history.Add(PidCounters({{0x100, 9'000}}), 6'000)); // a new start, not a rate
}

TEST(CBitrateHistoryTest, TopPidsRankByMeanOverTheWindow)
{
    CBitrateHistory history;
    // PID 0x20 bursts for one second; PID 0x10 sends steadily and leads overall.
    history.Add(PidCounters({{0x10, 0}, {0x20, 0}}), 0);
    history.Add(PidCounters({{0x10, 100}, {0x20, 250}}), 1'000);
    history.Add(PidCounters({{0x10, 200}, {0x20, 250}}), 2'000);
    history.Add(PidCounters({{0x10, 300}, {0x20, 250}}), 3'000);
    EXPECT_EQ(history.TopPids(5), (std::vector<std::uint16_t>{0x10, 0x20}));
    EXPECT_EQ(history.TopPids(1), (std::vector<std::uint16_t>{0x10}));
    EXPECT_EQ(history.Samples().front().pids.front().pid, 0x20);
}

TEST(CBitrateHistoryTest, GeneratedStreamThroughTheAnalysisGivesItsBitRate)
{
    CTsGeneratorConfig config = SmallStream(188, 3);
    config.bitRate = 4'000'000;
    config.durationSeconds = 3.0;
    const std::vector<std::uint8_t> stream = GenerateStream(config);
    const std::size_t second = stream.size() / 3 / 188 * 188;

    CDecodeStream decoder;
    CBitrateHistory history;
    history.Add(decoder.TakeSnapshot(), 0);
    for (int s = 1; s <= 2; ++s)
    {
        const std::vector<std::uint8_t> part(stream.begin() + static_cast<std::ptrdiff_t>(second * (s - 1)),
                                             stream.begin() + static_cast<std::ptrdiff_t>(second * s));
        FeedFixed(decoder, part, 65'536);
        history.Add(decoder.TakeSnapshot(), s * 1'000);
    }
    ASSERT_EQ(history.Samples().size(), 2u);
    const auto& sample = history.Samples().back();
    // What went in that second; a packet held over between chunks may shift.
    EXPECT_NEAR(sample.totalBitsPerSecond, second * 8.0, 2 * 188 * 8);
    EXPECT_NEAR(sample.totalBitsPerSecond, 4'000'000.0, 4'000'000.0 * 0.01);
    EXPECT_NEAR(SumOfLayers(sample), sample.totalBitsPerSecond, 1e-3);
    EXPECT_GE(sample.pids.size(), 4u); // PAT, PMTs, elementary streams
}
