#include "engine/CNetworkSender.h"

#include "engine/SenderFeed.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <memory>
#include <thread>
#include <tuple>

using namespace std::chrono_literals;

namespace
{
constexpr std::uint32_t kPs = 188;
using senderfeed::kLoopback;
using senderfeed::kUnit;
using senderfeed::Write;

//! A clock that the test moves.
struct FakeClock
{
    std::shared_ptr<std::atomic<std::int64_t>> ns = std::make_shared<std::atomic<std::int64_t>>(1'000'000'000);
    CSteadyClock::NowFn Fn() const
    {
        return [n = ns] { return n->load(); };
    }
    void Advance(std::chrono::milliseconds ms) { ns->fetch_add(ms.count() * 1'000'000); }
};

std::vector<std::uint8_t> Drain(CFifo& fifo)
{
    std::vector<std::uint8_t> out(fifo.GetUsed());
    std::uint32_t n = static_cast<std::uint32_t>(out.size());
    fifo.Read(out.data(), n);
    out.resize(n);
    return out;
}

using tstest::WaitFor;

//! A sender on the test's clock towards a loopback receiver.
class ClockedSenderTest : public ::testing::Test
{
protected:
    void Open(std::uint32_t rate, bool rtp)
    {
        m_s.SetClock(m_clock.Fn());
        ASSERT_TRUE(m_s.SetRate(rate, kPs));
        m_s.SetDestination(kLoopback, m_rx.Port(), rtp);
        ASSERT_TRUE(m_s.Open());
    }
    //! Opens, fills the FIFO just past the prefill with packets 0... and waits for the schedule to start.
    std::uint32_t OpenPrefilled(std::uint32_t rate, bool rtp)
    {
        Open(rate, rtp);
        const std::uint32_t count = CNetworkSender::kPrefillBytes / kPs + 1;
        EXPECT_TRUE(Write(m_s, tstest::MakePackets(count)));
        EXPECT_TRUE(WaitFor([&] { return m_s.IsPrefilled(); }));
        return count;
    }
    //! Lets 100 ms of the schedule at 10 Mbit/s leave.
    void SendATenthOfASecond()
    {
        std::this_thread::sleep_for(10ms);
        m_clock.Advance(100ms);
        EXPECT_TRUE(WaitFor([&] { return m_s.GetBytesSent() >= 1'250'000 / 10 / kUnit * kUnit; }));
        std::this_thread::sleep_for(10ms);
    }

    LoopbackReceiver m_rx;
    FakeClock m_clock;
    CNetworkSender m_s;
};

//! A sender whose FIFO is written to and drained by the test.
class CNetworkSenderWriteTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_s.SetRate(10'000'000, kPs));
        ASSERT_TRUE(m_s.Fifo().Allocate());
    }
    CNetworkSender m_s;
};
} // namespace

