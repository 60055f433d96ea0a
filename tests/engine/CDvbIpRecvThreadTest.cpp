#include "engine/CDvbIpRecvThread.h"

#include "LoopbackStream.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

using namespace loopback;

namespace
{
constexpr std::uint32_t kTestFifoBytes = 8 * 1024 * 1024;

struct Case
{
    const char* name;
    std::vector<std::uint8_t> datagram;
    bool valid;
    std::uint32_t offset;
    std::uint32_t length;
};

// Ends reception and returns everything that reached the FIFO.
std::vector<std::uint8_t> Finish(CDvbIpRecvThread& r)
{
    r.StopReceiving();
    std::vector<std::uint8_t> out(r.GetStored());
    std::uint32_t got = 0;
    EXPECT_TRUE(r.ReadAvailable(out.data(), static_cast<std::uint32_t>(out.size()), got));
    out.resize(got);
    r.Stop();
    return out;
}

class ReceiverTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_port = FreePort();
        m_receiver.SetPort(m_port);
        m_receiver.SetDiagnostics(nullptr);
    }
    void StartRtp()
    {
        m_receiver.SetRtp(true);
        ASSERT_TRUE(m_receiver.Start()) << m_receiver.LastError();
    }

    std::uint16_t m_port = 0;
    CDvbIpRecvThread m_receiver{kTestFifoBytes};
};
} // namespace

TEST(CDvbIpRecvThreadParse, RtpHeadersAreParsedPerRfc3550)
{
    const auto ts = Payload(0);
    const std::vector<Case> cases = {
        {"plain", Rtp(7, ts), true, 12, kDatagramBytes},
        {"CSRC and extension", Rtp(7, ts, 2, 1), true, 28, kDatagramBytes},
        {"padding of 4", Rtp(7, ts, 0, -1, 4), true, 12, kDatagramBytes},
        {"header only", Rtp(7, {}), true, 12, 0},
        {"11 bytes",
         [&] {
             auto d = Rtp(7, ts);
             d.resize(11);
             return d;
         }(),
         false, 0, 0},
        {"CSRCs beyond the end",
         [&] {
             auto d = Rtp(7, {});
             d[0] |= 0x0F;
             return d;
         }(),
         false, 0, 0},
        {"extension beyond the end",
         [&] {
             auto d = Rtp(7, {}, 0, 0);
             d[15] = 200;
             return d;
         }(),
         false, 0, 0},
        {"padding beyond the end",
         [&] {
             auto d = Rtp(7, {}, 0, -1, 4);
             d.back() = 5;
             return d;
         }(),
         false, 0, 0},
        {"padding of 0",
         [&] {
             auto d = Rtp(7, ts, 0, -1, 4);
             d.back() = 0;
             return d;
         }(),
         false, 0, 0},
    };
    for (const auto& c : cases)
    {
        std::uint16_t seq = 0;
        std::uint32_t offset = 0;
        std::uint32_t length = 0;
        const bool ok = CDvbIpRecvThread::ParseRtp(c.datagram.data(), static_cast<std::uint32_t>(c.datagram.size()),
                                                   seq, offset, length);
        EXPECT_EQ(ok, c.valid) << c.name;
        if (ok && c.valid)
        {
            EXPECT_EQ(seq, 7) << c.name;
            EXPECT_EQ(offset, c.offset) << c.name;
            EXPECT_EQ(length, c.length) << c.name;
        }
    }
}

TEST(CDvbIpRecvThreadParse, OnlyWholeTransportStreamPacketsPass)
{
    const auto ts = Payload(0);
    EXPECT_TRUE(CDvbIpRecvThread::IsTransportStream(ts.data(), 1316));
    EXPECT_TRUE(CDvbIpRecvThread::IsTransportStream(ts.data(), 188));
    EXPECT_TRUE(CDvbIpRecvThread::IsTransportStream(ts.data(), 0));
    std::vector<std::uint8_t> p204(204 * 7, 0);
    p204[0] = 0x47;
    EXPECT_TRUE(CDvbIpRecvThread::IsTransportStream(p204.data(), 1428));
    EXPECT_FALSE(CDvbIpRecvThread::IsTransportStream(ts.data(), 1315));
    std::vector<std::uint8_t> junk(1316, 0x12);
    EXPECT_FALSE(CDvbIpRecvThread::IsTransportStream(junk.data(), 1316));
}

TEST_F(ReceiverTest, UdpShortStreamIsWrittenWholeAfterQuietTime)
{
    ASSERT_TRUE(m_receiver.Start()) << m_receiver.LastError();
    Sender s(m_port);
    s.SendUdp(0, 10); // fewer than the 50-datagram reserve
    EXPECT_TRUE(WaitDatagrams(m_receiver, 10)) << "the reserve is passed on after a quiet time";
    EXPECT_EQ(Serials(Finish(m_receiver)), Expected(0, 10));
}

