// The play controller without widgets: refused and failed starts, position and
// loop count of what has left the sender, pause of a draining tail, and the
// network status texts.

#include "engine/CPlayController.h"

#include "analysis/CDecodeStream.h"
#include "engine/CNetworkSender.h"
#include "engine/FakeSendHealth.h"
#include "engine/LoopbackReceiver.h"
#include "engine/TsTestStream.h"
#include "support/RecordingMessageSink.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <thread>
#include <tuple>

using namespace std::chrono_literals;
using PlayState = CPlayController::PlayState;
using StartResult = CPlayController::StartResult;

namespace
{
constexpr std::uint32_t kLoopback = 0x7F000001;

std::size_t DataPackets(const std::vector<std::int64_t>& packets)
{
    return static_cast<std::size_t>(
        std::count_if(packets.begin(), packets.end(), [](std::int64_t p) { return p >= 0; }));
}

class CPlayControllerTest : public ::testing::Test
{
protected:
    std::string MakeFile(const std::string& name, std::uint64_t packets)
    {
        const std::string path = m_dir.File(name);
        tstest::WriteFile(path, tstest::MakePackets(packets));
        return path;
    }
    CPlayController::PlaySettings To(std::uint32_t bitRate) const
    {
        CPlayController::PlaySettings settings;
        settings.address = kLoopback;
        settings.port = m_rx.Port();
        settings.bitRate = bitRate;
        return settings;
    }
    //! Polls the progress until the play has played out; every snapshot, in order.
    std::vector<CPlayController::PlayProgress> PlayOut()
    {
        std::vector<CPlayController::PlayProgress> seen;
        tstest::WaitFor([&] {
            seen.push_back(m_play.Progress());
            return seen.back().playedOut;
        });
        return seen;
    }

    tstest::TempDir m_dir;
    LoopbackReceiver m_rx;
    CNetworkSender m_sender;
    CDecodeStream m_decoder;
    tstest::RecordingMessageSink m_messages;
    CPlayController m_play{m_sender, m_decoder, &m_messages};
};
} // namespace

