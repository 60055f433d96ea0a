#include "engine/CFilePlayEngine.h"

#include "engine/CNetworkSender.h"
#include "engine/LoopbackReceiver.h"
#include "engine/TsTestStream.h"
#include "support/RecordingMessageSink.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

using namespace std::chrono_literals;

namespace
{
constexpr std::uint32_t kLoopback = 0x7F000001;
constexpr std::uint32_t kSeparatorBytes = 188 * 12;

using tstest::RecordingMessageSink;
using tstest::WaitFor;

std::size_t CountNulls(const std::vector<std::int64_t>& packets, std::size_t from, std::size_t to)
{
    std::size_t n = 0;
    for (std::size_t i = from; i < to && i < packets.size(); ++i)
        n += packets[i] == tstest::kNullIndex ? 1 : 0;
    return n;
}

class CFilePlayEngineTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_FALSE(m_dir.Path().empty());
        Configure(100'000'000);
    }
    void Configure(std::uint32_t bitRate)
    {
        ASSERT_TRUE(m_sender.SetRate(bitRate, 188));
        m_sender.SetDestination(kLoopback, m_rx.Port(), false);
    }
    std::string MakeFile(const std::string& name, std::uint64_t packets, std::size_t extraBytes = 0)
    {
        auto bytes = tstest::MakePackets(packets);
        bytes.resize(bytes.size() + extraBytes, 0x11);
        const std::string path = m_dir.File(name);
        tstest::WriteFile(path, bytes);
        return path;
    }
    //! The end of play as the Play tab sees it: the reader has finished and the
    //! FIFO holds less than one datagram unit.
    bool WaitEndOfPlay()
    {
        const bool ended = WaitFor([&] { return !m_engine.IsRunning() && m_sender.GetFifoLevel() < 1'428; });
        m_rx.WaitQuiet();
        return ended;
    }

    tstest::TempDir m_dir;
    LoopbackReceiver m_rx;
    CNetworkSender m_sender;
    RecordingMessageSink m_sink;
    CFilePlayEngine m_engine{&m_sender, &m_sink};
};
} // namespace

TEST_F(CFilePlayEngineTest, FilesThatCannotPlayGiveTheirMessageAndStartNothing)
{
    const std::string empty = MakeFile("empty.ts", 0);
    const std::string missing = m_dir.Path() + "/missing.ts";
    const std::string directory = m_dir.Path();
    struct Case
    {
        std::string path;
        const char* message;
    };
    std::vector<Case> cases = {
        {empty, CFilePlayEngine::kMsgCannotStart},
        {missing, CFilePlayEngine::kMsgNotFound},
        {directory, CFilePlayEngine::kMsgCannotOpen},
    };
    if (geteuid() != 0)
    {
        // Root reads anything; elsewhere a file without read permission is locked.
        const std::string locked = MakeFile("locked.ts", 10);
        chmod(locked.c_str(), 0);
        cases.push_back({locked, CFilePlayEngine::kMsgCannotOpen});
    }
    for (const auto& c : cases)
    {
        RecordingMessageSink sink;
        CFilePlayEngine engine(&m_sender, &sink);
        EXPECT_FALSE(engine.StartPlay(c.path)) << c.path;
        EXPECT_FALSE(engine.IsRunning());
        EXPECT_EQ(sink.Messages(), std::vector<std::string>{c.message}) << c.path;
        EXPECT_FALSE(m_sender.IsRunning()) << "nothing is sent for " << c.path;
    }
}

