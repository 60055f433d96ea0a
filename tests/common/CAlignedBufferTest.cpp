#include "common/CAlignedBuffer.h"

#include "common/CTimerSlack.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdint>

TEST(CAlignedBufferTest, PageAlignedZeroedMoveOnly)
{
    CAlignedBuffer a;
    EXPECT_TRUE(a.Empty());
    EXPECT_FALSE(a.Allocate(0));
    ASSERT_TRUE(a.Allocate(100'000));
    const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(a.Data()) % page, 0u);
    EXPECT_EQ(a.Data()[99'999], 0);
    a.Data()[0] = 7;
    CAlignedBuffer b(std::move(a));
    EXPECT_TRUE(a.Empty());
    EXPECT_EQ(b.Data()[0], 7);
    EXPECT_EQ(b.Size(), 100'000u);
    b.Release();
    EXPECT_TRUE(b.Empty());
}

TEST(CTimerSlackTest, SetsAndRestoresSlack)
{
    const std::uint64_t before = CTimerSlack::Current();
    {
        CTimerSlack slack(2'000);
        EXPECT_EQ(CTimerSlack::Current(), 2'000u);
    }
    EXPECT_EQ(CTimerSlack::Current(), before);
}