TEST_F(CNetworkSenderWriteTest, WholePacketsOnlyForEveryFileSizeAndReadSize)
{
    // Every file size over eight packets (whole packets and a cut one), read in
    // chunks of several sizes and played twice in a row as a loop does: the FIFO
    // gets the whole packets of each pass, intact and in order, and nothing else.
    const auto file = tstest::MakePackets(8);
    std::uint64_t written = 0;
    for (const std::size_t chunk : {3u, 100u, 187u, 188u, 189u, 328u, 375u, 564u, 1'000u, 1'316u})
    {
        for (std::size_t size = 1; size <= file.size(); ++size)
        {
            std::vector<std::uint8_t> expected;
            for (int pass = 0; pass < 2; ++pass)
            {
                for (std::size_t at = 0; at < size; at += chunk)
                    ASSERT_TRUE(Write(m_s, file, at, std::min(chunk, size - at)));
                m_s.DiscardCarry(); // the end of the stretch
                expected.insert(expected.end(), file.begin(),
                                file.begin() + static_cast<std::ptrdiff_t>(size / kPs * kPs));
            }
            written += expected.size();
            ASSERT_EQ(m_s.GetBytesWritten(), written);
            ASSERT_EQ(Drain(m_s.Fifo()), expected) << "file of " << size << " bytes read " << chunk << " at a time";
        }
    }
    // Junk after the last packet (a file that ends in zeros or a cut packet of
    // another stream): every whole packet before it still leaves, the junk never.
    for (const std::size_t junk : {1u, 60u, 188u, 400u})
    {
        auto tail = tstest::MakePackets(3);
        tail.resize(tail.size() + junk, 0x11);
        for (const std::size_t chunk : {3u, 100u, 189u, 1'316u})
        {
            for (std::size_t at = 0; at < tail.size(); at += chunk)
                ASSERT_TRUE(Write(m_s, tail, at, std::min(chunk, tail.size() - at)));
            m_s.DiscardCarry();
            written += 3 * kPs;
            ASSERT_EQ(m_s.GetBytesWritten(), written);
            ASSERT_EQ(Drain(m_s.Fifo()), std::vector<std::uint8_t>(tail.begin(), tail.begin() + 3 * kPs))
                << junk << " junk bytes read " << chunk << " at a time";
        }
    }
    // A jump drops what waits, held-over bytes included; it counts as done.
    ASSERT_TRUE(Write(m_s, file, 0, 1'000));
    EXPECT_EQ(m_s.DropQueued(), 5 * kPs);
    EXPECT_EQ(m_s.GetBytesTaken(), 5 * kPs);
    ASSERT_TRUE(Write(m_s, file, 1'000, 200));
    EXPECT_EQ(m_s.GetFifoLevel(), 0u) << "the 60 bytes before the jump do not complete a packet after it";
}

TEST_F(CNetworkSenderWriteTest, ResyncDropsMidPacketStartAndStaleCarry)
{
    const auto data = tstest::MakePackets(10);
    // Starts 50 bytes into packet 0: those bytes and the rest of packet 0 are dropped.
    ASSERT_TRUE(Write(m_s, data, 50, 1'000));
    EXPECT_EQ(Drain(m_s.Fifo()), tstest::MakePackets(4, 1));
    // A write that does not continue the carried bytes drops them.
    ASSERT_TRUE(Write(m_s, data, 3 * kPs, 5 * kPs));
    EXPECT_EQ(Drain(m_s.Fifo()), tstest::MakePackets(5, 3));
}

TEST_F(CNetworkSenderWriteTest, RefusesWhenCarryPlusLengthExceedsFreeSpace)
{
    const std::uint32_t free = m_s.Fifo().GetFree();
    const auto data = tstest::MakePackets(free / kPs + 2);
    EXPECT_FALSE(Write(m_s, data, 0, free + 1));
    EXPECT_EQ(m_s.GetFifoLevel(), 0u);
    EXPECT_TRUE(Write(m_s, data, 0, free / kPs * kPs));
}

TEST_F(ClockedSenderTest, SendsNothingBeforeHalfFullThenKeepsTheScheduleExactly)
{
    constexpr std::uint32_t kRate = 50'000'000;
    ASSERT_NO_FATAL_FAILURE(Open(kRate, true));

    const auto data = tstest::MakePackets(CNetworkSender::kPrefillBytes / kPs);
    ASSERT_TRUE(Write(m_s, data)); // exactly at (not above) half: still prefilling
    std::this_thread::sleep_for(30ms);
    m_clock.Advance(500ms);
    std::this_thread::sleep_for(30ms);
    EXPECT_FALSE(m_s.IsPrefilled());
    EXPECT_EQ(m_rx.Count(), 0u);

    ASSERT_TRUE(Write(m_s, tstest::MakePackets(1, static_cast<std::uint32_t>(data.size() / kPs))));
    ASSERT_TRUE(WaitFor([&] { return m_s.IsPrefilled(); }));
    // The clock starts at the first cycle after the prefill; one second later the
    // schedule owes exactly one second of whole datagrams.
    std::this_thread::sleep_for(20ms);
    m_clock.Advance(1'000ms);
    const std::uint64_t expected = std::uint64_t{kRate} / 8 / kUnit * kUnit;
    ASSERT_TRUE(WaitFor([&] { return m_s.GetBytesSent() >= expected; }));
    std::this_thread::sleep_for(30ms);
    EXPECT_EQ(m_s.GetBytesSent(), expected) << "no more than is due";
    ASSERT_TRUE(m_rx.WaitForBytes(expected / kUnit * (kUnit + 12), 10s));

    // RTP timestamps follow the byte position; the payload arrives in order.
    const auto d = m_rx.Datagrams();
    ASSERT_EQ(d.size(), expected / kUnit);
    std::uint64_t pos = 0;
    for (const auto& g : d)
    {
        const std::uint32_t ts =
            std::uint32_t{g[4]} << 24 | std::uint32_t{g[5]} << 16 | std::uint32_t{g[6]} << 8 | g[7];
        ASSERT_EQ(ts, static_cast<std::uint32_t>(pos * 720'000 / kRate));
        ASSERT_TRUE(std::equal(g.begin() + 12, g.end(), data.begin() + static_cast<std::ptrdiff_t>(pos)));
        pos += kUnit;
    }
    EXPECT_TRUE(m_s.Stop());
}

TEST_F(ClockedSenderTest, UnderflowRisesWhenStarvedAndFallsAfterOneGoodCycle)
{
    const std::uint32_t count = OpenPrefilled(80'000'000, false);
    EXPECT_EQ(m_s.GetStatusFlags(), 0u);

    m_clock.Advance(2'500ms); // 25 MB due: more than the FIFO holds, less than a whole FIFO
    ASSERT_TRUE(WaitFor([&] { return m_s.GetFifoLevel() < kUnit; }));
    ASSERT_TRUE(WaitFor([&] { return (m_s.GetStatusFlags() & CNetworkSender::kStatusUnderflow) != 0; }));

    ASSERT_TRUE(Write(m_s, tstest::MakePackets(70'000, count)));
    ASSERT_TRUE(WaitFor([&] { return (m_s.GetStatusFlags() & CNetworkSender::kStatusUnderflow) == 0; }));
    EXPECT_TRUE(m_s.Stop());
}

TEST_F(ClockedSenderTest, StallOfAWholeFifoRestartsTheScheduleWithoutBurst)
{
    OpenPrefilled(10'000'000, true);
    ASSERT_NO_FATAL_FAILURE(SendATenthOfASecond());
    ASSERT_TRUE(m_rx.WaitForBytes(m_s.GetBytesSent() / kUnit * (kUnit + 12), 5s));
    const std::uint64_t before = m_rx.Bytes();

    m_clock.Advance(60'000ms); // 75 MB due at 10 Mbit/s: more than a whole FIFO
    std::this_thread::sleep_for(300ms);
    EXPECT_LT(m_rx.Bytes() - before, 2 * (kUnit + 12)) << "no catch-up burst";
    ASSERT_TRUE(WaitFor([&] { return m_s.GetBytesSent() == 0; }, 3s)) << "the schedule restarts from zero";
    m_clock.Advance(100ms);
    ASSERT_TRUE(WaitFor([&] { return m_s.GetBytesSent() > 0; }));
    EXPECT_LE(m_s.GetBytesSent(), 10'000'000u / 8 / 10 + kUnit);
    m_s.Stop();
}

TEST_F(ClockedSenderTest, AtHighRatesTheFifoHoldsASecondAndALagWithinItIsCaughtUp)
{
    constexpr std::uint32_t kMiB = 1'048'576;
    m_s.SetSmoothPacing(false);
    ASSERT_NO_FATAL_FAILURE(Open(1'000'000'000, false));
    ASSERT_EQ(std::make_pair(m_s.GetFifoCapacity(), m_s.Fifo().GetCapacity()), std::make_pair(120 * kMiB, 120 * kMiB));

    // The prefill is half of the larger FIFO: 30 MiB do not start the schedule.
    const std::uint32_t packets = 60 * kMiB / kPs + 1;
    const auto data = tstest::MakePackets(packets);
    const std::size_t firstPart = std::size_t{CNetworkSender::kFifoCapacityBytes} / kPs * kPs;
    ASSERT_TRUE(Write(m_s, data, 0, firstPart));
    std::this_thread::sleep_for(30ms);
    EXPECT_FALSE(m_s.IsPrefilled());
    ASSERT_TRUE(Write(m_s, data, firstPart));
    ASSERT_TRUE(WaitFor([&] { return m_s.IsPrefilled(); }));
    std::this_thread::sleep_for(10ms);

    // 0.4 s late: 50 MB due, more than the old 30 MiB FIFO but held by this one.
    // That is caught up, not a stall: the schedule goes on and nothing underflows.
    m_clock.Advance(400ms);
    const std::uint64_t due = 50'000'000 / kUnit * kUnit;
    ASSERT_TRUE(WaitFor([&] { return m_s.GetBytesSent() > 0; }));
    std::uint64_t lowest = UINT64_MAX;
    ASSERT_TRUE(WaitFor([&] {
        const std::uint64_t sent = m_s.GetBytesSent();
        lowest = std::min(lowest, sent);
        return sent >= due;
    }));
    EXPECT_GT(lowest, 0u) << "no restart of the schedule";
    EXPECT_EQ(m_s.GetStatusFlags(), 0u);
    EXPECT_TRUE(m_s.Stop());
}

TEST(CNetworkSenderTest, ShortStreamPlaysOutCompletelyOnceAllIsWritten)
{
    LoopbackReceiver rx;
    CNetworkSender s;
    ASSERT_TRUE(s.SetRate(100'000'000, 0)); // packet size 0 plays as 188
    s.SetDestination(kLoopback, rx.Port(), false);
    ASSERT_TRUE(s.Open());
    const std::uint32_t count = 1'048'576 / kPs; // 5,577 packets: not a whole number of datagrams
    const auto data = tstest::MakePackets(count);
    ASSERT_TRUE(Write(s, data));
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(rx.Count(), 0u) << "far below the prefill";
    EXPECT_FALSE(s.IsDrained());
    s.SetEndOfStream(true);
    ASSERT_TRUE(rx.WaitForBytes(data.size(), 10s));
    EXPECT_EQ(s.GetFifoLevel(), 0u);
    rx.WaitQuiet(50ms, 2s);
    EXPECT_EQ(rx.Payload(), data);
    EXPECT_EQ(rx.Datagrams().back().size(), (count % 7) * kPs) << "the last partial datagram";
    ASSERT_TRUE(WaitFor([&] { return s.IsDrained(); })) << "nothing left to drop";
    EXPECT_EQ(s.GetBytesTaken(), data.size());
    s.Stop();
}

TEST_F(ClockedSenderTest, RefusedDatagramsAreCountedWithTheirReasonNeverAsSentAndOpenResetsThem)
{
    OpenPrefilled(10'000'000, true);
    ASSERT_NO_FATAL_FAILURE(SendATenthOfASecond());
    const std::uint64_t sentBefore = m_s.GetBytesSent();
    EXPECT_EQ(std::make_pair(m_s.GetDatagramsNotSent(), m_s.GetLastSendError()), std::make_pair(0ul, 0));

    // The socket loses its destination: every send fails for good from here on.
    sockaddr_in none{};
    none.sin_family = AF_UNSPEC;
    ASSERT_EQ(::connect(m_s.Socket().NativeHandle(), reinterpret_cast<const sockaddr*>(&none), sizeof none), 0);
    m_clock.Advance(100ms);
    ASSERT_TRUE(WaitFor([&] { return m_s.GetBytesTaken() >= 2 * sentBefore; }));
    std::this_thread::sleep_for(10ms);
    // Refused bytes are not sent: all taken since are counted not sent, datagram by datagram.
    const std::uint64_t notSent = m_s.GetBytesTaken() - sentBefore;
    EXPECT_EQ(
        std::make_tuple(m_s.GetLastSendError(), m_s.GetBytesSent(), m_s.GetBytesNotSent(), m_s.GetDatagramsNotSent()),
        std::make_tuple(EDESTADDRREQ, sentBefore, notSent, notSent / kUnit));
    ASSERT_TRUE(m_rx.WaitForBytes(sentBefore / kUnit * (kUnit + 12), 5s));
    m_rx.WaitQuiet(50ms);
    EXPECT_EQ(m_rx.Bytes(), sentBefore / kUnit * (kUnit + 12)) << "what counts as sent is what arrived";

    ASSERT_TRUE(m_s.Open()) << "a new play on a new socket";
    EXPECT_EQ(std::make_tuple(m_s.GetDatagramsNotSent(), m_s.GetBytesNotSent(), m_s.GetLastSendError()),
              std::make_tuple(0u, 0u, 0));
    EXPECT_TRUE(m_s.Stop());
}

TEST(CNetworkSenderTest, OpenFailsWithAClearMessageWhenTheFifoMemoryCannotBeHad)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizers reserve address space of their own";
#endif
    // In a child whose address space leaves no room for the 120 MiB FIFO of 1 Gbit/s.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0)
    {
        std::ifstream statm("/proc/self/statm");
        std::uint64_t pages = 0;
        statm >> pages;
        const rlim_t bytes = pages * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) + 64 * 1'048'576;
        const rlimit limit{bytes, bytes};
        if (setrlimit(RLIMIT_AS, &limit) != 0)
            _exit(3);
        CNetworkSender s;
        s.SetRate(1'000'000'000, kPs);
        s.SetDestination(kLoopback, 9, false);
        if (s.Open())
            _exit(2);
        const bool clear = s.GetOpenError() == std::string(std::strerror(ENOMEM)) + ": the send FIFO needs 120 MiB";
        _exit(clear && !s.IsRunning() ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "2: opened anyway, 1: wrong message or a thread started";
}

TEST(CNetworkSenderTest, RtpTimestampIsExactPastTheOverflowOf57HoursAtOneGigabit)
{
    __extension__ typedef unsigned __int128 Wide;
    struct Case
    {
        std::uint64_t position;
        std::uint64_t bitRate;
    };
    for (const Case c : {Case{0, 0}, Case{1'316, 10'000'000}, Case{123'456'789'012, 1'000'000'000},
                         Case{30'000'000'000'000, 1'000'000'000}, // 66 h at 1 Gbit/s
                         Case{UINT64_MAX, 4'294'967'295}, Case{UINT64_MAX - 7, 1}})
    {
        const std::uint64_t rate = c.bitRate == 0 ? 1 : c.bitRate;
        const auto expected = static_cast<std::uint32_t>(Wide{c.position} * 720'000 / rate);
        EXPECT_EQ(CNetworkSender::RtpTimestamp(c.position, c.bitRate), expected) << c.position << " at " << c.bitRate;
    }
}
