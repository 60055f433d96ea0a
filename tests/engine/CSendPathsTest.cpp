// The sender's output stage on loopback: FEC on port + 2 / + 4 that the
// receiver's decoder uses, identical RTP on two outputs, jitter that delays
// but never drops, and impairment counters that add up with what arrived.

#include "engine/CSendPaths.h"

#include "engine/CFecDecoder.h"
#include "engine/CNetworkSender.h"
#include "engine/SenderFeed.h"
#include "support/LoopbackPeer.h"
#include "support/LoopbackReceiver.h"
#include "support/RtpPackets.h"
#include "support/WaitFor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <memory>
#include <set>
#include <stdexcept>
#include <tuple>

namespace
{
using tstest::LoopbackReceiver;
constexpr std::uint32_t kLoopback = 0x7F000001;
constexpr std::uint32_t kPayload = tstest::kPacketsPerDatagram * tstest::kPacket;
constexpr std::uint32_t kSsrc = 0x0BADCAFE;

// Receivers on a media port and its FEC ports + 2 and + 4.
struct PathRx
{
    std::unique_ptr<LoopbackReceiver> media, column, row;

    std::uint16_t Port() const { return media->Port(); }
    void WaitQuiet() const
    {
        for (auto* rx : {media.get(), column.get(), row.get()})
            rx->WaitQuiet();
    }
    std::size_t Count() const { return media->Count() + column->Count() + row->Count(); }
};

PathRx BindPath()
{
    for (int attempt = 0; attempt < 50; ++attempt)
    {
        const std::uint16_t port = tstest::FreePort();
        if (port > 65'000)
            continue;
        try
        {
            PathRx rx;
            rx.media = std::make_unique<LoopbackReceiver>(port);
            rx.column = std::make_unique<LoopbackReceiver>(static_cast<std::uint16_t>(port + 2));
            rx.row = std::make_unique<LoopbackReceiver>(static_cast<std::uint16_t>(port + 4));
            return rx;
        }
        catch (const std::runtime_error&)
        {
        }
    }
    throw std::runtime_error("no three free ports");
}

// The stage with the sender's socket as path 0, RTP identity fixed.
struct Stage
{
    CUdpIOCPSocket primary;
    CSendPaths paths;
    std::uint64_t sent = 0;

    void Open(const CSendPaths::Settings& s, const PathRx& rx, std::uint16_t firstSequence,
              CSteadyClock::NowFn now = CSteadyClock::Default())
    {
        primary.SetRtpIdentity(kSsrc, firstSequence);
        ASSERT_TRUE(primary.Create(rx.Port(), "127.0.0.1"));
        ASSERT_TRUE(paths.Open(s, primary, kLoopback, rx.Port(), 10'000'000, std::move(now))) << paths.GetError();
    }
    // Media datagrams carrying numbered packets, as the sender takes them.
    void Send(std::uint64_t count)
    {
        for (std::uint64_t k = 0; k < count; ++k, ++sent)
        {
            const auto payload = tstest::MakePackets(tstest::kPacketsPerDatagram, sent * tstest::kPacketsPerDatagram);
            ASSERT_TRUE(paths.Send(payload.data(), kPayload, true, static_cast<std::uint32_t>(sent * 100)));
        }
    }
};

// Datagram number (from its first TS packet) of a media datagram.
std::uint64_t Number(const std::vector<std::uint8_t>& d)
{
    return static_cast<std::uint64_t>(tstest::Classify(d.data() + tstest::kRtpHeader)) / tstest::kPacketsPerDatagram;
}

CSendPaths::Settings Fec(std::uint32_t l, std::uint32_t d, CFecEncoder::Mode mode)
{
    CSendPaths::Settings s;
    s.fec = CFecEncoder::Settings{l, d, mode, 0};
    return s;
}
} // namespace

TEST(CSendPaths, TwoOutputsCarryTheSameRtpEachImpairedOnItsOwnAndCounted)
{
    for (const bool impaired : {false, true})
    {
        const PathRx a = BindPath();
        const PathRx b = BindPath();
        Stage stage;
        CSendPaths::Settings s = Fec(4, 4, CFecEncoder::Mode::Column);
        s.extra = {{kLoopback, b.Port()}};
        std::string error;
        ASSERT_TRUE(CImpairment::Parse(impaired ? "loss=5,burst=2/50,reorder=5/4,dup=5" : "none", s.impairment, error));
        stage.Open(s, a, 1'000);
        stage.Send(400);
        stage.paths.Poll(true);
        EXPECT_TRUE(stage.paths.Idle());
        const CSendPaths::Counters c = stage.paths.GetCounters();
        EXPECT_EQ(c.fec.column, 100u);
        const std::uint64_t out = impaired ? c.impairment.out : 2u * (400u + 100u);
        ASSERT_TRUE(tstest::WaitFor([&] { return a.Count() + b.Count() == out; }));
        a.WaitQuiet();
        b.WaitQuiet();
        EXPECT_EQ(std::make_pair(a.Count() + b.Count(), a.row->Count() + b.row->Count()), std::make_pair(out, 0ul));
        const auto mediaA = a.media->Datagrams();
        const auto mediaB = b.media->Datagrams();
        if (!impaired)
        {
            EXPECT_EQ(mediaA, mediaB);
            EXPECT_EQ(a.column->Datagrams(), b.column->Datagrams());
            continue;
        }
        // What went in is what went out, lost or duplicated, on both paths together.
        const CImpairment::Counters& i = c.impairment;
        EXPECT_EQ(std::make_tuple(i.in, i.out + i.lost + i.burstLost - i.duplicated, i.burstLost),
                  std::make_tuple(2u * (400u + 100u), 2u * (400u + 100u), 2u * (500u / 50u * 2u)));
        EXPECT_GT(i.lost * i.reordered * i.duplicated, 0u);
        // Own seeds: different losses, the same bytes for the same sequence number.
        std::map<std::uint16_t, std::vector<std::uint8_t>> bySequence;
        for (const auto& d : mediaA)
            bySequence[tstest::RtpSequence(d.data())] = d;
        std::set<std::uint16_t> both;
        for (const auto& d : mediaB)
            if (const auto it = bySequence.find(tstest::RtpSequence(d.data())); it != bySequence.end())
            {
                EXPECT_EQ(it->second, d);
                both.insert(it->first);
            }
        EXPECT_LT(both.size(), bySequence.size());
    }
}

TEST(CSendPaths, JitterDelaysButNeverDrops)
{
    const PathRx rx = BindPath();
    std::atomic<std::int64_t> now{1'000'000'000};
    Stage stage;
    CSendPaths::Settings s;
    s.impairment.jitterMs = 10;
    stage.Open(s, rx, 7, [&now] { return now.load(); });
    stage.Send(100);
    stage.paths.Poll(false);
    rx.WaitQuiet();
    const std::uint64_t delayed = stage.paths.GetCounters().impairment.delayed;
    ASSERT_GT(delayed, 80u);
    EXPECT_EQ(rx.media->Count(), 100u - delayed);
    EXPECT_FALSE(stage.paths.Idle());

    now += 5'000'000; // about half of them fall due
    stage.paths.Poll(false);
    rx.media->WaitQuiet();
    EXPECT_GT(rx.media->Count(), 100u - delayed);
    EXPECT_LT(rx.media->Count(), 100u);

    now += 5'000'001; // all of them
    stage.paths.Poll(false);
    EXPECT_TRUE(stage.paths.Idle());
    ASSERT_TRUE(tstest::WaitFor([&] { return rx.media->Count() == 100u; }));

    // A stop sends what is still held, at once.
    stage.Send(50);
    EXPECT_FALSE(stage.paths.Idle());
    stage.paths.Close();
    ASSERT_TRUE(tstest::WaitFor([&] { return rx.media->Count() == 150u; }));
    std::set<std::uint64_t> numbers;
    for (const auto& d : rx.media->Datagrams())
        numbers.insert(Number(d));
    EXPECT_EQ(numbers.size(), 150u);
    EXPECT_EQ(stage.paths.GetCounters().delayCut, 0u);
}

TEST(CSendPaths, SenderPacesTheStageByThreadAndDrainsIt)
{
    const PathRx a = BindPath();
    const PathRx b = BindPath();
    CNetworkSender sender;
    CSendPaths::Settings s = Fec(5, 5, CFecEncoder::Mode::Column);
    s.extra = {{kLoopback, b.Port()}};
    s.impairment.jitterMs = 2;
    sender.SetOutputStage(s);
    sender.SetPacing(CNetworkSender::PacingMode::TxTime);
    ASSERT_TRUE(sender.SetRate(8'000'000, 188));
    sender.SetDestination(kLoopback, a.Port(), true);
    ASSERT_TRUE(sender.Open()) << sender.GetOpenError();
    EXPECT_EQ(sender.GetPacingInUse(), CNetworkSender::PacingMode::Thread);
    EXPECT_NE(sender.GetPacingNote().find("no txtime pacing"), std::string::npos) << sender.GetPacingNote();
    senderfeed::Feed(sender, 7 * 100);
    ASSERT_TRUE(tstest::WaitFor([&] { return sender.IsDrained(); }));
    // Drained means the delay queues too: everything is on its way.
    ASSERT_TRUE(tstest::WaitFor([&] { return a.Count() == 120u && b.Count() == 120u; }));
    EXPECT_EQ(std::make_tuple(a.column->Count(), b.column->Count(), sender.GetOutputCounters().fec.media,
                              sender.GetDatagramsNotSent()),
              std::make_tuple(20u, 20u, 100u, 0u));
    sender.Stop();

    // Bad FEC settings: the play does not start, and says why.
    s.fec->rows = 2;
    sender.SetOutputStage(s);
    EXPECT_FALSE(sender.Open());
    EXPECT_NE(sender.GetOpenError().find("D must be 4-20"), std::string::npos) << sender.GetOpenError();
    sender.Stop();
}
