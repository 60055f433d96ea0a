// The TR 101 290 indicators on streams made byte by byte with known impairments:
// each counts exactly the events injected, and nothing on clean streams (hand-made,
// generated, and played with every adaptation across loops).
#include "AnalysisTestSupport.h"
#include "support/TimedStream.h"

#include <gtest/gtest.h>

#include <map>

namespace
{
using Ind = CTr101290Counters::Indicator;
using tstest::SlotPlan;
using tstest::TimedStream;

CTr101290Counters Analyse(const std::vector<std::uint8_t>& stream, std::size_t chunk = 65'536, double pidTimeout = 0.0)
{
    CDecodeStream decoder;
    decoder.ResetListData(1, 1);
    if (pidTimeout > 0.0)
        decoder.SetPidTimeout(pidTimeout);
    FeedFixed(decoder, stream, chunk);
    return decoder.TakeSnapshot().tr101290;
}

// Every count, zero where none is expected.
void ExpectCounts(const CTr101290Counters& c, const std::map<Ind, std::uint64_t>& expected, const std::string& what)
{
    for (const CTr101290Counters::Info& info : CTr101290Counters::kInfo)
    {
        const auto it = expected.find(info.indicator);
        EXPECT_EQ(c[info.indicator], it == expected.end() ? 0u : it->second) << what << ": " << info.name;
    }
}

struct Case
{
    const char* name;
    std::uint64_t slots;
    std::function<void(SlotPlan&)> fault;
    std::map<Ind, std::uint64_t> expected;
    double pidTimeout = 0.0;
};

bool At(const SlotPlan& p, std::uint64_t slot)
{
    return p.slot == slot;
}
} // namespace

TEST(CTr101290Test, EachImpairmentCountsExactlyItsEvents)
{
    // Slot n is millisecond n; 1007 is a plain video packet, 1004 and 1005 null packets.
    const std::vector<Case> cases = {
        {"clean", 3000, {}, {}},
        {"dropped packet", 2000, [](SlotPlan& p) { p.drop = At(p, 1007); }, {{Ind::CcError, 1}}},
        {"corrupted sync byte",
         2000,
         [](SlotPlan& p) {
             if (At(p, 1004))
                 p.xorMask = 0xFF;
         },
         {{Ind::SyncByteError, 1}}},
        {"two corrupted sync bytes",
         2000,
         [](SlotPlan& p) {
             if (At(p, 1004) || At(p, 1005))
                 p.xorMask = 0xFF;
         },
         {{Ind::SyncByteError, 1}, {Ind::TsSyncLoss, 1}}},
        {"PAT missing for 600 ms",
         2000,
         [](SlotPlan& p) {
             if (p.pid == 0 && p.slot >= 1000 && p.slot <= 1400)
                 p.pid = 0x1FFF;
         },
         {{Ind::PatError, 1}}},
        {"PAT table_id wrong",
         2000,
         [](SlotPlan& p) {
             if (At(p, 1000))
                 p.tableId = 0x42;
         },
         {{Ind::PatError, 1}}},
        {"PAT scrambled",
         2000,
         [](SlotPlan& p) {
             if (At(p, 1000))
                 p.xorAt = 3, p.xorMask = 0x80;
         },
         {{Ind::PatError, 1}, {Ind::CatError, 1}}},
        {"PMT missing for 600 ms",
         2000,
         [](SlotPlan& p) {
             if (p.pid == TimedStream::kPmtPid && p.slot >= 1000 && p.slot <= 1401)
                 p.pid = 0x1FFF;
         },
         {{Ind::PmtError, 1}}},
        {"PMT CRC flipped", 2000, [](SlotPlan& p) { p.flipCrc = At(p, 1001); }, {{Ind::CrcError, 1}}},
        {"PCR gap of 50 ms",
         2000,
         [](SlotPlan& p) {
             if (At(p, 1002))
                 p.pcr = false;
         },
         {{Ind::PcrRepetitionError, 1}}},
        {"PCR jump without the flag",
         2000,
         [](SlotPlan& p) { p.pcrOffset = p.slot >= 1000 ? 27'000'000 : 0; },
         {{Ind::PcrDiscontinuityIndicatorError, 1}}},
        {"one PCR 1 us off",
         2000,
         [](SlotPlan& p) { p.pcrOffset = At(p, 1027) ? 27 : 0; },
         {{Ind::PcrAccuracyError, 1}}},
        {"PCR time base 1 us on",
         2000,
         [](SlotPlan& p) { p.pcrOffset = p.slot >= 1027 ? 27 : 0; },
         {{Ind::PcrAccuracyError, 1}}},
        {"TEI set",
         2000,
         [](SlotPlan& p) {
             if (At(p, 1007))
                 p.xorAt = 1, p.xorMask = 0x80;
         },
         {{Ind::TransportError, 1}}},
        {"PTS gap of 800 ms",
         2000,
         [](SlotPlan& p) {
             if (p.pid == TimedStream::kVideoPid && p.slot >= 1000 && p.slot <= 1602)
                 p.pesStart = false;
         },
         {{Ind::PtsError, 1}}},
        {"referenced PID stops",
         7000,
         [](SlotPlan& p) {
             if (p.pid == TimedStream::kAudioPid && p.slot >= 1000)
                 p.pid = 0x1FFF;
         },
         {{Ind::PidError, 1}}},
        {"referenced PID away 2.5 s, time-out 2 s",
         4000,
         [](SlotPlan& p) {
             if (p.pid == TimedStream::kAudioPid && p.slot >= 1000 && p.slot < 3500)
                 p.pid = 0x1FFF;
         },
         {{Ind::PidError, 1}, {Ind::PtsError, 1}},
         2.0}, // its PTS too are 2.5 s apart
    };
    for (const Case& c : cases)
    {
        const std::vector<std::uint8_t> stream = TimedStream::Make(c.slots, c.fault);
        ExpectCounts(Analyse(stream, 65'536, c.pidTimeout), c.expected, c.name);
        // Judged on stream time: the same however the bytes arrive.
        EXPECT_EQ(Analyse(stream, 1'000, c.pidTimeout).count, Analyse(stream, 65'536, c.pidTimeout).count) << c.name;
    }
}

TEST(CTr101290Test, ActiveMeansAnEventInTheLastSecondAndCountsRestartWithThePidList)
{
    const std::vector<std::uint8_t> stream = TimedStream::Make(3000, [](SlotPlan& p) {
        if (At(p, 1007))
            p.xorAt = 1, p.xorMask = 0x80;
        if (p.pid == TimedStream::kAudioPid && p.slot >= 1000)
            p.pid = 0x1FFF; // stays away: the open gap keeps PID_error active
    });
    CDecodeStream decoder;
    decoder.ResetListData(1, 1);
    decoder.SetPidTimeout(1.0);
    const auto feed = [&](std::size_t fromSlot, std::size_t toSlot) {
        FeedFixed(decoder, std::vector<std::uint8_t>(stream.begin() + fromSlot * 188, stream.begin() + toSlot * 188),
                  10'000);
        return decoder.TakeSnapshot().tr101290;
    };
    CTr101290Counters c = feed(0, 1900);
    EXPECT_TRUE(c.active[static_cast<std::size_t>(Ind::TransportError)]);
    c = feed(1900, 2100);
    EXPECT_FALSE(c.active[static_cast<std::size_t>(Ind::TransportError)]);
    EXPECT_EQ(c[Ind::TransportError], 1u);
    c = feed(2100, 3000);
    EXPECT_TRUE(c.active[static_cast<std::size_t>(Ind::PidError)]);
    EXPECT_EQ(c[Ind::PidError], 1u);
    EXPECT_EQ(c.Total(1), 1u);
    EXPECT_EQ(c.Total(2), 1u);

    decoder.ResetListData(1, 0);
    EXPECT_EQ(decoder.TakeSnapshot().tr101290.count, CTr101290Counters{}.count);
}

TEST(CTr101290Test, GeneratedStreamsAreCleanAndTheirFaultsCountedOnce)
{
    CTsGeneratorConfig big = SmallStream(188, 10);
    big.bitRate = 40'000'000;
    CTsGeneratorConfig slow = SmallStream(188, 1);
    slow.bitRate = 500'000;
    slow.durationSeconds = 4.0;
    for (const CTsGeneratorConfig& config : {SmallStream(), SmallStream(204, 3), big, slow})
        ExpectCounts(Analyse(GenerateStream(config)), {}, std::to_string(config.bitRate));

    // Lost audio packets, skipped video counts and garbage bursts off the packet grid.
    CTsGeneratorConfig faulty = SmallStream();
    faulty.durationSeconds = 3.0;
    faulty.dropEvery = 40;
    faulty.ccErrorEvery = 150;
    faulty.garbageEvery = 2000;
    faulty.garbageBytes = 10;
    CTsGeneratorStats stats;
    const std::vector<std::uint8_t> stream = GenerateStream(faulty, &stats);
    ASSERT_GT(stats.garbageBursts, 0u);
    ExpectCounts(Analyse(stream),
                 {{Ind::CcError, stats.continuityErrors},
                  {Ind::SyncByteError, stats.garbageBursts},
                  {Ind::TsSyncLoss, stats.garbageBursts}},
                 "faulty");
}
