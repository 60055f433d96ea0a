#include "engine/CUdpIOCPSocket.h"

#include "LoopbackReceiver.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cerrno>
#include <numeric>
#include <tuple>

using namespace std::chrono_literals;

namespace
{
std::uint32_t Be32(const std::vector<std::uint8_t>& d, std::size_t at)
{
    return std::uint32_t{d[at]} << 24 | std::uint32_t{d[at + 1]} << 16 | std::uint32_t{d[at + 2]} << 8 | d[at + 3];
}
} // namespace

TEST(CUdpIOCPSocketTest, RtpHeaderOnTheWireSequenceWrapAndIdentityAcrossPlays)
{
    LoopbackReceiver rx;
    CUdpIOCPSocket sock;
    sock.SetRtpIdentity(0xDEADBEEF, 65'534);
    ASSERT_TRUE(sock.Create(rx.Port(), "127.0.0.1"));

    std::vector<std::uint8_t> payload(1'316);
    std::iota(payload.begin(), payload.end(), std::uint8_t{0});
    for (std::uint32_t ts : {0x01020304u, 0xA0B0C0D0u, 7u})
        ASSERT_TRUE(sock.Send(payload.data(), 1'316, true, ts));
    ASSERT_TRUE(sock.Send(payload.data(), 188, false, 0)) << "plain UDP on the same socket";
    ASSERT_TRUE(sock.Flush());
    ASSERT_TRUE(rx.WaitForBytes(3 * 1'328 + 188, 5s));

    const auto d = rx.Datagrams();
    ASSERT_EQ(d.size(), 4u);
    const std::uint16_t expectSeq[] = {65'534, 65'535, 0};
    const std::uint32_t expectTs[] = {0x01020304u, 0xA0B0C0D0u, 7u};
    for (int i = 0; i < 3; ++i)
    {
        ASSERT_EQ(d[i].size(), 1'328u);
        // Version 2, payload type 33, then sequence, time stamp and SSRC.
        EXPECT_EQ(std::make_tuple(d[i][0], d[i][1], d[i][2] << 8 | d[i][3], Be32(d[i], 4), Be32(d[i], 8)),
                  std::make_tuple(0x80, 0xA1, int{expectSeq[i]}, expectTs[i], 0xDEADBEEFu));
        EXPECT_TRUE(std::equal(payload.begin(), payload.end(), d[i].begin() + 12));
    }
    EXPECT_EQ(d[3], std::vector<std::uint8_t>(payload.begin(), payload.begin() + 188));
    EXPECT_EQ(sock.GetNextSequence(), 1);

    // The next play on the same object continues its identity; another object has its own.
    sock.Close();
    ASSERT_TRUE(sock.Create(rx.Port(), "127.0.0.1"));
    ASSERT_TRUE(sock.Send(payload.data(), 188, true, 0));
    ASSERT_TRUE(sock.Flush());
    ASSERT_TRUE(rx.WaitForBytes(3 * 1'328 + 188 + 200, 5s));
    const auto again = rx.Datagrams().back();
    EXPECT_EQ(std::make_pair(again[2] << 8 | again[3], Be32(again, 8)), std::make_pair(1, 0xDEADBEEFu));
    CUdpIOCPSocket a;
    CUdpIOCPSocket b;
    EXPECT_FALSE(a.GetSsrc() == b.GetSsrc() && a.GetNextSequence() == b.GetNextSequence())
        << "two senders must not share SSRC and sequence";
}

TEST(CUdpIOCPSocketTest, InvalidDestinationFailsCreateAndEverySend)
{
    const std::uint8_t b[188] = {0x47};
    for (const char* bad : {"999.1.2.3", "localhost"})
    {
        CUdpIOCPSocket sock;
        EXPECT_FALSE(sock.Create(1234, bad)) << bad;
        EXPECT_EQ(sock.GetCreateError(), EINVAL) << bad;
        EXPECT_FALSE(sock.Send(b, 188, true, 0)) << bad;
        EXPECT_FALSE(sock.Send(b, 188, false, 0)) << bad;
    }
    LoopbackReceiver rx;
    CUdpIOCPSocket open;
    ASSERT_TRUE(open.Create(rx.Port(), "127.0.0.1"));
    EXPECT_FALSE(open.Create(rx.Port(), "127.0.0.1"));
    EXPECT_EQ(open.GetCreateError(), EISCONN) << "the open socket stays";
    CUdpIOCPSocket none;
    EXPECT_FALSE(none.Create(1234, nullptr));
    none.Close(); // never opened: harmless
    none.Close();
    EXPECT_TRUE(none.Send(b, 0, false, 0)) << "a send of nothing succeeds";
    EXPECT_FALSE(none.Send(b, CUdpIOCPSocket::kDataAreaBytes, true, 0)) << "too large with the RTP header";
}

TEST(CUdpIOCPSocketTest, FullBatchRefusesWithoutLosingAndDrainsInOrder)
{
    LoopbackReceiver rx;
    CUdpIOCPSocket sock;
    ASSERT_TRUE(sock.Create(rx.Port(), "127.0.0.1"));
    std::uint8_t p[188] = {0x47};
    std::uint32_t queued = 0;
    while (sock.HasRoom())
    {
        p[1] = static_cast<std::uint8_t>(queued);
        ASSERT_TRUE(sock.Send(p, 188, false, 0));
        ++queued;
    }
    EXPECT_EQ(queued, CUdpIOCPSocket::kBatchSlots);
    EXPECT_FALSE(sock.Send(p, 188, false, 0)) << "no slot: refused, nothing queued";
    EXPECT_GE(sock.GetPendingSends(), static_cast<std::int32_t>(queued));
    ASSERT_TRUE(sock.Flush());
    ASSERT_TRUE(rx.WaitForBytes(std::uint64_t{queued} * 188, 10s));
    const auto d = rx.Datagrams();
    ASSERT_EQ(d.size(), queued);
    for (std::uint32_t i = 0; i < queued; ++i)
        ASSERT_EQ(d[i][1], static_cast<std::uint8_t>(i));
    EXPECT_EQ(sock.GetDatagramsSent(), queued);
}

class CUdpIOCPSocketOffloadTest : public ::testing::TestWithParam<bool>
{
};

TEST_P(CUdpIOCPSocketOffloadTest, DatagramBoundariesSurviveBatching)
{
    // Runs of equal datagrams, a short last one, then a change of size: with and
    // without segmentation offload the receiver must see exactly these datagrams.
    LoopbackReceiver rx;
    CUdpIOCPSocket sock;
    sock.SetSegmentationOffload(GetParam());
    ASSERT_TRUE(sock.Create(rx.Port(), "127.0.0.1"));
    std::vector<std::uint32_t> sizes(150, 1'316);
    sizes.push_back(376);
    sizes.insert(sizes.end(), 70, 1'428);
    sizes.push_back(1'316);
    std::vector<std::uint8_t> payload(1'428);
    std::uint64_t total = 0;
    for (std::size_t i = 0; i < sizes.size(); ++i)
    {
        payload[0] = static_cast<std::uint8_t>(i);
        ASSERT_TRUE(sock.Send(payload.data(), sizes[i], true, static_cast<std::uint32_t>(i)));
        total += sizes[i] + 12;
    }
    ASSERT_TRUE(sock.Flush());
    ASSERT_TRUE(rx.WaitForBytes(total, 10s));
    const auto d = rx.Datagrams();
    ASSERT_EQ(d.size(), sizes.size());
    for (std::size_t i = 0; i < sizes.size(); ++i)
    {
        ASSERT_EQ(d[i].size(), sizes[i] + 12) << i;
        ASSERT_EQ(d[i][12], static_cast<std::uint8_t>(i)) << i;
        ASSERT_EQ(Be32(d[i], 4), i);
    }
}

INSTANTIATE_TEST_SUITE_P(WithAndWithoutOffload, CUdpIOCPSocketOffloadTest, ::testing::Bool());
