#include "engine/CImpairment.h"

#include "support/RtpPackets.h"

#include <gtest/gtest.h>

#include <map>

namespace
{
using Settings = CImpairment::Settings;

// Pushes datagrams 0..count-1 (1 TS packet each); @return the numbers sent, in order.
std::vector<std::uint64_t> Play(CImpairment& impair, std::uint64_t count)
{
    std::vector<std::uint64_t> sent;
    const auto take = [&](std::span<const CImpairment::Output> out) {
        for (const auto& o : out)
            sent.push_back(static_cast<std::uint64_t>(tstest::Classify(o.datagram.data() + tstest::kRtpHeader)) /
                           tstest::kPacketsPerDatagram);
    };
    for (std::uint64_t n = 0; n < count; ++n)
        take(impair.Push(tstest::MakeRtpDatagram(n, 0, 1)));
    take(impair.Flush());
    return sent;
}
} // namespace

TEST(CImpairment, ReadsTheImpairmentText)
{
    const std::pair<const char*, Settings> kCases[] = {
        {"loss=1.5,burst=3/1000,reorder=2/4,dup=0.5,jitter=5", {1.5, 3, 1'000, 2, 4, 0.5, 5}},
        {"none", {}},
        {"jitter=0.25,loss=100", {100, 0, 0, 0, 0, 0, 0.25}},
        {"burst=1/2", {0, 1, 2, 0, 0, 0, 0}},
    };
    for (const auto& [text, expected] : kCases)
    {
        Settings s;
        std::string error;
        ASSERT_TRUE(CImpairment::Parse(text, s, error)) << text << ": " << error;
        EXPECT_TRUE(s == expected) << text;
        Settings again; // Describe gives text that reads back the same
        ASSERT_TRUE(CImpairment::Parse(CImpairment::Describe(s), again, error));
        EXPECT_TRUE(again == s) << CImpairment::Describe(s);
    }
    EXPECT_EQ(CImpairment::Describe({1.5, 3, 1'000, 2, 4, 0.5, 5}),
              "loss=1.5,burst=3/1000,reorder=2/4,dup=0.5,jitter=5");
}

TEST(CImpairment, RefusesBadImpairmentTextWithItsReason)
{
    const std::pair<const char*, const char*> kCases[] = {
        {"", "empty impairment: give for example loss=1.5,burst=3/1000,reorder=2/4,dup=0.5,jitter=5 or none"},
        {"lost=1", "unknown impairment 'lost' (known: loss, burst, reorder, dup, jitter, none)"},
        {"loss", "loss: needs a value (loss=...)"},
        {"loss=1,,dup=1", "empty item in 'loss=1,,dup=1'"},
        {"loss=1,", "empty item in 'loss=1,'"},
        {"loss=1.5x", "loss: '1.5x' is not a number"},
        {"loss=", "loss: '' is not a number"},
        {"loss=150", "loss: 150 is not within 0-100 (per cent)"},
        {"dup=-1", "dup: -1 is not within 0-100 (per cent)"},
        {"loss=nan", "loss: nan is not within 0-100 (per cent)"},
        {"loss=1,loss=2", "loss: given twice"},
        {"burst=3", "burst: '3' is not N/M (N consecutive datagrams lost out of every M)"},
        {"burst=5/3", "burst: N (5) must be smaller than M (3)"},
        {"burst=0/10", "burst: 0 is not within 1-1000000 (datagrams)"},
        {"burst=1.5/10", "burst: N and M are whole numbers of datagrams"},
        {"reorder=2", "reorder: '2' is not P/D (P per cent held back by D datagrams)"},
        {"reorder=2/65", "reorder: 65 is not within 1-64 (datagrams of depth)"},
        {"jitter=1001", "jitter: 1001 is not within 0-1000 (ms)"},
    };
    for (const auto& [text, message] : kCases)
    {
        Settings s{7};
        std::string error;
        EXPECT_FALSE(CImpairment::Parse(text, s, error)) << text;
        EXPECT_EQ(error, message) << text;
        EXPECT_EQ(s.lossPercent, 7) << "left as it was";
    }
}

TEST(CImpairment, CountsWhatItDoesAndRepeatsWithTheSameSeed)
{
    constexpr std::uint64_t kCount = 100'000;
    const Settings s{1.5, 3, 1'000, 2, 4, 0.5, 5};
    for (std::uint64_t seed = 1; seed <= 3; ++seed)
    {
        CImpairment a(s, seed), b(s, seed), other(s, seed + 100);
        const auto sent = Play(a, kCount);
        EXPECT_EQ(sent, Play(b, kCount));
        EXPECT_NE(sent, Play(other, kCount));
        const auto& c = a.GetCounters();
        EXPECT_EQ(std::make_pair(c.in, c.burstLost), std::make_pair(kCount, std::uint64_t{300}));
        EXPECT_NEAR(static_cast<double>(c.lost), 0.015 * kCount, 300);
        EXPECT_NEAR(static_cast<double>(c.reordered), 0.02 * kCount, 300);
        EXPECT_NEAR(static_cast<double>(c.duplicated), 0.005 * kCount, 150);
        EXPECT_EQ(std::make_pair(c.out, sent.size()),
                  std::make_pair(kCount - c.lost - c.burstLost + c.duplicated, c.out));

        // Each datagram not lost goes out (twice when duplicated).
        std::map<std::uint64_t, int> times;
        for (const auto n : sent)
            ++times[n];
        EXPECT_EQ(times.size(), kCount - c.lost - c.burstLost);
        for (std::uint64_t n : {0, 1, 2, 1'000, 1'001, 1'002, 99'002})
            EXPECT_EQ(times.count(n), 0U) << "burst loss of " << n;
        EXPECT_LE(c.maxDelayNs, 5'000'000);
        EXPECT_GT(c.maxDelayNs, 4'900'000);
        EXPECT_EQ(c.delayed, c.out); // 0 ns out of 5,000,001 is all but impossible
    }
}

TEST(CImpairment, ReorderedDatagramsComeDepthPlacesLate)
{
    CImpairment impair({0, 0, 0, 100, 3}, 1); // every datagram held 3 places
    for (std::uint16_t n = 0; n < 6; ++n)
    {
        const auto out = impair.Push(tstest::MakeRtpDatagram(n, 0, 1));
        ASSERT_EQ(out.size(), n < 3 ? 0U : 1U);
        if (n >= 3)
        {
            EXPECT_EQ(tstest::RtpSequence(out[0].datagram.data()), n - 3);
        }
    }
    EXPECT_EQ(impair.Flush().size(), 3U);
}