TEST_F(CPlayControllerTest, NonsensePlaysAreRefusedBeforeAnythingIsSent)
{
    const std::string data = MakeFile("data.ts", 2'000);
    const std::string garbage = m_dir.File("garbage.ts");
    tstest::WriteFile(garbage, std::vector<std::uint8_t>(20'000, 0x11));
    struct Case
    {
        std::string path;
        std::uint32_t packetSize;
        std::uint32_t rangeStart, rangeEnd;
        std::optional<std::uint32_t> position;
        StartResult expected;
    };
    const Case cases[] = {
        {garbage, 0, 0, 1'000, {}, StartResult::NotTransportStream},
        {data, 204, 0, 1'000, {}, StartResult::PacketSizeMismatch},
        {data, 0, 500, 700, 499, StartResult::PositionOutsideRange},
        {data, 0, 500, 700, 701, StartResult::PositionOutsideRange},
    };
    for (const Case& c : cases)
    {
        CPlayController::PlaySettings settings = To(8'000'000);
        settings.packetSize = c.packetSize;
        settings.rangeStart = c.rangeStart;
        settings.rangeEnd = c.rangeEnd;
        settings.position = c.position;
        m_play.Analyse(c.path);
        EXPECT_EQ(m_play.Start(c.path, settings), c.expected) << c.path << " " << c.packetSize;
        EXPECT_EQ(m_play.GetState(), PlayState::Stopped);
        EXPECT_FALSE(m_sender.IsRunning());
    }
    EXPECT_TRUE(m_messages.Messages().empty()) << "a refusal is the front end's to tell";

    // The figures kept after a failed analysis are not the missing file's: it
    // fails on its own account.
    m_play.Analyse(garbage);
    const std::string missing = m_dir.Path() + "/missing.ts";
    EXPECT_FALSE(m_play.Analyse(missing).ok);
    EXPECT_EQ(m_play.Start(missing, To(8'000'000)), StartResult::Failed);
    EXPECT_EQ(m_messages.Messages(), std::vector<std::string>{CFilePlayEngine::kMsgNotFound});
    // A start the system refuses, with its reason on a line of its own: play-cli-refusals-test.sh.
}

TEST_F(CPlayControllerTest, APlayWithoutLoopEndsAtTheEndOfItsRangeAndCountsNoLoop)
{
    // 6,000 packets: the ranges start and end on packet boundaries.
    const std::string path = MakeFile("range.ts", 6'000);
    m_play.Analyse(path);
    for (const auto& [start, end] : {std::pair<std::uint32_t, std::uint32_t>{0, 1'000}, {200, 600}})
    {
        CPlayController::PlaySettings settings = To(20'000'000);
        settings.rangeStart = start;
        settings.rangeEnd = end;
        ASSERT_EQ(m_play.Start(path, settings), StartResult::Started);
        const auto seen = PlayOut();
        ASSERT_TRUE(seen.back().playedOut) << "range " << start << ":" << end;
        std::uint32_t previous = start;
        for (const auto& progress : seen)
        {
            EXPECT_EQ(progress.state, PlayState::Playing) << "played out is still playing until Stop";
            EXPECT_GE(progress.positionPermille, previous) << "never backwards";
            EXPECT_LE(progress.positionPermille, end);
            EXPECT_EQ(progress.tsSeconds, m_play.TsSecondsAt(progress.positionPermille));
            previous = progress.positionPermille;
        }
        // The end shows as the end, not as a wrap to the start, and ending is no loop.
        EXPECT_EQ(std::make_tuple(seen.back().positionPermille, seen.back().loopCount), std::make_tuple(end, 0));
        EXPECT_TRUE(m_play.Stop());
        EXPECT_EQ(m_play.GetState(), PlayState::Stopped);
        m_rx.WaitQuiet();
    }
    // The range start is read from the sector below it: the packet that
    // begins there is played too.
    const std::uint32_t sector = m_play.Engine().GetSectorSize();
    const std::uint64_t firstPacket = (225'600 / sector * sector + 187) / 188;
    EXPECT_EQ(DataPackets(m_rx.Packets()), 6'000u + (3'600u - firstPacket));
}

TEST_F(CPlayControllerTest, LoopCountAndJumpsFollowWhatLeftTheSender)
{
    // Six packets a pass: the stuffing before the first pass (12 packets)
    // would count as two passes, and the reader runs far ahead of the wire.
    const std::string path = MakeFile("tiny.ts", 6);
    m_play.Analyse(path);
    CPlayController::PlaySettings settings = To(100'000'000);
    settings.loop = true;
    ASSERT_EQ(m_play.Start(path, settings), StartResult::Started);
    ASSERT_TRUE(tstest::WaitFor([&] { return m_rx.Count() > 40; }));

    ASSERT_TRUE(m_play.Pause());
    m_rx.WaitQuiet();
    const CPlayController::PlayProgress paused = m_play.Progress();
    EXPECT_TRUE(paused.paused);
    EXPECT_EQ(paused.loopCount, static_cast<std::int64_t>(DataPackets(m_rx.Packets()) / 6));
    EXPECT_GT(m_sender.GetFifoLevel(), 1'000'000u) << "the reader is far ahead of what has left";

    // A jump shows at once, also while paused (the reader takes it once the
    // FIFO has room); the count starts again from it.
    EXPECT_EQ(m_play.Jump(500), 500u);
    EXPECT_EQ(m_play.Progress().positionPermille, 500u);
    m_play.Resume();
    ASSERT_TRUE(tstest::WaitFor([&] { return !m_play.Engine().IsJumpRequested(); }));
    ASSERT_TRUE(tstest::WaitFor([&] { return m_play.Progress().loopCount >= 3; }));

    // Loop off during the play: the passes played stay counted.
    const std::int64_t looped = m_play.Progress().loopCount;
    m_play.SetLoop(false);
    ASSERT_TRUE(tstest::WaitFor([&] { return !m_play.Engine().IsRunning(); }));
    EXPECT_GE(m_play.Progress().loopCount, looped);
    EXPECT_TRUE(m_play.Stop());
}

TEST_F(CPlayControllerTest, PauseHoldsTheDrainingTailAndPlayDuringThePlayRestartsNothing)
{
    std::atomic<std::int64_t> nowNs{1'000'000'000};
    m_play.SetClock([&nowNs] { return nowNs.load(); });
    const auto advance = [&nowNs](std::int64_t ms) { nowNs += ms * 1'000'000; };
    // 2,000 packets at 4 Mbit/s: read at once, sent over 0.75 s.
    const std::string path = MakeFile("tail.ts", 2'000);
    m_play.Analyse(path);
    ASSERT_EQ(m_play.Start(path, To(4'000'000)), StartResult::Started);
    ASSERT_TRUE(tstest::WaitFor([&] { return !m_play.Engine().IsRunning() && m_rx.Count() > 5; }));

    advance(1'500);
    ASSERT_TRUE(m_play.Pause()) << "the reader has finished, but the play goes on";
    m_rx.WaitQuiet();
    const std::uint64_t held = m_rx.Bytes();
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(m_rx.Bytes(), held) << "nothing leaves while paused";
    advance(5'000);
    const CPlayController::PlayProgress paused = m_play.Progress();
    EXPECT_FALSE(paused.playedOut);
    EXPECT_EQ(paused.elapsedMs, 1'500) << "the elapsed time holds through a pause";

    EXPECT_EQ(m_play.Start(path, To(4'000'000)), StartResult::AlreadyPlaying);
    EXPECT_FALSE(m_play.IsPaused()) << "Play during a pause resumes";
    advance(500);
    ASSERT_TRUE(PlayOut().back().playedOut);
    EXPECT_EQ(m_play.Progress().elapsedMs, 2'000);
    EXPECT_TRUE(m_play.Stop());
    advance(1'000);
    EXPECT_EQ(m_play.Progress().elapsedMs, 2'000) << "a stopped play keeps its elapsed time";

    m_rx.WaitQuiet();
    const auto got = m_rx.Packets();
    std::vector<std::int64_t> data;
    std::copy_if(got.begin(), got.end(), std::back_inserter(data), [](auto p) { return p >= 0; });
    EXPECT_EQ(data, tstest::Numbers(0, 2'000)) << "each packet once: the tail was neither cut nor played again";
}

TEST_F(CPlayControllerTest, NetworkStatusShowsASendErrorAboveEveryOtherText)
{
    // A play under way: a lost route names its destination.
    const std::string path = MakeFile("data.ts", 20'000);
    m_play.Analyse(path);
    CPlayController::PlaySettings settings = To(8'000'000);
    settings.loop = true;
    ASSERT_EQ(m_play.Start(path, settings), StartResult::Started);
    FakeSendHealth health;
    m_play.SetSendHealth(&health);
    using Status = CPlayController::NetworkStatus;
    struct Case
    {
        std::uint32_t flags;
        std::uint64_t notSent;
        int error;
        Status status;
        std::string text;
        std::string detail;
    };
    const std::uint32_t all =
        CNetworkSender::kStatusBusy | CNetworkSender::kStatusUnderflow | CNetworkSender::kStatusTimer;
    const Case cases[] = {
        {0, 0, 0, Status::NoErrors, "No errors detected", ""},
        {all, 0, 0, Status::Underflow, "Network FIFO Underflow", ""},
        {CNetworkSender::kStatusBusy | CNetworkSender::kStatusTimer, 0, 0, Status::Busy, "Network busy", ""},
        {CNetworkSender::kStatusTimer, 0, 0, Status::Timer, "Network timer", ""},
        {all, 245, EPERM, Status::SendError, "Network send error",
         std::string(std::strerror(EPERM)) + ", 245 datagrams not sent"},
        {0, 1, EINVAL, Status::SendError, "Network send error",
         std::string(std::strerror(EINVAL)) + ", 1 datagram not sent"},
        {0, 3, ENETUNREACH, Status::SendError, "Network send error", "no route to 127.0.0.1, 3 datagrams not sent"},
        {0, 3, EHOSTUNREACH, Status::SendError, "Network send error", "no route to 127.0.0.1, 3 datagrams not sent"},
    };
    for (const Case& c : cases)
    {
        health.flags = c.flags;
        health.notSent = c.notSent;
        health.error = c.error;
        const CPlayController::PlayProgress p = m_play.Progress();
        const auto colour =
            c.status == Status::NoErrors ? CPlayController::StatusColour::Green : CPlayController::StatusColour::Red;
        EXPECT_EQ(std::tie(p.network, p.statusText, p.statusDetail, p.datagramsNotSent, p.statusColour),
                  std::tie(c.status, c.text, c.detail, c.notSent, colour));
    }
    m_play.Stop();
    m_play.SetSendHealth(nullptr);
}

TEST_F(CPlayControllerTest, DeliberateLossIsShownButIsNoSendError)
{
    const std::string path = MakeFile("impaired.ts", 7 * 400);
    m_play.Analyse(path);
    CPlayController::PlaySettings settings = To(20'000'000);
    settings.rtp = true;
    settings.fec = CFecEncoder::Settings{4, 4, CFecEncoder::Mode::Column, 0};
    settings.impairment.burstLength = 1;
    settings.impairment.burstPeriod = 10;
    ASSERT_EQ(m_play.Start(path, settings), StartResult::Started);
    const auto last = PlayOut().back();
    EXPECT_EQ(std::tie(last.network, last.statusText, last.datagramsNotSent),
              std::make_tuple(CPlayController::NetworkStatus::NoErrors, std::string(CPlayController::kStatusNoErrors),
                              std::uint64_t{0}));
    // Media and column FEC (the 4 x 4 matrices) through one impairment: every tenth lost.
    EXPECT_GE(last.fec.media, 400u);
    EXPECT_EQ(last.fec.column, last.fec.media / 16 * 4);
    EXPECT_EQ(last.impairment.in, last.fec.media + last.fec.column);
    EXPECT_EQ(last.impairment.burstLost, (last.impairment.in + 9) / 10);
    EXPECT_EQ(last.statusDetail, CPlayController::ImpairmentText(last.impairment));
    EXPECT_EQ(last.statusDetail.rfind("Impairment: " + std::to_string(last.impairment.burstLost) +
                                          " datagrams lost on purpose (0 at random, ",
                                      0),
              0u)
        << last.statusDetail;
    EXPECT_TRUE(m_play.Stop());
    m_rx.WaitQuiet();
    EXPECT_LT(m_rx.Count(), last.fec.media); // the media port's share of the loss
    EXPECT_GE(m_rx.Count() + last.impairment.burstLost, last.fec.media);
}
