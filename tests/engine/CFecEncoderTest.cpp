#include "engine/FecTestStream.h"

#include <gtest/gtest.h>

using namespace fectest;

TEST(CFecEncoder, RefusesMatricesOutsideTheStandard)
{
    const std::pair<CFecEncoder::Settings, const char*> kCases[] = {{{0, 10}, "L must be 1-20 (columns), not 0"},
                                                                    {{21, 4}, "L must be 1-20 (columns), not 21"},
                                                                    {{10, 3}, "D must be 4-20 (rows), not 3"},
                                                                    {{4, 21}, "D must be 4-20 (rows), not 21"},
                                                                    {{20, 6}, "L x D must be at most 100, not 120"},
                                                                    {{1, 4}, ""},
                                                                    {{20, 5}, ""},
                                                                    {{5, 20}, ""},
                                                                    {{10, 10}, ""}};
    for (const auto& [s, message] : kCases)
    {
        EXPECT_EQ(CFecEncoder::CheckSettings(s), message);
        CFecEncoder encoder;
        EXPECT_EQ(encoder.Configure(s), *message == '\0');
    }
}

// Header fields, and the column FEC of a matrix spread over the next one.
TEST(CFecEncoder, SendsRowsAfterTheirRowAndSpreadsColumnsOverTheNextMatrix)
{
    constexpr std::uint32_t L = 4, D = 5, kFirst = 65'530;
    const auto wire = Encode({L, D, CFecEncoder::Mode::RowColumn, 0x1234}, 3 * L * D, kFirst);
    std::uint64_t media = 0, sinceColumn = 0;
    std::uint16_t expectSequence[2] = {0, 0};
    std::uint32_t columns = 0, rows = 0;
    for (const auto& w : wire)
    {
        if (!w.isFec)
        {
            media = w.n + 1;
            ++sinceColumn;
            continue;
        }
        fec::Header h;
        ASSERT_TRUE(fec::Parse(w.bytes, h));
        EXPECT_EQ(w.bytes[1] & 0x7F, fec::kPayloadType);
        const int k = h.stream == fec::Stream::Row ? 1 : 0;
        EXPECT_EQ(tstest::RtpSequence(w.bytes.data()), expectSequence[k]++);
        const auto first = static_cast<std::uint16_t>(h.snBase - kFirst);
        if (h.stream == fec::Stream::Row)
        {
            EXPECT_EQ(h.offset, 1);
            EXPECT_EQ(h.count, L);
            EXPECT_EQ(first, media - L) << "right after its row";
            ++rows;
        }
        else
        {
            EXPECT_EQ(h.offset, L);
            EXPECT_EQ(h.count, D);
            const std::uint32_t column = first % (L * D);
            if (first / (L * D) < 2) // the last matrix's come with Flush
            {
                EXPECT_EQ(first / (L * D) + 1, (media - 1) / (L * D)) << "during the next matrix";
                EXPECT_EQ((media - 1) % (L * D), column * D) << "column c after media c x D";
                EXPECT_GE(sinceColumn, D) << "never in a burst";
            }
            sinceColumn = 0;
            ++columns;
        }
    }
    EXPECT_EQ(rows, 3 * D);
    EXPECT_EQ(columns, 3 * L); // the last matrix's by Flush
}

TEST(CFecEncoder, ASequenceBreakAbandonsTheOpenMatrixAndRefusesNonRtp)
{
    CFecEncoder encoder;
    ASSERT_TRUE(encoder.Configure({4, 4, CFecEncoder::Mode::Column, 0}));
    for (std::uint64_t n = 0; n < 16 + 5; ++n)
        encoder.AddMedia(tstest::MakeRtpDatagram(n));
    EXPECT_TRUE(encoder.AddMedia(tstest::MakeRtpDatagram(40)));
    EXPECT_EQ(encoder.Ready().size(), 4U - 2); // the held columns not sent yet, now
    EXPECT_EQ(encoder.GetCounters().restarts, 1U);
    EXPECT_EQ(encoder.GetCounters().abandoned, 5U);
    std::vector<std::uint8_t> notRtp(100, 0x47);
    EXPECT_FALSE(encoder.AddMedia(notRtp));
    EXPECT_FALSE(encoder.AddMedia(std::span(notRtp).first(5)));
    EXPECT_EQ(encoder.GetCounters().refused, 2U);
    EXPECT_EQ(encoder.GetCounters().column, 4U);
}
