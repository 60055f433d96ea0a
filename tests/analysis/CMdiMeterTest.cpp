// CMdiMeter: DF and MLR of datagrams whose arrival times the test chooses.

#include "analysis/CMdiMeter.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>

namespace
{
constexpr std::uint32_t kBytes = 7 * 188;
// 7 packets every 1,316 us: 8 Mbit/s.
constexpr std::int64_t kPeriodNs = 1'316'000;
constexpr double kRateBps = kBytes * 8 * 1e9 / kPeriodNs;

// Three seconds of paced datagrams (two intervals end) through @p meter; @p shift moves datagram i by
// ns, @p lost gives the packets lost in front of it. @return the first interval.
CMdiMeter::Result Feed(CMdiMeter& meter, const std::function<std::int64_t(int)>& shift = {},
                       const std::function<std::uint32_t(int)>& lost = {})
{
    CMdiMeter::Result first;
    for (int i = 0; i * kPeriodNs <= 3 * CMdiMeter::kIntervalNs; ++i)
    {
        const std::int64_t at = i * kPeriodNs + (shift ? shift(i) : 0);
        if (meter.AddDatagram(at, kBytes, 7, lost ? lost(i) : 0) && !first.valid)
            first = meter.Last();
    }
    return first;
}
} // namespace

TEST(CMdiMeterTest, PacedStreamHasOneDatagramTimeAtMeasuredAndNominalRate)
{
    for (double rate : {0.0, kRateBps})
    {
        CMdiMeter meter;
        meter.SetMediaRate(rate);
        const auto r = Feed(meter);
        ASSERT_TRUE(r.valid) << rate;
        EXPECT_NEAR(r.dfMs, kPeriodNs / 1e6, 0.01) << rate;
        EXPECT_EQ(r.mlr, 0.0);
        EXPECT_NEAR(meter.Last().maxDfMs, kPeriodNs / 1e6, 0.01);
    }
}

TEST(CMdiMeterTest, JitterAddsToTheDelayFactorAndStaysInMaxDf)
{
    // Datagram 300 comes 5 ms late, later two come 1 ms early (a burst): the
    // buffer must absorb both, 6 ms more than a paced stream.
    CMdiMeter meter;
    const auto r = Feed(meter, [](int i) { return i == 300 ? 5'000'000 : (i == 500 || i == 501) ? -1'000'000 : 0; });
    ASSERT_TRUE(r.valid);
    EXPECT_NEAR(r.dfMs, kPeriodNs / 1e6 + 6.0, 0.05);
    // The second interval is paced again: DF falls back, the maximum stays.
    EXPECT_NEAR(meter.Last().dfMs, kPeriodNs / 1e6, 0.01);
    EXPECT_NEAR(meter.Last().maxDfMs, r.dfMs, 1e-9);

    // Against the nominal rate, a sender 1 % slow drains the buffer: DF grows by 10 ms a second.
    CMdiMeter nominal;
    nominal.SetMediaRate(kRateBps * 1.01);
    const auto slow = Feed(nominal);
    EXPECT_NEAR(slow.dfMs, 10.0 + kPeriodNs / 1e6, 0.2);
}

TEST(CMdiMeterTest, LossGivesMediaPacketsPerSecond)
{
    // 3 datagrams of 7 packets lost in the first second, and 5 dropped by the kernel.
    CMdiMeter meter;
    const auto r = Feed(meter, {}, [&meter](int i) {
        if (i == 100)
            meter.AddLoss(5);
        return (i == 10 || i == 20 || i == 30) ? 7u : 0u;
    });
    ASSERT_TRUE(r.valid);
    EXPECT_NEAR(r.mlr, 26.0, 0.05);
    EXPECT_NEAR(r.dfMs, kPeriodNs / 1e6, 0.01);
    EXPECT_EQ(meter.Last().mlr, 0.0);

    // A full arrival store ends the interval early; its MLR is still per second.
    CMdiMeter small(100);
    const auto early = Feed(small, {}, [](int i) { return i == 50 ? 1u : 0u; });
    ASSERT_TRUE(early.valid);
    EXPECT_NEAR(early.mlr, 1e9 / (100 * kPeriodNs), 0.01);
}
