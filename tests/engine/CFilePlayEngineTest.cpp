#include "engine/CFilePlayEngine.h"

#include "engine/CNetworkSender.h"
#include "engine/LoopbackReceiver.h"
#include "engine/TsTestStream.h"
#include "support/RecordingMessageSink.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <tuple>

namespace
{
constexpr std::uint32_t kLoopback = 0x7F000001;
constexpr std::uint32_t kSeparatorBytes = 188 * 12;

using tstest::RecordingMessageSink;
using tstest::WaitFor;

//! True when @p packets are 12 nulls, then @p count packet numbers that run
//! 0, 1, ... and start again at 0 after @p last, then anything.
bool RunsInOrder(const std::vector<std::int64_t>& packets, std::size_t count, std::int64_t last)
{
    for (std::size_t i = 0; i < count; ++i)
        if (packets.size() <= 12 + i || packets[12 + i] != static_cast<std::int64_t>(i) % (last + 1))
            return false;
    return true;
}

std::size_t CountNulls(const std::vector<std::int64_t>& packets, std::size_t from, std::size_t to)
{
    to = std::min(to, packets.size());
    return from < to
               ? static_cast<std::size_t>(std::count(packets.begin() + from, packets.begin() + to, tstest::kNullIndex))
               : 0;
}

//! One whole play of a stretch: 12 nulls, packets @p first .. @p last in order, 12 nulls.
void ExpectFramed(const std::vector<std::int64_t>& packets, std::int64_t first, std::int64_t last)
{
    std::vector<std::int64_t> want(12, tstest::kNullIndex);
    for (std::int64_t n = first; n <= last; ++n)
        want.push_back(n);
    want.insert(want.end(), 12, tstest::kNullIndex);
    EXPECT_EQ(packets, want);
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
        Redirect(m_rx);
    }
    void Redirect(LoopbackReceiver& rx) { m_sender.SetDestination(kLoopback, rx.Port(), false); }
    //! Bytes of one read of the engine (1 MiB and a sector) on the test's file system.
    std::int64_t ReadRoom()
    {
        CNetworkSender sender; // sends to the discard port, not to the test's receiver
        sender.SetRate(1'000'000, 188);
        sender.SetDestination(kLoopback, 9, false);
        CFilePlayEngine probe(&sender, nullptr);
        EXPECT_TRUE(probe.StartPlay(MakeFile("probe.ts", 1)));
        probe.Stop();
        return std::int64_t{probe.GetBufferSize()} - probe.GetSectorSize();
    }
    //! Waits for the end of play as the owner sees it, then for the receiver.
    bool WaitPlayedOut(LoopbackReceiver& rx)
    {
        const bool ended = WaitFor([&] { return m_engine.IsPlayedOut(); });
        rx.WaitQuiet();
        return ended;
    }
    std::string MakeFile(const std::string& name, std::uint64_t packets, std::size_t extraBytes = 0)
    {
        auto bytes = tstest::MakePackets(packets);
        bytes.resize(bytes.size() + extraBytes, 0x11);
        const std::string path = m_dir.File(name);
        tstest::WriteFile(path, bytes);
        return path;
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
    const std::string pipe = m_dir.File("pipe.ts");
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    std::vector<Case> cases = {
        {empty, CFilePlayEngine::kMsgCannotStart},
        {missing, CFilePlayEngine::kMsgNotFound},
        {directory, CFilePlayEngine::kMsgCannotOpen},
        {pipe, CFilePlayEngine::kMsgCannotOpen}, // without a writer: refused, not waited for
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
        // Its message, and nothing read or sent.
        EXPECT_EQ(std::make_tuple(sink.Messages(), engine.IsRunning(), m_sender.IsRunning()),
                  std::make_tuple(std::vector<std::string>{c.message}, false, false))
            << c.path;
    }
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

TEST_F(CFilePlayEngineTest, RangePositionAndLoopOfARangePlayTheirStretchOnly)
{
    const std::uint64_t packets = 10'001; // 1,880,188 bytes
    const std::int64_t size = 1'880'188;
    const std::string path = MakeFile("range.ts", packets);
    m_engine.SetRange(250, 750);
    m_engine.SetPosition(100); // below the range: clamped to its start
    ASSERT_TRUE(m_engine.StartPlay(path));
    EXPECT_EQ(m_engine.GetPosition(), 250u);
    EXPECT_EQ(m_engine.GetRangeLength(), size * 750 / 1000 - size * 250 / 1000);
    // The end of play as the Play tab sees it: the reader has finished and the
    // FIFO holds less than one datagram unit.
    ASSERT_TRUE(WaitFor([&] { return !m_engine.IsRunning() && m_sender.GetFifoLevel() < 1'428; }));
    m_rx.WaitQuiet();
    EXPECT_TRUE(m_engine.Stop());

    const std::int64_t sector = m_engine.GetSectorSize();
    const std::int64_t start = size * 250 / 1000 / sector * sector;
    const std::int64_t end = size * 750 / 1000;
    const std::int64_t last = end / 188 - 1; // the packet cut by the range end is not sent
    ExpectFramed(m_rx.Packets(), (start + 187) / 188, last);
    // Played bytes start at the sector below the range start.
    EXPECT_EQ(m_engine.GetPlayedBytes(), end - start + 2 * kSeparatorBytes - (size * 250 / 1000 - start));

    // A position inside the range starts there, sector-aligned; with Loop the
    // next passes restart at the range start itself (470,047 lies off the
    // sector grid: unbuffered reads refuse it, and the engine reads buffered
    // instead of failing).
    LoopbackReceiver rx;
    Redirect(rx);
    m_engine.SetPosition(600);
    m_engine.SetLoop(true);
    ASSERT_TRUE(m_engine.StartPlay(path));
    const std::int64_t resumed = (size * 600 / 1000 / sector * sector + 187) / 188;
    const std::int64_t loopFirst = (size * 250 / 1000 + 187) / 188; // 2,501
    const auto pass = static_cast<std::size_t>(last - loopFirst + 1);
    ASSERT_TRUE(WaitFor([&] { return rx.Count() * 7 > 12 + 3 * pass; }));
    EXPECT_TRUE(m_engine.Stop());
    const auto looped = rx.Packets();
    std::size_t i = 12;
    for (std::int64_t n = resumed; n <= last; ++n, ++i)
        ASSERT_EQ(looped[i], n) << "from the position, packet " << i;
    for (int loop = 0; loop < 2; ++loop)
        for (std::int64_t n = loopFirst; n <= last; ++n, ++i)
            ASSERT_EQ(looped[i], n) << "loop " << loop << ", packet " << i;
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

TEST_F(CFilePlayEngineTest, ALastReadShorterThanThreePacketsKeepsThePacketCutByTheReadBeforeIt)
{
    // Two reads: the first ends inside a packet, the second is under three
    // packets long (as 5,582 packets are with 512-byte sectors). Every packet
    // arrives whole between null packets, played once and at every loop point,
    // where the first follows the last without stuffing.
    const std::int64_t room = ReadRoom();
    ASSERT_NE(room % 188, 0);
    const std::int64_t packets = room / 188 + 2;
    const std::int64_t size = packets * 188;
    ASSERT_LT(size - room, 3 * 188);
    const std::string path = MakeFile("tworeads.ts", static_cast<std::uint64_t>(packets));
    ASSERT_TRUE(m_engine.StartPlay(path));
    ASSERT_TRUE(WaitPlayedOut(m_rx)) << "a file shorter than the prefill plays out by itself";
    ExpectFramed(m_rx.Packets(), 0, packets - 1);
    EXPECT_EQ(std::make_tuple(m_engine.IsFinished(), m_sink.Messages().size(), m_engine.GetPlayedBytes(),
                              m_engine.GetRangeLength()),
              std::make_tuple(true, 0u, size + 2 * kSeparatorBytes, size));
    EXPECT_TRUE(m_engine.Stop());

    LoopbackReceiver rx;
    Redirect(rx);
    m_engine.SetLoop(true);
    ASSERT_TRUE(m_engine.StartPlay(path));
    ASSERT_TRUE(WaitFor([&] { return rx.Count() * 7 > 12 + 3 * static_cast<std::size_t>(packets); }));
    // Ends of the stretch count when they have left, not when they were read
    // (the reader runs far ahead). What left is the sender's count: a slow
    // receiver (sanitizers) may lose datagrams in its queue.
    const std::uint64_t loops = m_engine.GetLoopCount();
    const std::uint64_t passes = (m_sender.GetBytesSent() / 188 - 12) / static_cast<std::uint64_t>(packets);
    EXPECT_GE(loops + 1, passes);
    EXPECT_LE(loops, passes + 1);
    EXPECT_TRUE(m_engine.Stop());
    EXPECT_GT(m_engine.GetPlayedBytes(), 3 * size) << "played bytes count across loops";
    EXPECT_TRUE(RunsInOrder(rx.Packets(), 3 * static_cast<std::size_t>(packets), packets - 1));
}

TEST_F(CFilePlayEngineTest, AStretchThatGivesNothingEndsTheLoopWithAMessage)
{
    // A range shorter than a packet: nothing whole to send, ever.
    const std::string tiny = MakeFile("short.ts", 5, 60);
    m_engine.SetLoop(true);
    m_engine.SetRange(0, 100);
    ASSERT_TRUE(m_engine.StartPlay(tiny));
    ASSERT_TRUE(WaitFor([&] { return !m_engine.IsRunning(); })) << "no endless loop over nothing";
    EXPECT_TRUE(m_engine.HasFailed());
    EXPECT_EQ(m_sink.Messages(), std::vector<std::string>{CFilePlayEngine::kMsgReadError});
    ASSERT_TRUE(WaitPlayedOut(m_rx));
    ExpectFramed(m_rx.Packets(), 0, -1); // the stuffing only
    EXPECT_EQ(m_engine.GetLoopCount(), 0u);
    EXPECT_TRUE(m_engine.Stop());

    // A file cut to 0 bytes during the play: what was read leaves, then the play ends.
    RecordingMessageSink sink;
    CFilePlayEngine engine(&m_sender, &sink);
    LoopbackReceiver rx;
    Redirect(rx);
    const std::string cut = MakeFile("cut.ts", 2'000);
    engine.SetLoop(true);
    ASSERT_TRUE(engine.StartPlay(cut));
    ASSERT_TRUE(WaitFor([&] { return rx.Count() >= 20; }));
    ASSERT_EQ(truncate(cut.c_str(), 0), 0);
    ASSERT_TRUE(WaitFor([&] { return !engine.IsRunning(); }));
    EXPECT_TRUE(engine.HasFailed());
    EXPECT_EQ(sink.Messages(), std::vector<std::string>{CFilePlayEngine::kMsgCannotStart}) << "the empty-file message";
    ASSERT_TRUE(WaitFor([&] { return engine.IsPlayedOut(); }));
    rx.WaitQuiet();
    const auto got = rx.Packets();
    ASSERT_GT(got.size(), 24u);
    EXPECT_TRUE(RunsInOrder(got, got.size() - 24, 1'999));
    EXPECT_EQ(CountNulls(got, got.size() - 12, got.size()), 12u);
}

TEST_F(CFilePlayEngineTest, ANewPlayLetsTheTailOfTheFinishedOneLeaveFirst)
{
    Configure(10'000'000);
    const std::string first = MakeFile("first.ts", 3'000); // 0.45 s at 10 Mbit/s
    const std::string second = MakeFile("second.ts", 500);
    ASSERT_TRUE(m_engine.StartPlay(first));
    ASSERT_TRUE(WaitFor([&] { return !m_engine.IsRunning(); }));
    EXPECT_FALSE(m_engine.IsPlayedOut()) << "the tail is still leaving";

    // Play pressed again, for another destination, without a Stop in between.
    LoopbackReceiver rx;
    Redirect(rx);
    ASSERT_TRUE(m_engine.StartPlay(second));
    ASSERT_TRUE(WaitPlayedOut(rx));
    m_rx.WaitQuiet();
    ExpectFramed(m_rx.Packets(), 0, 2'999); // the first play arrived whole, at its own destination
    ExpectFramed(rx.Packets(), 0, 499);
    EXPECT_TRUE(m_engine.Stop());
}

TEST_F(CFilePlayEngineTest, AReaderThatDidNotEndRefusesTheNextStart)
{
    RecordingMessageSink sink(true);
    CFilePlayEngine engine(&m_sender, &sink);
    engine.SetLoop(true);
    engine.SetRange(0, 100); // ends at once with a message, which holds the reader
    ASSERT_TRUE(engine.StartPlay(MakeFile("held.ts", 5, 60)));
    ASSERT_TRUE(WaitFor([&] { return !sink.Messages().empty(); }));
    EXPECT_FALSE(engine.Stop()) << "the reader did not end in time";

    const std::string next = MakeFile("next.ts", 100);
    engine.SetRange(0, 1'000);
    EXPECT_FALSE(engine.StartPlay(next));
    EXPECT_EQ(sink.Messages().back(), CFilePlayEngine::kMsgPreviousPlay);
    sink.Release();
    EXPECT_TRUE(engine.StartPlay(next)) << "once it has ended";
    EXPECT_TRUE(engine.Stop());
}
