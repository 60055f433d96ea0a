// The PCR bit rate: precision on constant rates, several programs, wrap,
// discontinuities, rate changes, no PCR.
#include "analysis/CPcrRate.h"

#include "AnalysisTestSupport.h"

#include <gtest/gtest.h>

namespace
{
double MeasuredRate(const CTsGeneratorConfig& config, std::size_t chunk = 1 << 20)
{
    CDecodeStream decoder;
    FeedFixed(decoder, GenerateStream(config), chunk);
    EXPECT_EQ(decoder.State().m_pcrSeen.load(), 1);
    return decoder.State().m_bitRate.load();
}
} // namespace

TEST(CPcrRateTest, ConstantRatesWithinOneHundredthOfAPercent)
{
    struct Case
    {
        std::uint64_t rate;
        int programs;
        int packetSize;
    };
    for (const Case& c : {Case{1'000'000, 1, 188}, Case{3'750'001, 4, 188}, Case{38'500'000, 10, 204},
                          Case{100'000'000, 2, 188}, Case{270'000, 1, 204}})
    {
        CTsGeneratorConfig config;
        config.bitRate = c.rate;
        config.programs = c.programs;
        config.packetSize = c.packetSize;
        config.durationSeconds = c.rate > 50'000'000 ? 0.8 : 3.0;
        const double measured = MeasuredRate(config);
        EXPECT_NEAR(measured, static_cast<double>(c.rate), static_cast<double>(c.rate) * 1e-4)
            << c.rate << " bit/s, " << c.programs << " programs, " << c.packetSize;
    }
}

TEST(CPcrRateTest, PcrWrapIsNoDiscontinuity)
{
    CTsGeneratorConfig config;
    config.bitRate = 6'000'000;
    config.durationSeconds = 4;
    config.pcrStart = CPcrRate::kPcrWrap - CPcrRate::kPcrHz; // wraps after one second
    EXPECT_NEAR(MeasuredRate(config), 6'000'000.0, 600.0);
}

TEST(CPcrRateTest, FollowsARateChangeWithinSeconds)
{
    CTsGeneratorConfig config;
    config.bitRate = 8'000'000;
    config.secondBitRate = 16'000'000;
    config.rateChangeSeconds = 3;
    config.durationSeconds = 5.5; // 2.5 s after the change
    const auto stream = GenerateStream(config);
    const std::size_t beforeChange = 2'900'000; // 2.9 s at 8 Mbit/s
    CDecodeStream decoder;
    FeedFixed(decoder, std::vector<std::uint8_t>(stream.begin(), stream.begin() + beforeChange), 1 << 16);
    EXPECT_NEAR(decoder.State().m_bitRate.load(), 8'000'000.0, 800.0);
    FeedFixed(decoder, std::vector<std::uint8_t>(stream.begin() + beforeChange, stream.end()), 1 << 16);
    EXPECT_NEAR(decoder.State().m_bitRate.load(), 16'000'000.0, 1'600.0);
}

TEST(CPcrRateTest, BaselineRestartsAtDiscontinuitiesAndClockJumps)
{
    CPcrRate rate;
    const std::uint64_t bytesPerTick = 1; // 8 bit per 1/27 MHz: 216 Mbit/s
    std::uint64_t pcr = 1000;
    std::uint64_t position = 0;
    for (int i = 0; i < 100; ++i, pcr += 270'000, position += 270'000 * bytesPerTick)
        rate.AddPcr(pcr, position, false);
    EXPECT_NEAR(rate.Rate(), 216e6, 216e6 * 1e-9);

    // The clock jumps back with the indicator, then forward without it: the rate is unchanged.
    pcr = 5;
    rate.AddPcr(pcr, position, true);
    for (int i = 0; i < 10; ++i)
        rate.AddPcr(pcr += 270'000, position += 270'000, false);
    EXPECT_NEAR(rate.Rate(), 216e6, 216e6 * 1e-9);
    rate.AddPcr(pcr += 40 * CPcrRate::kPcrHz, position += 188, false);
    for (int i = 0; i < 10; ++i)
        rate.AddPcr(pcr += 270'000, position += 270'000, false);
    EXPECT_NEAR(rate.Rate(), 216e6, 216e6 * 1e-9);
    EXPECT_LE(rate.BaselinePcr(), 10u * 270'000u);
}

TEST(CPcrRateTest, NoPcrGivesZeroAndTheFlagClear)
{
    std::vector<std::uint8_t> stream;
    for (int i = 0; i < 5000; ++i)
    {
        std::uint8_t p[188] = {0x47, 0x1F, 0xFF, static_cast<std::uint8_t>(0x10 | (i & 0x0F))};
        stream.insert(stream.end(), p, p + 188);
    }
    CDecodeStream decoder;
    FeedFixed(decoder, stream, 4096);
    EXPECT_EQ(decoder.m_packetSize.load(), 188);
    EXPECT_EQ(decoder.State().m_bitRate.load(), 0.0);
    EXPECT_EQ(decoder.State().m_pcrSeen.load(), 0);
}
