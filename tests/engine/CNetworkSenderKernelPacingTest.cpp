// Kernel-timed pacing of the network sender: the departure schedule handed to
// io_uring (on an injected clock), the fall-back when io_uring or departure
// times are not to be had, and pause, jump and stop with requests in flight.
#include "engine/SenderFeed.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <mutex>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using senderfeed::Feed;
using senderfeed::kUnit;
using senderfeed::Open;
using tstest::WaitFor;
using Mode = CNetworkSender::PacingMode;

namespace
{
struct Departure
{
    std::int64_t atNs;
    std::uint32_t bytes;
    std::int64_t queuedNs; // the schedule's clock when it was handed over
};

//! A schedule clock that moves one refill cycle per read, and the departures
//! the sender hands over; each datagram's time is then exact whatever the machine does.
class RecordedSchedule
{
public:
    explicit RecordedSchedule(CNetworkSender& sender)
    {
        sender.SetClock(
            [this] { return m_now.fetch_add(CNetworkSender::kAheadCycleNs) + CNetworkSender::kAheadCycleNs; });
        sender.SetDepartureObserver([this](std::int64_t at, std::uint32_t bytes) {
            std::lock_guard lock(m_mutex);
            m_departures.push_back({at, bytes, m_now.load()});
        });
    }
    std::vector<Departure> Departures()
    {
        std::lock_guard lock(m_mutex);
        return m_departures;
    }

private:
    std::atomic<std::int64_t> m_now{5'000'000'000};
    std::mutex m_mutex;
    std::vector<Departure> m_departures;
};

CTxTimeProbe::Result FqFound(int)
{
    CTxTimeProbe::Result r;
    r.available = true;
    r.clockId = CLOCK_MONOTONIC;
    r.qdisc = "fq";
    r.device = "lo";
    return r;
}
} // namespace

// Each datagram leaves when its last byte falls due at the bit rate, handed
// over at most kAheadNs (plus the millisecond the schedule rounds up) ahead;
// the same schedule for io_uring timeouts and for departure times on the datagrams.
TEST(CNetworkSenderKernelPacing, DeparturesFollowTheBitRateAFewMillisecondsAhead)
{
    for (const Mode mode : {Mode::Uring, Mode::TxTime})
    {
        SCOPED_TRACE(CNetworkSender::PacingName(mode));
        LoopbackReceiver rx;
        CNetworkSender sender;
        RecordedSchedule schedule(sender);
        sender.SetTxTimeProbe(&FqFound);
        sender.SetPacing(mode);
        ASSERT_NO_FATAL_FAILURE(Open(sender, rx, 80'000'000));
        if (sender.GetPacingInUse() != mode)
            GTEST_SKIP() << sender.GetPacingNote();
        EXPECT_TRUE(sender.GetPacingNote().empty()) << sender.GetPacingNote();
        constexpr std::int64_t kPackets = 7 * 1'500;
        Feed(sender, kPackets);
        ASSERT_TRUE(rx.WaitForBytes(kPackets * 188, 10s));
        ASSERT_TRUE(WaitFor([&] { return sender.IsDrained(); }));
        sender.Stop();

        EXPECT_EQ(rx.Packets(), tstest::Numbers(0, kPackets));
        const auto d = schedule.Departures();
        ASSERT_EQ(d.size(), 1'500u) << "each datagram handed over once";
        const double unitNs = kUnit * 8e9 / 80'000'000;
        for (std::size_t i = 0; i < d.size(); ++i)
        {
            ASSERT_EQ(d[i].bytes, kUnit);
            ASSERT_LE(d[i].atNs - d[i].queuedNs, CNetworkSender::kAheadNs + 1'000'000) << "datagram " << i;
            if (i > 0)
            {
                ASSERT_NEAR(static_cast<double>(d[i].atNs - d[i - 1].atNs), unitNs, 1.0) << "datagram " << i;
            }
        }
        EXPECT_EQ(sender.Socket().GetDatagramsSent(), 1'500u);
    }
}

// io_uring refused (kernel.io_uring_disabled, a seccomp profile) or departure
// times without fq or etf: the play goes on with the next engine and says why.
TEST(CNetworkSenderKernelPacing, RefusedEnginesFallBackWithTheReason)
{
    struct Case
    {
        Mode asked;
        int setupError;
        bool qdiscFound;
        Mode used;
        const char* note; // empty: none
    };
    const Case cases[] = {
        {Mode::Uring, EPERM, false, Mode::Thread, "no io_uring pacing: "},
        {Mode::Auto, 0, false, Mode::Thread, ""},
        {Mode::TxTime, 0, false, Mode::Uring, "no departure-time pacing: lo has qdisc noqueue"},
        {Mode::TxTime, EPERM, false, Mode::Thread, "pacing by thread"},
        {Mode::Auto, EPERM, true, Mode::TxTime, ""},
        {Mode::Thread, 0, true, Mode::Thread, ""},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(std::string(CNetworkSender::PacingName(c.asked)) + " " + std::strerror(c.setupError));
        LoopbackReceiver rx;
        CNetworkSender sender;
        if (c.setupError != 0)
            sender.SetUringSetup([&](unsigned, io_uring&) { return -c.setupError; });
        if (c.qdiscFound)
            sender.SetTxTimeProbe(&FqFound);
        else
            sender.SetTxTimeProbe([](int fd) {
                CTxTimeProbe::Result r;
                r.device = CTxTimeProbe::OutgoingDevice(fd);
                r.qdisc = "noqueue";
                r.reason = r.device + " has qdisc noqueue, not fq or etf";
                return r;
            });
        sender.SetPacing(c.asked);
        ASSERT_NO_FATAL_FAILURE(Open(sender, rx, 20'000'000));
        if (c.used == Mode::Uring && sender.GetPacingInUse() == Mode::Thread)
            GTEST_SKIP() << "io_uring not available here: " << sender.GetPacingNote();
        EXPECT_EQ(sender.GetPacingInUse(), c.used);
        // The note names the reason, with the error of a refused io_uring set-up.
        const std::string note = sender.GetPacingNote();
        EXPECT_EQ(note.empty(), *c.note == '\0') << note;
        EXPECT_NE(note.find(c.note), std::string::npos) << note;
        const bool refused = c.setupError != 0 && c.used == Mode::Thread;
        EXPECT_TRUE(!refused || note.find(std::strerror(c.setupError)) != std::string::npos) << note;
        // Whatever the engine, the play delivers everything.
        Feed(sender, 700);
        ASSERT_TRUE(rx.WaitForBytes(700 * 188, 5s));
        sender.Stop();
        EXPECT_EQ(rx.Packets(), tstest::Numbers(0, 700));
    }
}

// io_uring times single datagrams: at 1 Gbit/s (bursts of 9) the thread paces, and says so.
// (The real look at loopback's qdisc, noqueue: play-cli-refusals-test.sh.)
TEST(CNetworkSenderKernelPacing, RatesWithBurstsArePacedByTheThread)
{
    LoopbackReceiver rx;
    CNetworkSender sender;
    sender.SetPacing(Mode::Uring);
    ASSERT_NO_FATAL_FAILURE(Open(sender, rx, 1'000'000'000));
    EXPECT_EQ(sender.GetPacingInUse(), Mode::Thread);
    EXPECT_NE(sender.GetPacingNote().find("below about 210 Mbit/s; pacing by thread"), std::string::npos)
        << sender.GetPacingNote();
    sender.Stop();
    EXPECT_TRUE(CNetworkSender::UringFits(210'000'000, 188));
    EXPECT_FALSE(CNetworkSender::UringFits(211'000'000, 188));
}

// Requests in flight at a pause are cancelled and leave after the resume; at a
// jump the datagrams already taken still leave; at a stop they are cancelled
// before the slots go. Nothing is lost, duplicated or reordered, nothing
// leaves during the pause or after the stop, and the counters match the wire.
TEST(CNetworkSenderKernelPacing, PauseJumpAndStopWithRequestsInFlightLoseNothing)
{
    LoopbackReceiver rx;
    CNetworkSender sender;
    sender.SetPacing(Mode::Uring);
    ASSERT_NO_FATAL_FAILURE(Open(sender, rx, 80'000'000));
    if (sender.GetPacingInUse() != Mode::Uring)
        GTEST_SKIP() << sender.GetPacingNote();
    constexpr std::int64_t kFirst = 7 * 6'000; // 0.8 s at 80 Mbit/s
    Feed(sender, kFirst);
    ASSERT_TRUE(rx.WaitForBytes(200 * kUnit, 10s));

    // 45 datagrams are in flight at 80 Mbit/s.
    sender.Pause(true);
    std::this_thread::sleep_for(50ms); // the next refill cancels them
    rx.WaitQuiet();                    // the receiving thread may lag behind the wire
    const std::size_t atPause = rx.Count();
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(rx.Count(), atPause) << "nothing leaves during a pause";
    sender.Pause(false);
    ASSERT_TRUE(rx.WaitForBytes((atPause + 200) * kUnit, 10s));

    // The jump: the FIFO is emptied, what was taken from it still leaves.
    sender.SetEndOfStream(false);
    const std::uint64_t written = sender.GetBytesWritten();
    const std::uint64_t dropped = sender.DropQueued();
    ASSERT_GT(dropped, 0u);
    const auto before = static_cast<std::int64_t>((written - dropped) / 188);
    constexpr std::int64_t kSecond = 1'000'000;
    Feed(sender, 7 * 3'000, kSecond);
    ASSERT_TRUE(rx.WaitForBytes(static_cast<std::uint64_t>(before) * 188 + 100 * kUnit, 10s));

    // What the sender counted at the stop, not what the receiver has read by then:
    // the receiving thread may lag (sanitizers, a loaded machine). A send completed
    // by the kernel after the stop would arrive uncounted.
    sender.Stop();
    const auto atStop = sender.Socket().GetDatagramsSent();
    rx.WaitQuiet();
    EXPECT_EQ(rx.Count(), atStop) << "nothing leaves after the stop";
    EXPECT_EQ(sender.Socket().GetDatagramsSent(), atStop);
    EXPECT_EQ(sender.GetDatagramsNotSent(), 0u);

    const auto packets = rx.Packets();
    ASSERT_GE(packets.size(), static_cast<std::size_t>(before));
    const std::vector<std::int64_t> head(packets.begin(), packets.begin() + before);
    EXPECT_EQ(head, tstest::Numbers(0, before)) << "everything taken before the jump left once, in order";
    const std::vector<std::int64_t> tail(packets.begin() + before, packets.end());
    EXPECT_EQ(tail, tstest::Numbers(kSecond, static_cast<std::int64_t>(tail.size())));
}
