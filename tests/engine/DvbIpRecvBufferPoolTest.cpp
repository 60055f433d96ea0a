#include "engine/DvbIpRecvBufferPool.h"

#include <gtest/gtest.h>

#include <vector>

namespace
{
class DvbIpRecvBufferPoolTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(m_pool.Allocate()); }
    void Ready(std::initializer_list<std::uint32_t> sequences)
    {
        for (std::uint32_t s : sequences)
        {
            DvbIpRecvBuffer* r = m_pool.GetFree();
            ASSERT_NE(r, nullptr);
            r->m_sequence = s;
            r->m_ssrc = 0;
            r->m_passes = 0;
            m_pool.PutReady(r);
        }
    }
    // Takes what TakeNext gives, starting at @p expected, until it misses.
    std::vector<std::uint32_t> TakeRun(std::uint16_t expected, DvbIpRecvBufferPool::Search& search)
    {
        std::vector<std::uint32_t> out;
        for (int i = 0; i < 1'000; ++i)
        {
            DvbIpRecvBuffer* r = m_pool.TakeNext(expected, 0, search);
            if (r == nullptr)
                break;
            out.push_back(r->m_sequence);
            expected = static_cast<std::uint16_t>(r->m_sequence + 1);
            m_pool.PutFree(r);
        }
        return out;
    }

    DvbIpRecvBufferPool m_pool{200};
};
} // namespace

TEST_F(DvbIpRecvBufferPoolTest, RecordOfAnotherSpaceWaitsAndIsDroppedOnlyWhenPassedOverTooOften)
{
    Ready({9'000, 20, 21});
    DvbIpRecvBufferPool::Search search;
    EXPECT_EQ(TakeRun(20, search), (std::vector<std::uint32_t>{20, 21}));
    EXPECT_EQ(search.strayDropped, 0u) << "it may be the start of a restarted sender";
    EXPECT_EQ(m_pool.ReadyCount(), 1);
    for (std::uint32_t s = 22; s < 22 + DvbIpRecvBufferPool::kStrayPasses; ++s)
        Ready({s});
    EXPECT_EQ(TakeRun(22, search).size(), DvbIpRecvBufferPool::kStrayPasses);
    EXPECT_EQ(search.strayDropped, 1u);
    EXPECT_EQ(m_pool.ReadyCount(), 0);
}

TEST_F(DvbIpRecvBufferPoolTest, RestartNeedsASecondRecordOfTheNewSpaceUnlessForced)
{
    Ready({5'000});
    DvbIpRecvBufferPool::Search search;
    EXPECT_EQ(m_pool.TakeRestart(100, 0, false, search), nullptr) << "a lone record is no restart yet";
    Ready({4'999});
    DvbIpRecvBuffer* r = m_pool.TakeRestart(100, 0, false, search);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->m_sequence, 4'999u) << "the earliest of the new space";
    m_pool.PutFree(r);
    // Forced: a lone record far behind in the same SSRC is a very late duplicate.
    DvbIpRecvBuffer* old = m_pool.TakeHead();
    m_pool.PutFree(old);
    Ready({30});
    EXPECT_EQ(m_pool.TakeRestart(100, 0, true, search), nullptr);
    EXPECT_EQ(search.strayDropped, 1u);
    EXPECT_EQ(m_pool.ReadyCount(), 0);
}

TEST_F(DvbIpRecvBufferPoolTest, FirstRecordOfAStreamIsTheEarliestNearTheOldest)
{
    Ready({65'535, 65'534, 0, 20'000});
    DvbIpRecvBuffer* r = m_pool.TakeFirst();
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->m_sequence, 65'534u);
    m_pool.PutFree(r);
}
