// Smooth pacing and pause of the network sender, on a driven clock: time moves
// only when the sender sleeps (to the release time it asks for) and by 1 us
// per clock read, so the release times are exact whatever the machine does.
#include "engine/SenderFeed.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

namespace
{
using senderfeed::kUnit;

struct Release
{
    std::int64_t deadlineNs;
    std::uint64_t sentBefore; // datagrams handed to the kernel when the sleep began
};

class DrivenClock
{
public:
    // Each clock read is the next cycle: one millisecond and one nanosecond
    // later, so that a cycle finds the data of the coming millisecond due (as
    // a wake-up just after the millisecond does) and nothing overdue by more
    // than a few nanoseconds. Sleeps only record their release time.
    explicit DrivenClock(CNetworkSender& sender) : m_sender(sender)
    {
        sender.SetClock([this] {
            const std::int64_t k = m_reads.fetch_add(1) + 1;
            return m_base.load() + k * 1'000'001;
        });
        sender.SetSleep([this](std::int64_t deadline) {
            std::lock_guard lock(m_mutex);
            m_releases.push_back({deadline, m_sender.Socket().GetDatagramsSent()});
        });
    }
    void Advance(std::int64_t ns) { m_base.fetch_add(ns); }
    std::int64_t Now() const { return m_base.load() + m_reads.load() * 1'000'001; }
    std::vector<Release> Releases()
    {
        std::lock_guard lock(m_mutex);
        return m_releases;
    }
    std::size_t Count()
    {
        std::lock_guard lock(m_mutex);
        return m_releases.size();
    }

private:
    CNetworkSender& m_sender;
    std::atomic<std::int64_t> m_base{1'000'000'000};
    std::atomic<std::int64_t> m_reads{0};
    std::mutex m_mutex;
    std::vector<Release> m_releases;
};

using senderfeed::Feed;
using senderfeed::Open;
using tstest::WaitFor;

struct PacingCase
{
    std::uint32_t bitRate;
    std::uint64_t burst; // datagrams due in about 100 us, at least one
};

class SmoothPacing : public ::testing::TestWithParam<PacingCase>
{
};
} // namespace

TEST_P(SmoothPacing, ReleasesEachBurstWhenItsDataHasFallenDue)
{
    const PacingCase c = GetParam();
    LoopbackReceiver rx;
    CNetworkSender sender;
    DrivenClock clock(sender);
    ASSERT_TRUE(sender.GetSmoothPacing()) << "smooth pacing is the default";
    ASSERT_NO_FATAL_FAILURE(Open(sender, rx, c.bitRate));
    Feed(sender, 60'000);
    ASSERT_TRUE(WaitFor([&] { return clock.Count() >= 300; }));
    sender.Stop();

    const auto r = clock.Releases();
    // At most one burst between two releases (a cycle may end with a short
    // one), and each release as far after the previous one as its data lasts
    // at the bit rate (rounded up to the nanosecond).
    const double unitNs = kUnit * 8e9 / c.bitRate;
    // The first cycle after the start finds a whole millisecond overdue (the
    // elapsed time is rounded up) and catches up; the checks begin after it.
    std::size_t from = 0;
    while (from < r.size() && r[from].deadlineNs < r[0].deadlineNs + 2'000'000)
        ++from;
    ASSERT_LT(from + 100, r.size());
    std::uint64_t largest = 0;
    for (std::size_t i = from; i + 2 < r.size(); ++i)
    {
        const std::uint64_t sent = r[i + 1].sentBefore - r[i].sentBefore;
        const std::uint64_t next = r[i + 2].sentBefore - r[i + 1].sentBefore;
        largest = std::max(largest, sent);
        ASSERT_GE(sent, 1u) << "release " << i;
        ASSERT_LE(sent, c.burst) << "release " << i;
        ASSERT_NEAR(static_cast<double>(r[i + 1].deadlineNs - r[i].deadlineNs), static_cast<double>(next) * unitNs,
                    1'000.0)
            << "release " << i;
    }
    EXPECT_EQ(largest, c.burst);
}

INSTANTIATE_TEST_SUITE_P(Rates, SmoothPacing,
                         ::testing::Values(PacingCase{80'000'000, 1}, PacingCase{1'000'000'000, 9}));

TEST(CNetworkSenderPacing, BurstModeSendsTheCycleBackToBack)
{
    LoopbackReceiver rx;
    CNetworkSender sender;
    DrivenClock clock(sender);
    sender.SetSmoothPacing(false);
    ASSERT_NO_FATAL_FAILURE(Open(sender, rx, 80'000'000));
    Feed(sender, 20'000);
    ASSERT_TRUE(WaitFor([&] { return sender.Socket().GetDatagramsSent() >= 100; }));
    sender.Stop();
    EXPECT_EQ(clock.Count(), 0u) << "per-cycle bursts never wait inside a cycle";
}

TEST(CNetworkSenderPacing, PauseSendsNothingAndResumesWithoutCatchUp)
{
    LoopbackReceiver rx;
    CNetworkSender sender;
    DrivenClock clock(sender);
    ASSERT_NO_FATAL_FAILURE(Open(sender, rx, 80'000'000));
    Feed(sender, 60'000);
    ASSERT_TRUE(WaitFor([&] { return clock.Count() >= 50; }));

    sender.Pause(true);
    // The cycle under way ends (slowly under the sanitizers on a loaded machine).
    std::size_t released = 0;
    ASSERT_TRUE(WaitFor([&] {
        const std::size_t now = clock.Count();
        const bool still = now == released;
        released = now;
        std::this_thread::sleep_for(20ms);
        return still;
    }));
    const std::uint64_t sentAtPause = sender.Socket().GetDatagramsSent();
    const std::uint64_t levelAtPause = sender.GetFifoLevel();
    const std::size_t releasesAtPause = clock.Count();
    clock.Advance(500'000'000); // half a second of schedule time passes
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(sender.Socket().GetDatagramsSent(), sentAtPause);
    EXPECT_EQ(sender.GetFifoLevel(), levelAtPause);

    const std::int64_t resumedAt = clock.Now();
    sender.Pause(false);
    ASSERT_TRUE(WaitFor([&] { return clock.Count() >= releasesAtPause + 100; }));
    sender.Stop();

    // After the resume the datagrams leave one by one at the bit rate: a
    // catch-up of the half second would put 3,800 of them into the first cycle.
    // The first cycle may still find up to a millisecond overdue (as after the
    // start), so two milliseconds' worth is the bound.
    const auto r = clock.Releases();
    const double unitNs = kUnit * 8e9 / 80'000'000;
    ASSERT_GT(r.size(), releasesAtPause + 20);
    std::size_t firstMs = 0;
    for (std::size_t i = releasesAtPause; i + 1 < r.size(); ++i)
    {
        ASSERT_GE(r[i].deadlineNs, resumedAt);
        ASSERT_EQ(r[i + 1].sentBefore - r[i].sentBefore, 1u) << "release " << i;
        ASSERT_GE(static_cast<double>(r[i + 1].deadlineNs - r[i].deadlineNs), unitNs / 2 - 1'000) << "release " << i;
        firstMs += r[i].deadlineNs < r[releasesAtPause].deadlineNs + 1'000'000 ? 1 : 0;
    }
    EXPECT_LE(firstMs, 16u) << "80 Mbit/s is 7.6 datagrams per millisecond";
}