TEST_F(CFilePlayEngineTest, PlayedOnceArrivesByteForByteBetweenNullPacketsAndEndsByItself)
{
    // 1 MiB: 5,577 whole packets and a partial one that no receiver could use.
    const std::uint64_t packets = 1'048'576 / 188;
    const std::string path = MakeFile("one.ts", packets, 1'048'576 - packets * 188);
    ASSERT_TRUE(m_engine.StartPlay(path));
    ASSERT_TRUE(WaitEndOfPlay()) << "a file shorter than the prefill plays out by itself";
    EXPECT_TRUE(m_engine.IsFinished());
    EXPECT_TRUE(m_sink.Messages().empty());

    std::vector<std::uint8_t> expected;
    const auto nulls = [&] {
        for (int i = 0; i < 12; ++i)
        {
            expected.insert(expected.end(), {0x47, 0x1F, 0xFF, 0x10});
            expected.resize(expected.size() + 184, 0);
        }
    };
    nulls();
    const auto data = tstest::MakePackets(packets);
    expected.insert(expected.end(), data.begin(), data.end());
    nulls();
    const auto received = m_rx.Payload();
    ASSERT_EQ(received.size(), expected.size());
    EXPECT_TRUE(received == expected);
    EXPECT_EQ(m_engine.GetPlayedBytes(), 1'048'576 + 2 * kSeparatorBytes);
    EXPECT_EQ(m_engine.GetRangeLength(), 1'048'576);
    EXPECT_TRUE(m_engine.Stop());
}

TEST_F(CFilePlayEngineTest, LoopFollowsTheLastChunkWithTheFirstWithoutStuffing)
{
    // 700 packets: not a whole number of sectors, so the last read is short.
    const std::uint64_t packets = 700;
    const std::string path = MakeFile("loop.ts", packets);
    m_engine.SetLoop(true);
    ASSERT_TRUE(m_engine.StartPlay(path));
    ASSERT_TRUE(WaitFor([&] { return m_rx.Count() * 7 > 3 * packets + 12; }));
    EXPECT_TRUE(m_engine.Stop());
    EXPECT_GT(m_engine.GetPlayedBytes(), std::int64_t{3 * 700 * 188}) << "played bytes count across loops";

    const auto got = m_rx.Packets();
    ASSERT_GE(got.size(), 3 * packets + 12);
    EXPECT_EQ(CountNulls(got, 0, 12), 12u);
    for (std::size_t i = 12; i < 12 + 3 * packets; ++i)
        ASSERT_EQ(got[i], static_cast<std::int64_t>((i - 12) % packets)) << "packet " << i;
}

TEST_F(CFilePlayEngineTest, JumpEmptiesTheFifoAndStuffsBeforeTheSectorAlignedPosition)
{
    Configure(8'000'000);
    const std::uint64_t packets = 20'000; // 3,760,000 bytes
    const std::string path = MakeFile("jump.ts", packets);
    m_engine.SetLoop(true); // fills the FIFO past the prefill, so the jump finds it full
    ASSERT_TRUE(m_engine.StartPlay(path));
    ASSERT_TRUE(WaitFor([&] { return m_rx.Count() >= 30; }));
    const std::uint64_t levelBefore = m_sender.GetFifoLevel();
    m_engine.SetPosition(500);
    m_engine.RequestJump();
    ASSERT_TRUE(WaitFor([&] { return !m_engine.IsJumpRequested(); }));
    const std::size_t atJump = m_rx.Count();
    ASSERT_TRUE(WaitFor([&] { return m_rx.Count() >= atJump + 60; }));
    EXPECT_TRUE(m_engine.Stop());
    EXPECT_GT(levelBefore, std::uint64_t{CNetworkSender::kPrefillBytes});

    // 1,880,000 is no multiple of a sector: the read starts at the sector below,
    // and the first whole packet from there on follows the stuffing.
    const std::int64_t sector = m_engine.GetSectorSize();
    const std::int64_t offset = 1'880'000 / sector * sector;
    ASSERT_NE(1'880'000 % sector, 0);
    const std::int64_t firstPacket = (offset + 187) / 188;

    const auto got = m_rx.Packets();
    EXPECT_EQ(CountNulls(got, 0, 12), 12u);
    std::size_t run = 12;
    while (run < got.size() && got[run] != tstest::kNullIndex)
        ++run;
    ASSERT_LT(run + 12 + 100, got.size()) << "no stuffing after the jump";
    EXPECT_EQ(CountNulls(got, run, run + 12), 12u);
    for (std::size_t i = 0; i < 100; ++i)
        ASSERT_EQ(got[run + 12 + i], firstPacket + static_cast<std::int64_t>(i));
    EXPECT_LT(run - 12, levelBefore / 188) << "what the FIFO held before the jump was dropped";
}

