// The PCR bit rate: precision on constant rates, several programs, wrap,
// discontinuities (no PCR: CFileAnalysisTest).
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

TEST(CPcrRateTest, ConstantRatesWithinOneHundredthOfAPercentAcrossThePcrWrap)
{
    struct Case
    {
        std::uint64_t rate;
        int programs, packetSize;
        std::uint64_t pcrStart;
    };
    for (const Case& c : {Case{3'750'001, 4, 188, 0}, Case{38'500'000, 10, 204, 0},
                          Case{6'000'000, 1, 188, CPcrRate::kPcrWrap - CPcrRate::kPcrHz}}) // wraps after a second
    {
        CTsGeneratorConfig config = SmallStream(c.packetSize, c.programs);
        config.bitRate = c.rate;
        config.durationSeconds = 3.0;
        config.pcrStart = c.pcrStart;
        const double rate = static_cast<double>(c.rate);
        EXPECT_NEAR(MeasuredRate(config), rate, rate * 1e-4) << c.rate << " bit/s from PCR " << c.pcrStart;
    }
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
