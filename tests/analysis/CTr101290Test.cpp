// The TR 101 290 indicators on streams made byte by byte with known impairments:
// each counts exactly the events injected, and nothing on clean streams (hand-made,
// generated, and played with every adaptation across loops: CStreamAdapterTest).
#include "AnalysisTestSupport.h"
#include "support/TimedStream.h"

#include <gtest/gtest.h>

#include <map>

namespace
{
using Ind = CTr101290Counters::Indicator;
using tstest::SlotFault;
using S = tstest::TimedStream;

CTr101290Counters Analyse(const std::vector<std::uint8_t>& stream, std::size_t chunk = 65'536, double pidTimeout = 5)
{
    CDecodeStream decoder;
    decoder.ResetListData(1, 1);
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

// @p fault (its kind) on the packets of @p pid from slot @p from to @p to.
SlotFault At(std::uint16_t pid, std::uint64_t from, std::uint64_t to, SlotFault fault)
{
    fault.pid = pid;
    fault.from = from;
    fault.to = to;
    return fault;
}

bool Active(const CTr101290Counters& c, Ind i)
{
    return c.active[static_cast<std::size_t>(i)];
}
} // namespace

TEST(CTr101290Test, EachImpairmentCountsExactlyItsEvents)
{
    struct Case
    {
        const char* name;
        std::uint64_t slots; // = ms
        std::vector<SlotFault> faults;
        std::map<Ind, std::uint64_t> expected;
        double pidTimeout = 5;
    };
    // Slot 1007 is a plain video packet, 1004 and 1005 null packets.
    const std::pair<const Ind, std::uint64_t> lost{Ind::TsSyncLoss, 1}, pat{Ind::PatError, 1}, gone{Ind::PidError, 1},
        jump{Ind::PcrDiscontinuityIndicatorError, 1};
    const std::vector<Case> cases = {
        {"clean", 3000, {}, {}},
        {"dropped packet", 2000, {At(S::kVideoPid, 1007, 1007, {.drop = true})}, {{Ind::CcError, 1}}},
        {"corrupted sync byte", 2000, {At(S::kNullPid, 1004, 1004, {.xorMask = 0xFF})}, {{Ind::SyncByteError, 1}}},
        {"2 bad sync bytes", 2000, {At(S::kNullPid, 1004, 1005, {.xorMask = 0xFF})}, {{Ind::SyncByteError, 1}, lost}},
        {"PAT missing for 600 ms", 2000, {At(S::kPatPid, 1000, 1400, {.silence = true})}, {pat}},
        {"PAT table_id wrong", 2000, {At(S::kPatPid, 1000, 1000, {.tableId = 0x42})}, {pat}},
        {"PAT scrambled", 2000, {At(S::kPatPid, 1000, 1000, {.xorAt = 3, .xorMask = 0x80})}, {pat, {Ind::CatError, 1}}},
        {"PMT missing for 600 ms", 2000, {At(S::kPmtPid, 1000, 1401, {.silence = true})}, {{Ind::PmtError, 1}}},
        {"PMT CRC flipped", 2000, {At(S::kPmtPid, 1001, 1001, {.flipCrc = true})}, {{Ind::CrcError, 1}}},
        {"PCR gap of 50 ms", 2000, {At(S::kVideoPid, 1002, 1002, {.noPcr = true})}, {{Ind::PcrRepetitionError, 1}}},
        {"PCR jump, no flag", 2000, {At(S::kVideoPid, 1000, 2000, {.pcrOffset = 27'000'000})}, {jump}},
        {"one PCR 1 us off", 2000, {At(S::kVideoPid, 1027, 1027, {.pcrOffset = 27})}, {{Ind::PcrAccuracyError, 1}}},
        {"PCR base 1 us on", 2000, {At(S::kVideoPid, 1027, 2000, {.pcrOffset = 27})}, {{Ind::PcrAccuracyError, 1}}},
        {"TEI set", 2000, {At(S::kVideoPid, 1007, 1007, {.xorAt = 1, .xorMask = 0x80})}, {{Ind::TransportError, 1}}},
        {"PTS gap of 800 ms", 2000, {At(S::kVideoPid, 1000, 1602, {.noPts = true})}, {{Ind::PtsError, 1}}},
        {"referenced PID stops", 7000, {At(S::kAudioPid, 1000, 7000, {.silence = true})}, {gone}},
        // Back after 2.5 s: its PTS are 2.5 s apart too.
        {"PID away 2.5 s of 2", 4000, {At(S::kAudioPid, 1000, 3499, {.silence = true})}, {gone, {Ind::PtsError, 1}}, 2},
    };
    for (const Case& c : cases)
    {
        const std::vector<std::uint8_t> stream = S::Make(c.slots, c.faults);
        const CTr101290Counters counters = Analyse(stream, 65'536, c.pidTimeout);
        ExpectCounts(counters, c.expected, c.name);
        // Judged on stream time: the same however the bytes arrive.
        EXPECT_EQ(Analyse(stream, 1'000, c.pidTimeout).count, counters.count) << c.name;
    }
}

TEST(CTr101290Test, ActiveMeansAnEventInTheLastSecondAndCountsRestartWithThePidList)
{
    // A damaged packet at 1 s; audio gone from 1 s on (the open gap keeps PID_error active).
    const std::vector<std::uint8_t> stream = S::Make(3000, {At(S::kVideoPid, 1007, 1007, {.xorAt = 1, .xorMask = 0x80}),
                                                            At(S::kAudioPid, 1000, 3000, {.silence = true})});
    CDecodeStream decoder;
    decoder.ResetListData(1, 1);
    decoder.SetPidTimeout(1.0);
    auto feedTo = [&, fed = std::size_t{0}](std::size_t slot) mutable {
        FeedFixed(decoder, std::vector<std::uint8_t>(stream.begin() + fed * 188, stream.begin() + slot * 188), 10'000);
        fed = slot;
        return decoder.TakeSnapshot().tr101290;
    };
    EXPECT_TRUE(Active(feedTo(1900), Ind::TransportError));
    EXPECT_FALSE(Active(feedTo(2100), Ind::TransportError));
    const CTr101290Counters c = feedTo(3000);
    EXPECT_TRUE(Active(c, Ind::PidError));
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

    CTsGeneratorStats stats;
    const std::vector<std::uint8_t> stream = GenerateStream(ImpairedStream(40, 150, 2000, 10, 3.0), &stats);
    ASSERT_GT(stats.garbageBursts, 0u);
    ExpectCounts(Analyse(stream),
                 {{Ind::CcError, stats.continuityErrors},
                  {Ind::SyncByteError, stats.garbageBursts},
                  {Ind::TsSyncLoss, stats.garbageBursts}},
                 "faulty");
}

TEST(CTr101290Test, CrcErrorsCountOnCatNitAndLongEitSectionsToo)
{
    std::vector<std::uint8_t> stream = S::Make(300);
    // A section of @p bytes with a wrong CRC_32, in packets of @p pid; then a good one.
    const auto add = [&stream](std::uint16_t pid, std::uint8_t table, std::size_t bytes) {
        std::uint8_t cc = 0;
        for (const bool bad : {true, false})
        {
            std::vector<std::uint8_t> section(bytes, 0);
            section[0] = table;
            section[1] = static_cast<std::uint8_t>(0xB0 | (bytes - 3) >> 8);
            section[2] = static_cast<std::uint8_t>(bytes - 3);
            section[5] = 0xC1;
            psi_set_crc(section.data());
            section[bytes - 1] ^= bad ? 1 : 0;
            section.insert(section.begin(), 0); // pointer field
            for (std::size_t at = 0; at < section.size(); at += 184)
                tstest::AddPacket(stream, pid, cc++,
                                  {section.begin() + static_cast<long>(at),
                                   section.begin() + static_cast<long>(std::min(at + 184, section.size()))},
                                  at == 0);
        }
    };
    add(0x0001, 0x01, 40);   // CAT
    add(0x0010, 0x40, 300);  // NIT
    add(0x0012, 0x50, 3000); // EIT schedule, longer than the other tables may be
    ExpectCounts(Analyse(stream), {{Ind::CrcError, 3}}, "CAT, NIT, EIT");
}