TEST_F(ReceiverTest, RtpReorderedDuplicatedAndWrappingDatagramsComeOutInOrder)
{
    StartRtp();
    Sender s(m_port);
    // 400 datagrams around the wrap 65,535 -> 0; every 7th pair swapped,
    // every 11th sent twice, and a late copy of an old one at the end.
    std::vector<std::uint32_t> order;
    for (std::uint32_t i = 0; i < 400; ++i)
        order.push_back(i);
    for (std::uint32_t i = 0; i + 1 < 400; i += 7)
        std::swap(order[i], order[i + 1]);
    const std::uint16_t base = 65'536 - 200;
    std::uint32_t n = 0;
    for (std::uint32_t i : order)
    {
        s.Send(Rtp(static_cast<std::uint16_t>(base + i), Payload(i)));
        if (i % 11 == 0)
            s.Send(Rtp(static_cast<std::uint16_t>(base + i), Payload(i)));
        Sender::Pace(n++);
    }
    s.Send(Rtp(static_cast<std::uint16_t>(base + 390), Payload(390)));
    const bool all = WaitDatagrams(m_receiver, 400);
    const auto k = m_receiver.GetCounters();
    ASSERT_TRUE(all) << k.datagrams << " late " << k.late << " missing " << k.missing << " resyncs " << k.resyncs;
    EXPECT_EQ(Serials(Finish(m_receiver)), Expected(0, 400));
    const auto c = m_receiver.GetCounters();
    EXPECT_EQ(c.late, 400u / 11 + 1 + 1) << "every duplicate and the late copy are dropped";
    EXPECT_EQ(c.missing, 0u);
    EXPECT_EQ(c.resyncs, 0u);
}

TEST_F(ReceiverTest, RtpLostDatagramIsGivenUpAndTheStreamGoesOn)
{
    StartRtp();
    Sender s(m_port);
    for (std::uint32_t i = 0; i < 300; ++i)
        if (i != 100 && i != 101)
            s.Send(Rtp(static_cast<std::uint16_t>(i), Payload(i)));
    ASSERT_TRUE(WaitDatagrams(m_receiver, 298));
    auto expected = Expected(0, 100);
    auto rest = Expected(102, 198);
    expected.insert(expected.end(), rest.begin(), rest.end());
    EXPECT_EQ(Serials(Finish(m_receiver)), expected);
    EXPECT_EQ(m_receiver.GetCounters().missing, 2u);
}

