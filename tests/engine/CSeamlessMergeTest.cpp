#include "engine/CSeamlessMerge.h"

#include "support/RtpPackets.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>

namespace
{
constexpr std::int64_t kMs = 1'000'000;
constexpr std::int64_t kSpacingNs = 100'000; // 10,000 datagrams/s

struct Path
{
    std::int64_t delayNs = kMs;
    double loss = 0;                        // fraction lost at random
    std::uint64_t deadFrom = 0, deadTo = 0; // datagrams [from, to) never arrive
};

struct MergeRun
{
    std::vector<std::uint64_t> passed; // datagram numbers, in output order
    std::set<std::uint64_t> delivered[2];
    std::uint64_t late[2] = {0, 0};
    CSeamlessMerge::Counters counters;
};

// Sends datagrams 0..count-1 over both paths (first and last always arrive on both).
MergeRun Simulate(CSeamlessMerge& merge, std::uint64_t count, const Path (&paths)[2], std::uint64_t seed,
                  std::uint16_t firstSequence = 65'000)
{
    struct Arrival
    {
        std::int64_t t;
        std::uint32_t path;
        std::uint64_t n;
    };
    std::mt19937_64 random(seed);
    std::vector<Arrival> arrivals;
    MergeRun run;
    for (std::uint64_t n = 0; n < count; ++n)
        for (std::uint32_t p = 0; p < 2; ++p)
        {
            const bool edge = n == 0 || n + 1 == count;
            const double u = std::uniform_real_distribution<>(0, 1)(random);
            const auto jitter = static_cast<std::int64_t>(random() % 200'000);
            if (!edge && (u < paths[p].loss || (n >= paths[p].deadFrom && n < paths[p].deadTo)))
                continue;
            arrivals.push_back({static_cast<std::int64_t>(n) * kSpacingNs + paths[p].delayNs + jitter, p, n});
            run.delivered[p].insert(n);
        }
    std::stable_sort(arrivals.begin(), arrivals.end(), [](const Arrival& a, const Arrival& b) { return a.t < b.t; });
    for (const auto& a : arrivals)
    {
        const auto v = merge.Add(a.path, a.t, tstest::MakeRtpDatagram(a.n, firstSequence, 1));
        if (v == CSeamlessMerge::Verdict::Pass)
            run.passed.push_back(a.n);
        run.late[a.path] += v == CSeamlessMerge::Verdict::Late;
    }
    merge.Flush();
    run.counters = merge.GetCounters();
    return run;
}

void ExpectPassedOnce(const MergeRun& run)
{
    const std::set<std::uint64_t> unique(run.passed.begin(), run.passed.end());
    EXPECT_EQ(unique.size(), run.passed.size()) << "a sequence number passed twice";
}
} // namespace

TEST(CSeamlessMerge, PassesEverySequenceNumberOnceFromWhicheverPathBroughtIt)
{
    for (std::uint64_t seed = 1; seed <= 6; ++seed)
    {
        CSeamlessMerge merge;
        const std::int64_t skew = static_cast<std::int64_t>(seed * 7) * kMs; // up to 42 ms, either way
        const Path paths[2] = {{kMs + (seed % 2 ? skew : 0), 0.05}, {kMs + (seed % 2 ? 0 : skew), 0.08}};
        const MergeRun run = Simulate(merge, 30'000, paths, seed);
        ExpectPassedOnce(run);
        std::set<std::uint64_t> either = run.delivered[0], only[2];
        either.insert(run.delivered[1].begin(), run.delivered[1].end());
        EXPECT_EQ(std::set<std::uint64_t>(run.passed.begin(), run.passed.end()), either);
        for (int p = 0; p < 2; ++p)
        {
            std::set_difference(run.delivered[p].begin(), run.delivered[p].end(), run.delivered[1 - p].begin(),
                                run.delivered[1 - p].end(), std::inserter(only[p], only[p].end()));
            EXPECT_EQ(run.counters.path[p].onlyHere, only[p].size());
            EXPECT_EQ(run.counters.path[p].missing, 30'000 - run.delivered[p].size());
            EXPECT_EQ(run.late[p], 0U);
        }
        EXPECT_EQ(run.counters.lostBoth, 30'000 - either.size());
        EXPECT_NEAR(static_cast<double>(run.counters.skewMaxNs), static_cast<double>(skew), 0.2 * kMs);
        EXPECT_EQ(run.counters.leadingPath, seed % 2 ? 1U : 0U);
    }
}

TEST(CSeamlessMerge, APathThatDiesAndComesBackIsTakenUpAgain)
{
    // Path 1 is silent for 75,000 datagrams: longer than the 16-bit numbering.
    CSeamlessMerge merge;
    const Path paths[2] = {{kMs}, {3 * kMs, 0, 5'000, 80'000}};
    const MergeRun run = Simulate(merge, 90'000, paths, 3);
    ExpectPassedOnce(run);
    EXPECT_EQ(run.passed.size(), 90'000U);
    EXPECT_EQ(run.counters.path[1].missing, 75'000U);
    EXPECT_EQ(run.counters.path[0].onlyHere, 75'000U);
    EXPECT_EQ(run.counters.path[1].received, 15'000U);
    EXPECT_EQ(run.counters.path[1].late + run.counters.path[1].passed, 0U);
    // Both silent for 10,000 datagrams: counted, not walked.
    CSeamlessMerge both;
    const Path silent[2] = {{kMs, 0, 2'000, 12'000}, {2 * kMs, 0, 2'000, 12'000}};
    const MergeRun outage = Simulate(both, 20'000, silent, 4);
    EXPECT_EQ(outage.passed.size(), 10'000U);
    EXPECT_EQ(outage.counters.lostBoth, 10'000U);
    EXPECT_EQ(outage.counters.path[0].missing + outage.counters.path[1].missing, 20'000U);
    EXPECT_TRUE(merge.IsPathAlive(1, 90'000 * kSpacingNs));
    EXPECT_FALSE(merge.IsPathAlive(1, 90'000 * kSpacingNs + 60 * kMs));
}

TEST(CSeamlessMerge, CopiesBeyondTheSkewWindowAreDroppedAndCounted)
{
    const Path paths[2] = {{kMs, 0.01}, {81 * kMs}}; // path 1 trails by 80 ms
    CSeamlessMerge narrow;                           // 50 ms
    const MergeRun run = Simulate(narrow, 20'000, paths, 5);
    ExpectPassedOnce(run);
    EXPECT_EQ(run.passed.size(), run.delivered[0].size()) << "path 1 fills no gap of path 0";
    EXPECT_EQ(run.counters.path[1].late, 20'000U);
    EXPECT_EQ(run.counters.lostBoth, 20'000 - run.delivered[0].size());
    EXPECT_NEAR(static_cast<double>(run.counters.skewMaxNs), 80.0 * kMs, 0.3 * kMs);
    EXPECT_NEAR(static_cast<double>(run.counters.skewLatestNs), 80.0 * kMs, 0.3 * kMs);

    CSeamlessMerge wide;
    EXPECT_FALSE(wide.SetWindowMs(0));
    EXPECT_FALSE(wide.SetWindowMs(501));
    ASSERT_TRUE(wide.SetWindowMs(100));
    const MergeRun widened = Simulate(wide, 20'000, paths, 5);
    EXPECT_EQ(widened.passed.size(), 20'000U);
    EXPECT_EQ(widened.counters.path[1].late + widened.counters.lostBoth, 0U);
}
