#include "engine/CFifo.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <numeric>
#include <thread>
#include <vector>

namespace
{
std::vector<std::uint8_t> Bytes(std::size_t n, std::uint8_t first = 0)
{
    std::vector<std::uint8_t> v(n);
    std::iota(v.begin(), v.end(), first);
    return v;
}
} // namespace

TEST(CFifoTest, NeverAllocatedAndReleasedFifosRefuseEverything)
{
    CFifo never(1'000);
    CFifo released(1'000);
    ASSERT_TRUE(released.Allocate());
    ASSERT_TRUE(released.Write(Bytes(10).data(), 10));
    released.Release();
    for (CFifo* f : {&never, &released})
    {
        EXPECT_EQ(f->GetUsed(), 0u);
        EXPECT_EQ(f->GetFree(), 0u);
        std::uint8_t b[4] = {};
        EXPECT_FALSE(f->Write(b, 4));
        std::uint32_t n = 4;
        EXPECT_FALSE(f->Read(b, n));
        EXPECT_EQ(n, 0u);
    }
    EXPECT_TRUE(released.Allocate()) << "a released FIFO can be allocated again";
    EXPECT_EQ(released.GetUsed(), 0u);
}

TEST(CFifoTest, ExactFreeSpaceFitsOneMoreByteIsRefusedUnchanged)
{
    CFifo f(100);
    ASSERT_TRUE(f.Allocate());
    auto data = Bytes(200);
    ASSERT_TRUE(f.Write(data.data(), 30));
    EXPECT_EQ(f.GetFree(), 69u);
    EXPECT_FALSE(f.Write(data.data(), 70));
    EXPECT_EQ(f.GetUsed(), 30u) << "a refused write changes nothing";
    EXPECT_TRUE(f.Write(data.data() + 30, 69));
    EXPECT_EQ(f.GetFree(), 0u);
    EXPECT_FALSE(f.Write(data.data(), 1));
    EXPECT_FALSE(f.Write(data.data(), 101)) << "larger than the capacity";
    EXPECT_TRUE(f.Write(data.data(), 0)) << "a write of nothing succeeds";

    std::vector<std::uint8_t> out(200);
    std::uint32_t n = 200;
    ASSERT_TRUE(f.Read(out.data(), n));
    EXPECT_EQ(n, 99u) << "a read larger than the content yields the content";
    EXPECT_TRUE(std::equal(out.begin(), out.begin() + 99, data.begin()));
    EXPECT_EQ(f.GetUsed(), 0u);
    n = 10;
    EXPECT_TRUE(f.Read(out.data(), n)) << "reading an empty FIFO succeeds with nothing";
    EXPECT_EQ(n, 0u);
}

TEST(CFifoTest, WritesAndReadsWrapAndEndingExactlyAtTheEndLeavesIndexAtZero)
{
    CFifo f(100);
    ASSERT_TRUE(f.Allocate());
    auto data = Bytes(256);
    std::vector<std::uint8_t> out(256);

    // Move both indices to 60, then write exactly the 40 bytes up to the end.
    ASSERT_TRUE(f.Write(data.data(), 60));
    std::uint32_t n = 60;
    ASSERT_TRUE(f.Read(out.data(), n));
    ASSERT_TRUE(f.Write(data.data(), 40));
    ASSERT_TRUE(f.Write(data.data() + 40, 5)) << "the write index must have come back to 0";
    n = 40;
    ASSERT_TRUE(f.Read(out.data(), n));
    EXPECT_EQ(n, 40u);
    EXPECT_TRUE(std::equal(out.begin(), out.begin() + 40, data.begin()));
    EXPECT_EQ(f.GetUsed(), 5u) << "read ended at the end of memory; 5 bytes at offset 0 remain";

    // A write and a read that straddle the end of the memory.
    ASSERT_TRUE(f.Write(data.data() + 45, 90));
    EXPECT_EQ(f.GetUsed(), 95u);
    n = 95;
    ASSERT_TRUE(f.Read(out.data(), n));
    EXPECT_EQ(n, 95u);
    EXPECT_TRUE(std::equal(out.begin(), out.begin() + 95, data.begin() + 40));
}

TEST(CFifoTest, ProducerAndConsumerMoveOneGibibyteIntact)
{
    CFifo f(1 << 20);
    ASSERT_TRUE(f.Allocate());
    constexpr std::uint64_t kTotal = 1ull << 30;
    // The byte at stream position p is pattern[p % size]; the pattern's size is
    // prime to every chunk and ring size, so any loss, duplicate or reordering shows.
    std::vector<std::uint8_t> pattern(1'000'003);
    std::uint32_t x = 12345;
    for (auto& b : pattern)
        b = static_cast<std::uint8_t>((x = x * 1'103'515'245u + 12'345u) >> 24);
    auto copyFrom = [&](std::uint64_t pos, std::uint8_t* dst, std::size_t n) {
        const std::size_t at = pos % pattern.size();
        const std::size_t first = std::min(n, pattern.size() - at);
        std::memcpy(dst, pattern.data() + at, first);
        std::memcpy(dst + first, pattern.data(), n - first);
    };

    std::thread producer([&] {
        std::vector<std::uint8_t> chunk(65'521);
        std::uint64_t pos = 0;
        while (pos < kTotal)
        {
            const auto n = static_cast<std::uint32_t>(std::min<std::uint64_t>(chunk.size(), kTotal - pos));
            copyFrom(pos, chunk.data(), n);
            while (!f.Write(chunk.data(), n))
                std::this_thread::yield();
            pos += n;
        }
    });

    std::vector<std::uint8_t> buf(50'021);
    std::vector<std::uint8_t> expect(buf.size());
    std::uint64_t pos = 0;
    std::uint64_t badChunks = 0;
    while (pos < kTotal)
    {
        std::uint32_t n = static_cast<std::uint32_t>(buf.size());
        ASSERT_TRUE(f.Read(buf.data(), n));
        copyFrom(pos, expect.data(), n);
        badChunks += std::memcmp(buf.data(), expect.data(), n) != 0;
        pos += n;
        if (n == 0)
            std::this_thread::yield();
    }
    producer.join();
    EXPECT_EQ(pos, kTotal);
    EXPECT_EQ(badChunks, 0u);
    EXPECT_EQ(f.GetUsed(), 0u);
}
