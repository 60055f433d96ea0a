// CDecodeStream: packet sync, the chunk contract, sync loss, continuity, bounds.
#include "AnalysisTestSupport.h"
#include "analysis/CAnalysisSnapshot.h"

#include <bitstream/mpeg/psi.h>
#include <bitstream/mpeg/ts.h>
#include <gtest/gtest.h>

#include <random>

namespace
{
std::uint64_t TotalContinuityErrors(const CAnalysisSnapshot& snapshot)
{
    std::uint64_t total = 0;
    for (const CPidEntry& entry : snapshot.pids)
        total += entry.stats.continuityErrors;
    return total;
}
} // namespace

TEST(CDecodeStreamTest, ResultsDoNotDependOnChunking)
{
    CTsGeneratorConfig config = ImpairedStream(53, 211, 700, 41);
    config.leadingGarbage = 333;
    CTsGeneratorStats stats;
    const auto stream = GenerateStream(config, &stats);
    CDecodeStream reference;
    FeedFixed(reference, stream, stream.size());
    const CAnalysisSnapshot expected = reference.TakeSnapshot();
    ASSERT_GT(expected.syncLoss, 0u);
    ASSERT_GT(stats.continuityErrors, 10u);
    EXPECT_EQ(TotalContinuityErrors(expected), stats.continuityErrors);
    EXPECT_EQ(reference.m_packetSize.load(), 188);
    EXPECT_EQ(reference.m_firstPacketOffset.load(), 333);

    std::mt19937 random(7);
    for (const std::function<std::size_t()>& chunking :
         std::vector<std::function<std::size_t()>>{[] { return std::size_t{1}; }, [] { return std::size_t{189}; },
                                                   [&random] { return std::size_t{1} + random() % 3000; }})
    {
        CDecodeStream decoder;
        const auto sent = FeedChunks(decoder, stream, chunking);
        const CAnalysisSnapshot got = decoder.TakeSnapshot();
        EXPECT_EQ(got.syncLoss, expected.syncLoss);
        EXPECT_EQ(got.bitRate, expected.bitRate);
        EXPECT_EQ(got.totalPackets, expected.totalPackets);
        EXPECT_EQ(got.programs.size(), expected.programs.size());
        EXPECT_EQ(TotalContinuityErrors(got), TotalContinuityErrors(expected));
        // What comes back is the stream itself, less at most one unfinished packet held over.
        ASSERT_LE(sent.size(), stream.size());
        EXPECT_LT(stream.size() - sent.size(), 188u);
        EXPECT_TRUE(std::equal(sent.begin(), sent.end(), stream.begin()));
    }
}

TEST(CDecodeStreamTest, ResyncsAfterGarbageCountingOneSyncLossPerBurst)
{
    CTsGeneratorConfig config = SmallStream(204);
    config.garbageEvery = 300;
    config.garbageBytes = 17;
    CTsGeneratorStats stats;
    const auto stream = GenerateStream(config, &stats);
    ASSERT_GT(stats.garbageBursts, 3u);

    CDecodeStream decoder;
    const std::size_t half = stream.size() / 2;
    FeedFixed(decoder, std::vector<std::uint8_t>(stream.begin(), stream.begin() + half), 4096);
    const int firstHalf = decoder.m_syncLoss.load();
    EXPECT_GT(firstHalf, 0);
    decoder.m_syncLoss = 0; // the Record tab restarts the count
    FeedFixed(decoder, std::vector<std::uint8_t>(stream.begin() + half, stream.end()), 4096);
    EXPECT_EQ(static_cast<std::uint64_t>(firstHalf + decoder.m_syncLoss.load()), stats.garbageBursts);
    EXPECT_EQ(decoder.m_packetSize.load(), 204);
    EXPECT_EQ(decoder.TakeSnapshot().totalPackets, stats.packets);
}

TEST(CDecodeStreamTest, CountsContinuityErrorsExactly)
{
    // Generated losses are counted exactly in ResultsDoNotDependOnChunking. Hand-made: a duplicate, no payload and an
    // announced discontinuity are no errors.
    std::vector<std::uint8_t> own;
    for (std::uint8_t cc = 0; cc < 8; ++cc)
        AddPacket(own, 0x200, cc);
    AddPacket(own, 0x200, 7); // one duplicate: allowed
    AddPacket(own, 0x200, 7);
    own[own.size() - 188 + 3] = 0x27; // adaptation only: the counter stays
    own[own.size() - 188 + 4] = 183;
    own[own.size() - 188 + 5] = 0x00;
    AddPacket(own, 0x200, 12); // discontinuity announced
    own[own.size() - 188 + 3] |= 0x20;
    own[own.size() - 188 + 4] = 1;
    own[own.size() - 188 + 5] = 0x80;
    for (std::uint8_t cc : {13, 13, 13, 15}) // a second duplicate and a skipped counter: two errors
        AddPacket(own, 0x200, cc);
    CDecodeStream handMade;
    FeedFixed(handMade, own, 188);
    const CAnalysisSnapshot snapshot = handMade.TakeSnapshot();
    ASSERT_EQ(snapshot.pids.size(), 1u);
    EXPECT_EQ(snapshot.pids[0].stats.continuityErrors, 2u);
    EXPECT_EQ(snapshot.pids[0].stats.packets, 15u);
}