TEST_F(CFilePlayEngineTest, RangeAndPositionPlayTheirStretchOnly)
{
    const std::uint64_t packets = 10'001; // 1,880,188 bytes
    const std::int64_t size = 1'880'188;
    const std::string path = MakeFile("range.ts", packets);
    m_engine.SetRange(250, 750);
    m_engine.SetPosition(100); // below the range: clamped to its start
    ASSERT_TRUE(m_engine.StartPlay(path));
    EXPECT_EQ(m_engine.GetPosition(), 250u);
    EXPECT_EQ(m_engine.GetRangeLength(), size * 750 / 1000 - size * 250 / 1000);
    ASSERT_TRUE(WaitEndOfPlay());
    EXPECT_TRUE(m_engine.Stop());

    const std::int64_t sector = m_engine.GetSectorSize();
    const std::int64_t start = size * 250 / 1000 / sector * sector;
    const std::int64_t end = size * 750 / 1000;
    const auto got = m_rx.Packets();
    const std::int64_t first = (start + 187) / 188;
    const std::int64_t last = end / 188 - 1; // the packet cut by the range end is not sent
    ASSERT_EQ(got.size(), static_cast<std::size_t>(last - first + 1 + 24));
    EXPECT_EQ(CountNulls(got, 0, 12), 12u);
    EXPECT_EQ(CountNulls(got, got.size() - 12, got.size()), 12u);
    for (std::int64_t i = first; i <= last; ++i)
        ASSERT_EQ(got[static_cast<std::size_t>(12 + i - first)], i);
    // Played bytes start at the sector below the range start.
    EXPECT_EQ(m_engine.GetPlayedBytes(), end - start + 2 * kSeparatorBytes - (size * 250 / 1000 - start));

    // A position inside the range starts there, sector-aligned.
    RecordingMessageSink sink;
    LoopbackReceiver rx;
    m_sender.SetDestination(kLoopback, rx.Port(), false);
    m_engine.SetPosition(600);
    ASSERT_TRUE(m_engine.StartPlay(path));
    ASSERT_TRUE(WaitFor([&] { return !m_engine.IsRunning() && m_sender.GetFifoLevel() < 1'428; }));
    rx.WaitQuiet();
    const auto second = rx.Packets();
    ASSERT_GT(second.size(), 13u);
    EXPECT_EQ(second[12], (size * 600 / 1000 / sector * sector + 187) / 188);
    EXPECT_EQ(second[second.size() - 13], last);
}

TEST_F(CFilePlayEngineTest, LoopOfARangeRestartsAtItsUnalignedStart)
{
    // The range start (470,047) lies off the sector grid: unbuffered reads
    // refuse it, and the engine goes on with buffered reads instead of failing.
    const std::uint64_t packets = 10'001;
    const std::int64_t size = 1'880'188;
    const std::string path = MakeFile("rangeloop.ts", packets);
    m_engine.SetRange(250, 750);
    m_engine.SetLoop(true);
    ASSERT_TRUE(m_engine.StartPlay(path));
    const std::int64_t sector = m_engine.GetSectorSize();
    const std::int64_t first = (size * 250 / 1000 / sector * sector + 187) / 188;
    const std::int64_t loopFirst = (size * 250 / 1000 + 187) / 188; // 2,501
    const std::int64_t last = size * 750 / 1000 / 188 - 1;          // 7,499
    const std::size_t pass = static_cast<std::size_t>(last - loopFirst + 1);
    ASSERT_TRUE(WaitFor([&] { return m_rx.Count() * 7 > 12 + 3 * pass + 100; }));
    EXPECT_TRUE(m_engine.Stop());

    const auto got = m_rx.Packets();
    EXPECT_EQ(CountNulls(got, 0, 12), 12u);
    std::size_t i = 12;
    for (std::int64_t n = first; n <= last; ++n, ++i)
        ASSERT_EQ(got[i], n) << "first pass, packet " << i;
    for (int loop = 0; loop < 2; ++loop)
    {
        for (std::int64_t n = loopFirst; n <= last; ++n, ++i)
            ASSERT_EQ(got[i], n) << "loop " << loop << ", packet " << i;
    }
}

TEST_F(CFilePlayEngineTest, PauseHoldsThePositionAndResumeLosesNothing)
{
    Configure(20'000'000);
    const std::uint64_t packets = 2'000;
    const std::string path = MakeFile("pause.ts", packets);
    m_engine.SetLoop(true);
    ASSERT_TRUE(m_engine.StartPlay(path));
    ASSERT_TRUE(WaitFor([&] { return m_rx.Count() >= 100; }));

    m_engine.Pause(true);
    EXPECT_TRUE(m_engine.IsPaused());
    std::this_thread::sleep_for(30ms); // the cycle and the read under way end
    const std::uint64_t sentAtPause = m_sender.Socket().GetDatagramsSent();
    const std::int64_t played = m_engine.GetPlayedBytes();
    const std::uint64_t level = m_sender.GetFifoLevel();
    std::this_thread::sleep_for(300ms);
    const std::size_t atPause = m_rx.Count();
    EXPECT_EQ(atPause, sentAtPause) << "everything sent before the pause arrived";
    EXPECT_EQ(m_sender.Socket().GetDatagramsSent(), sentAtPause) << "nothing leaves while paused";
    EXPECT_EQ(m_engine.GetPlayedBytes(), played) << "the position holds";
    EXPECT_EQ(m_sender.GetFifoLevel(), level) << "the FIFO keeps its bytes";

    const auto resumed = std::chrono::steady_clock::now();
    m_engine.Pause(false);
    std::this_thread::sleep_for(100ms);
    const std::uint64_t sentSinceResume = m_sender.Socket().GetDatagramsSent() - sentAtPause;
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - resumed).count();
    // 20 Mbit/s is 1,900 datagrams a second; a catch-up of the pause would add 570.
    EXPECT_LT(static_cast<double>(sentSinceResume), 1'900.0 * seconds + 150) << "no catch-up burst after the pause";
    ASSERT_TRUE(WaitFor([&] { return m_rx.Count() >= atPause + 300; }));
    EXPECT_TRUE(m_engine.Stop());

    const auto got = m_rx.Packets();
    EXPECT_EQ(CountNulls(got, 0, 12), 12u);
    const std::size_t checked = (atPause + 250) * 7;
    ASSERT_GT(got.size(), checked);
    for (std::size_t i = 12; i < checked; ++i)
        ASSERT_EQ(got[i], static_cast<std::int64_t>((i - 12) % packets)) << "packet " << i;
}

TEST_F(CFilePlayEngineTest, StopEndsEveryStage)
{
    const std::string path = MakeFile("stop.ts", 2'000);
    EXPECT_TRUE(m_engine.Stop()) << "before any play";

    ASSERT_TRUE(m_engine.StartPlay(path));
    EXPECT_TRUE(m_engine.Stop()) << "right after the start";
    EXPECT_FALSE(m_engine.IsRunning());
    EXPECT_TRUE(m_engine.IsFinished());

    // Back-pressure: a slow sender and a looping file fill the FIFO.
    Configure(1'000'000);
    m_engine.SetLoop(true);
    ASSERT_TRUE(m_engine.StartPlay(path));
    ASSERT_TRUE(WaitFor([&] { return m_sender.GetFifoLevel() + 2 * 1'048'576 > CNetworkSender::kFifoCapacityBytes; }));
    EXPECT_TRUE(m_engine.Stop()) << "while the reader waits for room";
    EXPECT_FALSE(m_sender.IsRunning());

    ASSERT_TRUE(m_engine.StartPlay(path));
    m_engine.Pause(true);
    EXPECT_TRUE(m_engine.Stop()) << "while paused";
    EXPECT_FALSE(m_engine.IsPaused()) << "a new play starts unpaused";

    {
        CFilePlayEngine running(&m_sender, nullptr);
        running.SetLoop(true);
        ASSERT_TRUE(running.StartPlay(path));
        EXPECT_FALSE(running.StartPlay(path)) << "one play at a time";
    } // destroyed while playing: the reader is ended and joined
    EXPECT_FALSE(m_sender.IsRunning());
}
