#include "common/CEvent.h"

#include "common/CThread.h"

#include <gtest/gtest.h>

#include <atomic>

using namespace std::chrono_literals;

TEST(CEventTest, AutoResetReleasesOneWaitAndTimesOut)
{
    CEvent ev;
    EXPECT_FALSE(ev.Wait(1ms));
    ev.Set();
    EXPECT_TRUE(ev.Wait(0ms));
    EXPECT_FALSE(ev.Wait(1ms)) << "a consumed signal must not release a second wait";
    ev.Set();
    ev.Reset();
    EXPECT_FALSE(ev.Wait(1ms));
}

TEST(CThreadTest, RunsNamedBodyJoinsAndCanRestart)
{
    CThread t;
    std::atomic<int> runs{0};
    CEvent release;
    ASSERT_TRUE(t.Start("orvane-test", ThreadPriority::Highest, [&] {
        release.Wait(5s);
        ++runs;
    }));
    EXPECT_FALSE(t.Start("again", ThreadPriority::Normal, [] {})) << "one body at a time";
    EXPECT_FALSE(t.Join(10ms)) << "the body is still waiting";
    release.Set();
    EXPECT_TRUE(t.Join(5s));
    EXPECT_TRUE(t.IsFinished());
    ASSERT_TRUE(t.Start("orvane-test", ThreadPriority::AboveNormal, [&] { ++runs; }));
    EXPECT_TRUE(t.Join(5s));
    EXPECT_EQ(runs.load(), 2);
    EXPECT_TRUE(t.Join(1ms)) << "joining a joined thread is harmless";
}