TEST(CDecodeStreamTest, AJumpIsNoErrorAndResetListDataForgetsTheStream)
{
    const auto stream = GenerateStream(SmallStream());
    CDecodeStream decoder;
    const std::size_t cut = stream.size() / 2 + 1001; // not on a packet boundary
    FeedFixed(decoder, std::vector<std::uint8_t>(stream.begin(), stream.begin() + static_cast<long>(cut)), 8192);
    decoder.ResetStreamData(); // the stream continues elsewhere
    FeedFixed(decoder, std::vector<std::uint8_t>(stream.begin() + 5000, stream.end()), 8192);
    CAnalysisSnapshot snapshot = decoder.TakeSnapshot();
    EXPECT_EQ(snapshot.syncLoss, 0u);
    EXPECT_EQ(TotalContinuityErrors(snapshot), 0u);
    EXPECT_NEAR(decoder.State().m_bitRate.load(), 2'000'000.0, 200.0);

    decoder.ResetListData(1, 1);
    snapshot = decoder.TakeSnapshot();
    EXPECT_EQ(decoder.m_packetSize.load(), 0);
    EXPECT_EQ(decoder.State().m_bitRate.load(), 0.0);
    EXPECT_TRUE(snapshot.pids.empty());
    EXPECT_TRUE(snapshot.programs.empty());
}

TEST(CDecodeStreamTest, HostileStreamsKeepMemoryBounded)
{
    // Every PID in use and a PAT announcing 5,040 programs, one section per packet.
    std::vector<std::uint8_t> stream;
    for (int section = 0; section < 120; ++section)
    {
        std::vector<std::uint8_t> s(1 + 8 + 42 * 4 + 4);
        std::uint8_t* pat = s.data() + 1; // behind the pointer field
        psi_init(pat, true);
        psi_set_tableid(pat, 0);
        psi_set_length(pat, static_cast<std::uint16_t>(s.size() - 4));
        psi_set_tableidext(pat, 1);
        psi_set_current(pat);
        psi_set_section(pat, static_cast<std::uint8_t>(section));
        psi_set_lastsection(pat, 119);
        for (int i = 0; i < 42; ++i)
        {
            const int number = section * 200 + i + 1;
            pat[8 + i * 4] = static_cast<std::uint8_t>(number >> 8);
            pat[9 + i * 4] = static_cast<std::uint8_t>(number);
            pat[10 + i * 4] = static_cast<std::uint8_t>(0xE0 | ((0x20 + number) >> 8 & 0x1F));
            pat[11 + i * 4] = static_cast<std::uint8_t>(0x20 + number);
        }
        psi_set_crc(pat);
        AddPacket(stream, 0, static_cast<std::uint8_t>(section), s, true);
    }
    for (std::uint8_t round = 0; round < 3; ++round)
        for (std::uint16_t pid = 0x20; pid < 0x1FFF; ++pid)
            AddPacket(stream, pid, round, {0x00, 0x00, 0x02, 0xB0, 0x0D}, true); // looks like a PMT start
    CDecodeStream decoder;
    FeedFixed(decoder, stream, 1 << 20);
    const CAnalysisSnapshot snapshot = decoder.TakeSnapshot();
    EXPECT_EQ(snapshot.programs.size() + snapshot.programsDropped, 120u * 42u);
    EXPECT_GT(snapshot.programsDropped, 0u);
    EXPECT_LE(snapshot.programs.size(), 4096u);
    EXPECT_EQ(snapshot.pids.size(), 1u + (0x1FFF - 0x20));
    CRecordingSink pids, programs;
    decoder.SetPidTree(&pids);
    decoder.SetProgTree(&programs);
    decoder.UpdateDisplay(1, 1);
    EXPECT_EQ(pids.m_roots.size(), 1u + snapshot.pids.size());
    EXPECT_EQ(programs.m_roots.size(), snapshot.programs.size() + 1u); // plus the "dropped" row
}