TEST_F(ReceiverTest, RtpSenderRestartWithNewNumberingResynchronisesAtOnce)
{
    StartRtp();
    Sender s(m_port);
    for (std::uint32_t i = 0; i < 200; ++i)
        s.Send(Rtp(static_cast<std::uint16_t>(1'000 + i), Payload(i)));
    // The sender restarts 30,000 numbers back.
    const auto t0 = std::chrono::steady_clock::now();
    for (std::uint32_t i = 200; i < 400; ++i)
        s.Send(Rtp(static_cast<std::uint16_t>(40'000 + i), Payload(i)));
    ASSERT_TRUE(WaitDatagrams(m_receiver, 400));
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(1'000)) << "no stall";
    EXPECT_EQ(Serials(Finish(m_receiver)), Expected(0, 400));
    EXPECT_EQ(m_receiver.GetCounters().resyncs, 1u);
}

TEST_F(ReceiverTest, UdpModeDropsRtpButCountsItSoTheUserCanBeToldToSwitch)
{
    ASSERT_TRUE(m_receiver.Start()) << m_receiver.LastError();
    Sender s(m_port);
    s.Send(Rtp(0, Payload(0)));
    s.Send(Rtp(1, Payload(1), 1, 1, 8));                  // CSRC, extension and padding
    s.Send(Rtp(2, std::vector<std::uint8_t>(100, 0x55))); // RTP, but no transport stream
    s.Send(std::vector<std::uint8_t>(1316, 0x12));        // neither
    s.Send(Rtp(3, {}));                                   // RTP without payload: nothing to tell
    s.Send(Payload(2));                                   // plain UDP goes through
    ASSERT_TRUE(WaitDatagrams(m_receiver, 1));
    EXPECT_EQ(Serials(Finish(m_receiver)), Expected(2, 1));
    EXPECT_EQ(m_receiver.GetCounters().invalid, 5u);
    EXPECT_EQ(m_receiver.GetCounters().rtpInUdpMode, 2u);
}

TEST_F(ReceiverTest, SlowReaderHoldsDatagramsBackLosesNothingAndReceivingRecovers)
{
    // FIFO for 20 datagrams, pool of 30 records: the rest waits in the kernel queue.
    CDvbIpRecvThread small(20 * kDatagramBytes, 30);
    small.SetPort(m_port);
    small.SetDiagnostics(nullptr);
    ASSERT_TRUE(small.Start());
    Sender s(m_port);
    s.SendUdp(0, 100);
    for (int i = 0; i < 2'000 && (small.GetStatus() & CDvbIpRecvThread::kStatusOverflow) == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_NE(small.GetStatus() & CDvbIpRecvThread::kStatusOverflow, 0u) << "the pool ran out";
    std::vector<std::uint8_t> all;
    std::vector<std::uint8_t> chunk(20 * kDatagramBytes);
    for (int i = 0; i < 5'000 && all.size() < 100 * kDatagramBytes; ++i)
    {
        std::uint32_t got = 0;
        ASSERT_TRUE(small.ReadAvailable(chunk.data(), static_cast<std::uint32_t>(chunk.size()), got));
        all.insert(all.end(), chunk.begin(), chunk.begin() + got);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_EQ(Serials(all), Expected(0, 100));
    EXPECT_EQ(small.GetCounters().overflowDrops, 0u);
    s.SendUdp(100, 5);
    EXPECT_TRUE(WaitDatagrams(small, 105));
    EXPECT_EQ(small.GetStatus() & CDvbIpRecvThread::kStatusOverflow, 0u) << "receiving has recovered";
    small.Stop();
}

TEST_F(ReceiverTest, ReadDataServesWholeRequestsOnlyAndFlagsShortReads)
{
    ASSERT_TRUE(m_receiver.Start());
    Sender s(m_port);
    s.SendUdp(0, 3);
    ASSERT_TRUE(WaitDatagrams(m_receiver, 3));
    std::vector<std::uint8_t> buf(4 * kDatagramBytes);
    std::uint32_t got = 99;
    EXPECT_TRUE(m_receiver.ReadData(buf.data(), 4 * kDatagramBytes, got));
    EXPECT_EQ(got, 0u);
    EXPECT_NE(m_receiver.GetStatus() & CDvbIpRecvThread::kStatusShortRead, 0u);
    EXPECT_TRUE(m_receiver.ReadData(buf.data(), 0, got));
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(m_receiver.GetStatus() & CDvbIpRecvThread::kStatusShortRead, 0u);
    EXPECT_TRUE(m_receiver.ReadData(buf.data(), 3 * kDatagramBytes, got));
    EXPECT_EQ(got, 3 * kDatagramBytes);
    buf.resize(got);
    EXPECT_EQ(Serials(buf), Expected(0, 3));
    m_receiver.Stop();
}

TEST_F(ReceiverTest, PortInUseIsReportedAndNothingRuns)
{
    CDvbIpRecvThread first;
    first.SetPort(m_port);
    ASSERT_TRUE(first.Start());
    EXPECT_FALSE(m_receiver.Start());
    EXPECT_NE(m_receiver.LastError().find("bind to port"), std::string::npos) << m_receiver.LastError();
    EXPECT_FALSE(m_receiver.IsReceiving());
    first.Stop();
}

TEST_F(ReceiverTest, SourceSpecificJoinTakesOnlyThatSource)
{
    const std::uint32_t group = 0xE801'4D01; // 232.1.77.1, source-specific range
    CDvbIpRecvThread::Membership m;
    m.group = group;
    m.source = 0x7F00'0001; // 127.0.0.1
    m.interfaceName = "127.0.0.1";
    m_receiver.SetMembership(m);
    if (!m_receiver.Start())
        GTEST_SKIP() << "no source-specific multicast on the loopback interface here: " << m_receiver.LastError();
    Sender other(m_port, group);
    other.BindSource(0x7F00'0002); // 127.0.0.2
    other.KeepMulticastLocal();
    other.SendUdp(500, 5);
    Sender wanted(m_port, group);
    wanted.BindSource(0x7F00'0001);
    wanted.KeepMulticastLocal();
    wanted.SendUdp(0, 20);
    if (!WaitDatagrams(m_receiver, 20, std::chrono::milliseconds(1'000)))
        GTEST_SKIP() << "multicast datagrams are not looped back here";
    EXPECT_EQ(Serials(Finish(m_receiver)), Expected(0, 20));
}

TEST(CDvbIpRecvThreadMembership, BadGroupAndUnknownInterfaceAreRefused)
{
    CDvbIpRecvThread r;
    r.SetPort(FreePort());
    CDvbIpRecvThread::Membership m;
    m.group = 0x0A00'0001; // 10.0.0.1 is no group
    r.SetMembership(m);
    EXPECT_FALSE(r.Start());
    EXPECT_NE(r.LastError().find("not a multicast address"), std::string::npos);
    m.group = 0xEFFF'4D02;
    m.interfaceName = "no-such-if0";
    r.SetMembership(m);
    EXPECT_FALSE(r.Start());
    EXPECT_NE(r.LastError().find("interface no-such-if0"), std::string::npos) << r.LastError();
}
