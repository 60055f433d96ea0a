#include "engine/CDvbIpRecvThread.h"

#include "DvbIpRecvTestSupport.h"
#include "LoopbackStream.h"
#include "common/CEventLog.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
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

using recvtest::Finish;

// Reads what @p r passes on until nothing new came for 300 ms.
std::vector<std::uint8_t> ReadUntilQuiet(CDvbIpRecvThread& r)
{
    std::vector<std::uint8_t> all;
    std::vector<std::uint8_t> chunk(20 * kDatagramBytes);
    for (int idle = 0; idle < 300; ++idle)
    {
        std::uint32_t got = 0;
        EXPECT_TRUE(r.ReadAvailable(chunk.data(), static_cast<std::uint32_t>(chunk.size()), got));
        all.insert(all.end(), chunk.begin(), chunk.begin() + got);
        idle = got > 0 ? 0 : idle;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return all;
}

class CDvbIpRecvThreadTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_port = FreePort();
        Prepare(m_receiver);
    }
    void Prepare(CDvbIpRecvThread& r)
    {
        r.SetPort(m_port);
        r.SetDiagnostics(nullptr);
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
    const auto Set = [](std::vector<std::uint8_t> d, std::size_t at, std::uint8_t value) {
        d[at] = value;
        return d;
    };
    const auto ts = Payload(0);
    const std::vector<Case> cases = {
        {"plain", Rtp(7, ts), true, 12, kDatagramBytes},
        {"CSRC and extension", Rtp(7, ts, 2, 1), true, 28, kDatagramBytes},
        {"padding of 4", Rtp(7, ts, 0, -1, 4), true, 12, kDatagramBytes},
        {"header only", Rtp(7, {}), true, 12, 0},
        {"11 bytes", {0x80, 0x21, 0, 7, 0, 0, 0, 0, 0x12, 0, 0}, false, 0, 0},
        {"CSRCs beyond the end", Set(Rtp(7, {}), 0, 0x8F), false, 0, 0},
        {"extension beyond the end", Set(Rtp(7, {}, 0, 0), 15, 200), false, 0, 0},
        {"padding beyond the end", Set(Rtp(7, {}, 0, -1, 4), 15, 5), false, 0, 0},
        {"padding of 0", Set(Rtp(7, ts, 0, -1, 4), 12 + kDatagramBytes + 3, 0), false, 0, 0},
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

TEST_F(CDvbIpRecvThreadTest, RtpReorderedDuplicatedWrappingAndLostDatagramsComeOutInOrder)
{
    CEventLog log;
    m_receiver.SetEventLog(&log);
    StartRtp();
    Sender s(m_port);
    // 400 datagrams around the wrap 65,535 -> 0; every 7th pair swapped,
    // every 11th sent twice, two lost (given up, the stream goes on), and a
    // late copy of an old one at the end.
    std::vector<std::uint32_t> order;
    for (std::uint32_t i = 0; i < 400; ++i)
        order.push_back(i);
    for (std::uint32_t i = 0; i + 1 < 400; i += 7)
        std::swap(order[i], order[i + 1]);
    const std::uint16_t base = 65'536 - 200;
    std::uint32_t n = 0;
    for (std::uint32_t i : order)
    {
        if (i == 100 || i == 101)
            continue;
        s.Send(Rtp(static_cast<std::uint16_t>(base + i), Payload(i)));
        if (i % 11 == 0)
            s.Send(Rtp(static_cast<std::uint16_t>(base + i), Payload(i)));
        Sender::Pace(n++);
    }
    s.Send(Rtp(static_cast<std::uint16_t>(base + 390), Payload(390)));
    const bool all = WaitDatagrams(m_receiver, 398);
    const auto k = m_receiver.GetCounters();
    ASSERT_TRUE(all) << k.datagrams << " late " << k.late << " missing " << k.missing << " restarts " << k.restarts;
    auto expected = Expected(0, 100);
    const auto rest = Expected(102, 298);
    expected.insert(expected.end(), rest.begin(), rest.end());
    EXPECT_EQ(Serials(Finish(m_receiver)), expected);
    const auto c = m_receiver.GetCounters();
    EXPECT_EQ(c.late, 400u / 11 + 1 + 1) << "every duplicate and the late copy are dropped";
    EXPECT_EQ(c.missing, 2u);
    EXPECT_EQ(c.restarts, 0u);
    // In arrival order: the lower one of each swapped pair came behind, every copy twice.
    EXPECT_EQ(c.reordered, 57u);
    EXPECT_EQ(c.duplicates, c.late);
    // The jump over the lost two is in the event log with its numbers, once.
    std::vector<std::string> jumps;
    for (const CEventLog::Entry& entry : log.Entries())
        if (entry.kind == CEventLog::Kind::SequenceJump)
            jumps.push_back(entry.text);
    EXPECT_EQ(jumps, std::vector<std::string>{"RTP sequence jump: 65435 -> 65438"});
}

TEST_F(CDvbIpRecvThreadTest, UdpModeWritesPayloadsAsReceivedWhateverTheirCut)
{
    // A stream cut into 1,000-byte datagrams, then datagrams that start mid-packet:
    // the file must be the bytes sent, with no hole and no false alarm.
    std::FILE* diagnostics = std::tmpfile();
    ASSERT_NE(diagnostics, nullptr);
    m_receiver.SetDiagnostics(diagnostics);
    ASSERT_TRUE(m_receiver.Start()) << m_receiver.LastError();
    std::vector<std::uint8_t> stream;
    for (std::uint32_t i = 0; i < 300; ++i)
    {
        const auto d = Payload(i);
        stream.insert(stream.end(), d.begin(), d.end());
    }
    Sender s(m_port);
    std::uint32_t n = 0;
    std::size_t off = 0;
    for (std::size_t cut : {1'000u, 1'316u})
        for (std::size_t end = off + stream.size() / 2; off < end; off += cut)
        {
            const std::size_t len = std::min(cut, stream.size() - off);
            s.Send(std::vector<std::uint8_t>(stream.begin() + static_cast<std::ptrdiff_t>(off),
                                             stream.begin() + static_cast<std::ptrdiff_t>(off + len)));
            Sender::Pace(n++);
        }
    // A datagram larger than a record between them is refused, and leaves no hole.
    s.Send(std::vector<std::uint8_t>(2'000, 0x47));
    ASSERT_TRUE(WaitDatagrams(m_receiver, n));
    EXPECT_EQ(Finish(m_receiver), stream);
    const auto c = m_receiver.GetCounters();
    EXPECT_EQ(c.invalid, 1u);
    EXPECT_EQ(c.oversized, 1u) << "oversized is invalid, not kernel loss";
    EXPECT_EQ(c.kernelDrops, 0u);
    EXPECT_EQ(c.missing, 0u);
    EXPECT_FALSE(CDvbIpRecvThread::LooksLikeRtp(c));
    EXPECT_EQ(std::ftell(diagnostics), 0) << "no gap line in UDP mode";
    std::fclose(diagnostics);
}

TEST_F(CDvbIpRecvThreadTest, RtpHintOnlyWhenMostDatagramsAreRtpAndRtpModeKeepsTheWholePacketRule)
{
    ASSERT_TRUE(m_receiver.Start()) << m_receiver.LastError();
    Sender s(m_port);
    s.Send(Rtp(0, Payload(0)));
    s.Send(Rtp(2, std::vector<std::uint8_t>(100, 0x55))); // RTP, but no transport stream
    s.Send(std::vector<std::uint8_t>(1'316, 0x12));       // neither
    ASSERT_TRUE(WaitDatagrams(m_receiver, 3));
    EXPECT_FALSE(CDvbIpRecvThread::LooksLikeRtp(m_receiver.GetCounters())) << "1 of 3 is not most";
    s.Send(Rtp(1, Payload(1), 1, 1, 8)); // CSRC, extension and padding
    s.Send(Rtp(3, Payload(3)));
    ASSERT_TRUE(WaitDatagrams(m_receiver, 5));
    auto c = m_receiver.GetCounters();
    EXPECT_EQ(c.rtpInUdpMode, 3u);
    EXPECT_TRUE(CDvbIpRecvThread::LooksLikeRtp(c));
    EXPECT_EQ(c.invalid, 0u) << "UDP mode writes everything";
    m_receiver.Stop();

    StartRtp();
    s.Send(Rtp(10, Payload(10)));
    s.Send(Rtp(11, std::vector<std::uint8_t>(1'000, 0x47))); // no whole packets
    s.Send(std::vector<std::uint8_t>(1'316, 0x12));          // no RTP
    s.Send(Rtp(12, Payload(12)));
    ASSERT_TRUE(WaitDatagrams(m_receiver, 2));
    EXPECT_EQ(Serials(Finish(m_receiver)),
              (std::vector<std::int64_t>{70, 71, 72, 73, 74, 75, 76, 84, 85, 86, 87, 88, 89, 90}));
    c = m_receiver.GetCounters();
    EXPECT_EQ(c.invalid, 2u);
    EXPECT_EQ(c.missing, 1u) << "the refused datagram's number is missing in RTP";
}

TEST_F(CDvbIpRecvThreadTest, RtpSenderRestartIsANewSequenceSpaceAndLosesNothing)
{
    // 800 datagrams from sequence 0, then a new SSRC from 0, the same SSRC
    // from 0, or the same SSRC 30,000 numbers back.
    struct Restart
    {
        const char* name;
        std::uint32_t secondSsrc;
        std::uint16_t restartAt;
    };
    for (const Restart& r :
         {Restart{"new SSRC", 2, 0}, Restart{"same SSRC", 1, 0}, Restart{"30,000 back", 1, 799 - 30'000 + 65'536}})
    {
        m_receiver.SetPort(m_port = FreePort());
        StartRtp();
        Sender s(m_port);
        for (std::uint32_t i = 0; i < 1'600; ++i)
        {
            auto d = Rtp(static_cast<std::uint16_t>(i < 800 ? i : r.restartAt + i - 800), Payload(i));
            d[11] = static_cast<std::uint8_t>(i < 800 ? 1 : r.secondSsrc);
            s.Send(d);
            Sender::Pace(i);
        }
        ASSERT_TRUE(WaitDatagrams(m_receiver, 1'600 - 50)) << r.name;
        EXPECT_EQ(Serials(Finish(m_receiver)), Expected(0, 1'600)) << r.name;
        const auto c = m_receiver.GetCounters();
        EXPECT_EQ(c.restarts, 1u) << r.name;
        EXPECT_EQ(c.late, 0u) << r.name;
        EXPECT_EQ(c.missing, 0u) << r.name;
    }
}

TEST_F(CDvbIpRecvThreadTest, SlowReaderHoldsDatagramsBackLosesNothingAndReceivingRecovers)
{
    // FIFO for 20 datagrams, pool of 30 records: the rest waits in the kernel queue.
    CDvbIpRecvThread small(20 * kDatagramBytes, 30);
    Prepare(small);
    ASSERT_TRUE(small.Start());
    Sender s(m_port);
    s.SendUdp(0, 100);
    ASSERT_TRUE(tstest::WaitFor([&] { return small.GetStored() >= 19 * kDatagramBytes; }, std::chrono::seconds(2)));
    EXPECT_EQ(small.GetStatus() & CDvbIpRecvThread::kStatusOverflow, 0u) << "held back is not lost";
    EXPECT_EQ(Serials(ReadUntilQuiet(small)), Expected(0, 100));
    EXPECT_EQ(small.GetCounters().overflowDrops, 0u);
    s.SendUdp(100, 5);
    EXPECT_TRUE(WaitDatagrams(small, 105));
    EXPECT_EQ(small.GetStatus() & CDvbIpRecvThread::kStatusOverflow, 0u) << "receiving has recovered";
    small.Stop();
}

TEST_F(CDvbIpRecvThreadTest, ReadDataServesWholeRequestsOnlyAndFlagsShortReads)
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

TEST_F(CDvbIpRecvThreadTest, KernelDropsAreCountedAsTheKernelCountsThemAndOverflowIsShownUntilSeen)
{
    // Nobody reads: FIFO and pool fill, then a tiny kernel queue, which drops the
    // rest of an unpaced burst. The last drops come after the last datagram the
    // queue took, so no datagram brings their count.
    CDvbIpRecvThread r(20 * kDatagramBytes, 30);
    Prepare(r);
    r.SetSocketBufferBytes(16 * 1024);
    ASSERT_TRUE(r.Start()) << r.LastError();
    constexpr std::uint32_t kSent = 2'000;
    Sender s(m_port);
    for (std::uint32_t i = 0; i < kSent; ++i)
        s.Send(Payload(i));
    const auto kernel = [&] { return static_cast<std::uint64_t>(std::max<std::int64_t>(0, KernelDrops(m_port))); };
    ASSERT_TRUE(tstest::WaitFor([&] { return kernel() > 0 && r.GetCounters().kernelDrops == kernel(); },
                                std::chrono::seconds(3)))
        << "kernel " << kernel() << " counted " << r.GetCounters().kernelDrops;

    // The reader comes back: everything the kernel kept reaches the FIFO.
    const auto all = ReadUntilQuiet(r);
    EXPECT_NE(r.GetStatus() & CDvbIpRecvThread::kStatusOverflow, 0u) << "a loss shows until it is seen";
    EXPECT_TRUE(tstest::WaitFor([&] { return (r.GetStatus() & CDvbIpRecvThread::kStatusOverflow) == 0; },
                                std::chrono::seconds(1)))
        << "and then goes";
    const auto c = r.GetCounters();
    EXPECT_EQ(c.kernelDrops, kernel());
    EXPECT_EQ(all.size() / kDatagramBytes + c.kernelDrops, kSent) << "every datagram is written or counted";
    EXPECT_EQ(c.overflowDrops, 0u);
    r.Stop();
}

TEST_F(CDvbIpRecvThreadTest, StopWithAFullFifoAndNoReaderIsBoundedAndCountsWhatFoundNoRoom)
{
    CDvbIpRecvThread r(20 * kDatagramBytes, 200);
    Prepare(r);
    ASSERT_TRUE(r.Start());
    Sender s(m_port);
    s.SendUdp(0, 150);
    ASSERT_TRUE(tstest::WaitFor([&] { return r.GetCounters().received == 150; }, std::chrono::seconds(3)));
    const auto t0 = std::chrono::steady_clock::now();
    r.StopReceiving();
    const auto elapsed = std::chrono::steady_clock::now() - t0;
    EXPECT_LT(elapsed, std::chrono::milliseconds(CDvbIpRecvThread::kStopBoundMs + 600));
    const auto c = r.GetCounters();
    EXPECT_EQ(c.datagrams + c.overflowDrops, 150u) << "what found no room in the FIFO is counted";
    EXPECT_GT(c.overflowDrops, 0u);
    r.Stop();
    // Everything was joined and released: the receiver starts again.
    ASSERT_TRUE(r.Start()) << r.LastError();
    s.SendUdp(0, 5);
    EXPECT_TRUE(WaitDatagrams(r, 5));
    r.Stop();
}

namespace
{
// Every receive call fails as a socket out of kernel memory would.
class CFailingReceiver : public CDvbIpRecvThread
{
public:
    std::atomic<int> m_calls{0};

protected:
    int ReceiveBatch(int, mmsghdr*, unsigned, int) override
    {
        ++m_calls;
        errno = ENOBUFS;
        return -1;
    }
};
} // namespace

TEST(CDvbIpRecvThreadErrors, PersistentReceiveErrorBacksOffAndIsReported)
{
    CFailingReceiver r;
    r.SetPort(FreePort());
    ASSERT_TRUE(r.Start()) << r.LastError();
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    const int calls = r.m_calls.load();
    // Pauses of 1, 2, 4 ... 100 ms: about a dozen calls, not a spinning thread.
    EXPECT_GE(calls, 3);
    EXPECT_LE(calls, 40);
    EXPECT_GE(r.GetCounters().receiveErrors, static_cast<std::uint64_t>(calls));
    EXPECT_EQ(r.GetLastReceiveError(), ENOBUFS);
    r.Stop();
}
