#include "engine/CFifo.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <deque>
#include <numeric>
#include <random>
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

TEST(CFifoTest, WritesAndReadsOfEverySizeMatchAQueueAcrossTheWrap)
{
    // A ring of 100 bytes holds 99. Random writes and reads, of nothing up to
    // more than the capacity, against a plain queue: a write fits exactly when
    // the free space allows it and a refused one changes nothing; a read yields
    // what is there, in order, at most what was asked.
    CFifo f(100);
    ASSERT_TRUE(f.Allocate());
    std::deque<std::uint8_t> model;
    std::mt19937 random(3);
    std::uint8_t next = 0;
    std::vector<std::uint8_t> buffer(120);
    for (int step = 0; step < 20'000; ++step)
    {
        const auto n = static_cast<std::uint32_t>(random() % 102);
        if (random() % 2 == 0)
        {
            std::iota(buffer.begin(), buffer.begin() + n, next);
            const bool fits = n <= 99 - model.size();
            ASSERT_EQ(f.Write(buffer.data(), n), fits) << "write of " << n << " with " << model.size() << " used";
            if (fits)
                for (std::uint32_t i = 0; i < n; ++i)
                    model.push_back(next++);
        }
        else
        {
            std::uint32_t got = n;
            ASSERT_TRUE(f.Read(buffer.data(), got));
            ASSERT_EQ(got, std::min<std::size_t>(n, model.size()));
            for (std::uint32_t i = 0; i < got; ++i, model.pop_front())
                ASSERT_EQ(buffer[i], model.front()) << "step " << step;
        }
        ASSERT_EQ(f.GetUsed(), model.size());
        ASSERT_EQ(f.GetFree(), 99 - model.size());
    }
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
