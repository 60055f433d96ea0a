// CDecodeStream: packet sync, the chunk contract, sync loss, continuity, bounds.
#include "AnalysisTestSupport.h"
#include "analysis/CAnalysisSnapshot.h"

#include <bitstream/mpeg/psi.h>
#include <bitstream/mpeg/ts.h>
#include <gtest/gtest.h>

#include <random>

namespace
{
CTsGeneratorConfig SmallStream(int packetSize = 188)
{
    CTsGeneratorConfig config;
    config.programs = 3;
    config.bitRate = 2'000'000;
    config.durationSeconds = 1.5;
    config.packetSize = packetSize;
    return config;
}

void ExpectSameAnalysis(const CAnalysisSnapshot& a, const CAnalysisSnapshot& b)
{
    EXPECT_EQ(a.packetSize, b.packetSize);
    EXPECT_EQ(a.firstPacketOffset, b.firstPacketOffset);
    EXPECT_EQ(a.syncLoss, b.syncLoss);
    EXPECT_EQ(a.bitRate, b.bitRate);
    EXPECT_EQ(a.totalPackets, b.totalPackets);
    EXPECT_EQ(a.firstTime, b.firstTime);
    EXPECT_EQ(a.programs.size(), b.programs.size());
    EXPECT_EQ(a.services.size(), b.services.size());
    ASSERT_EQ(a.pids.size(), b.pids.size());
    for (std::size_t i = 0; i < a.pids.size(); ++i)
    {
        EXPECT_EQ(a.pids[i].pid, b.pids[i].pid);
        EXPECT_EQ(a.pids[i].stats.packets, b.pids[i].stats.packets) << "PID " << a.pids[i].pid;
        EXPECT_EQ(a.pids[i].stats.continuityErrors, b.pids[i].stats.continuityErrors) << "PID " << a.pids[i].pid;
        EXPECT_EQ(a.pids[i].stats.crcErrors, b.pids[i].stats.crcErrors);
    }
}

double FindRate(const CAnalysisSnapshot& snapshot, std::uint16_t pid)
{
    for (const CPidEntry& entry : snapshot.pids)
        if (entry.pid == pid)
            return entry.bitRate;
    return -1.0;
}

std::uint64_t TotalContinuityErrors(const CAnalysisSnapshot& snapshot)
{
    std::uint64_t total = 0;
    for (const CPidEntry& entry : snapshot.pids)
        total += entry.stats.continuityErrors;
    return total;
}
} // namespace

TEST(CDecodeStreamTest, DetectsPacketSizeAndFirstPacketOffset)
{
    for (int size : {188, 204})
        for (std::size_t garbage : {0u, 1u, 187u, 203u, 1000u, 5000u})
        {
            CTsGeneratorConfig config = SmallStream(size);
            config.leadingGarbage = garbage;
            const auto stream = GenerateStream(config);
            CDecodeStream decoder;
            FeedFixed(decoder, stream, 65536);
            EXPECT_EQ(decoder.m_packetSize.load(), size) << "garbage " << garbage;
            EXPECT_EQ(decoder.m_firstPacketOffset.load(), static_cast<int>(garbage)) << "size " << size;
            EXPECT_EQ(decoder.m_syncLoss.load(), 0);
        }
}

TEST(CDecodeStreamTest, ResultsDoNotDependOnChunking)
{
    CTsGeneratorConfig config = SmallStream();
    config.leadingGarbage = 333;
    config.garbageEvery = 700;
    config.garbageBytes = 41;
    config.dropEvery = 53;
    config.ccErrorEvery = 211;
    const auto stream = GenerateStream(config);

    CDecodeStream reference;
    const auto sentWhole = FeedFixed(reference, stream, stream.size());
    const CAnalysisSnapshot expected = reference.TakeSnapshot();
    ASSERT_EQ(expected.packetSize, 188);
    ASSERT_GT(expected.syncLoss, 0u);

    std::mt19937 random(7);
    const std::vector<std::function<std::size_t()>> chunkings = {
        [] { return std::size_t{1}; },
        [] { return std::size_t{187}; },
        [] { return std::size_t{189}; },
        [] { return std::size_t{1049088}; },
        [&random] { return std::size_t{1} + random() % 3000; },
    };
    for (std::size_t i = 0; i < chunkings.size(); ++i)
    {
        CDecodeStream decoder;
        const auto sent = FeedChunks(decoder, stream, chunkings[i]);
        SCOPED_TRACE("chunking " + std::to_string(i));
        ExpectSameAnalysis(expected, decoder.TakeSnapshot());
        // What comes back is the stream itself, less at most one unfinished packet held over.
        ASSERT_LE(sent.size(), stream.size());
        EXPECT_LT(stream.size() - sent.size(), 188u);
        EXPECT_TRUE(std::equal(sent.begin(), sent.end(), stream.begin()));
    }
}

TEST(CDecodeStreamTest, HeldOverPacketGoesInFrontOfTheNextChunkWholePacketsOut)
{
    const auto stream = GenerateStream(SmallStream());
    CDecodeStream decoder;
    std::vector<unsigned char> buffer(512 + 1000);
    std::size_t pos = 0;
    std::size_t sent = 0;
    while (pos + 1000 <= stream.size())
    {
        std::memcpy(buffer.data() + 512, stream.data() + pos, 1000);
        unsigned char* data = buffer.data() + 512;
        long length = 1000;
        ASSERT_NE(decoder.InsertStreamData(data, length, 512), 0);
        // Locked on a packet-aligned stream: every returned range is whole packets.
        EXPECT_EQ(length % 188, 0);
        EXPECT_EQ(data[0], 0x47);
        EXPECT_EQ(0, std::memcmp(data, stream.data() + sent, static_cast<std::size_t>(length)));
        sent += static_cast<std::size_t>(length);
        decoder.CopyStreamData(buffer.data(), 512, buffer.data());
        pos += 1000;
    }
    EXPECT_EQ(sent, pos - pos % 188);

    // Without headroom nothing can be put in front: everything goes out as it came.
    CDecodeStream noHeadroom;
    EXPECT_EQ(FeedFixed(noHeadroom, stream, 1000, 0), stream);
}

TEST(CDecodeStreamTest, CountsOneSyncLossPerGarbageBurstAndCallersMayResetIt)
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
    CTsGeneratorConfig config = SmallStream();
    config.durationSeconds = 3;
    config.dropEvery = 37;
    config.ccErrorEvery = 101;
    CTsGeneratorStats stats;
    const auto stream = GenerateStream(config, &stats);
    ASSERT_GT(stats.droppedPackets, 10u);
    ASSERT_GT(stats.continuityErrors, 20u);

    CDecodeStream decoder;
    FeedFixed(decoder, stream, 100000);
    const CAnalysisSnapshot snapshot = decoder.TakeSnapshot();
    EXPECT_EQ(TotalContinuityErrors(snapshot), stats.continuityErrors);
    for (const CPidEntry& entry : snapshot.pids)
    {
        if (entry.pid < 0x100 || entry.pid % 4 == 0)
        {
            EXPECT_EQ(entry.stats.continuityErrors, 0u) << "tables are never damaged, PID " << entry.pid;
        }
    }
}

TEST(CDecodeStreamTest, DuplicatePacketsAndDiscontinuityIndicatorAreNoErrors)
{
    std::vector<std::uint8_t> stream;
    auto add = [&stream](std::uint8_t cc, bool payload, bool discontinuity) {
        std::uint8_t p[188];
        std::memset(p, 0xFF, sizeof p);
        ts_init(p);
        ts_set_pid(p, 0x200);
        ts_set_cc(p, cc);
        if (payload)
            ts_set_payload(p);
        ts_set_adaptation(p, payload ? 1 : 183);
        if (discontinuity)
            tsaf_set_discontinuity(p);
        stream.insert(stream.end(), p, p + 188);
    };
    for (std::uint8_t cc = 0; cc < 8; ++cc)
        add(cc, true, false);
    add(7, true, false);  // one duplicate: allowed
    add(7, false, false); // no payload: counter stays
    add(12, true, true);  // discontinuity announced
    add(13, true, false);
    add(13, true, false); // duplicate
    add(13, true, false); // second duplicate: an error
    add(15, true, false); // skipped 14: an error
    CDecodeStream decoder;
    FeedFixed(decoder, stream, 188);
    const CAnalysisSnapshot snapshot = decoder.TakeSnapshot();
    ASSERT_EQ(snapshot.pids.size(), 1u);
    EXPECT_EQ(snapshot.pids[0].stats.continuityErrors, 2u);
    EXPECT_EQ(snapshot.pids[0].stats.packets, 15u);
}

TEST(CDecodeStreamTest, LocatesTheLastWholePacket)
{
    const auto stream = GenerateStream(SmallStream());
    const std::size_t whole = 188 * 400;
    std::vector<unsigned char> data(stream.begin() + 100, stream.begin() + static_cast<long>(whole));
    CDecodeStream decoder;
    // The data starts inside a packet and ends at a packet end.
    EXPECT_EQ(decoder.LocateLastPacketInData(data.data(), static_cast<long>(data.size()), 188), 0);
    data.insert(data.end(), stream.begin() + static_cast<long>(whole), stream.begin() + static_cast<long>(whole) + 77);
    EXPECT_EQ(decoder.LocateLastPacketInData(data.data(), static_cast<long>(data.size()), 188), 77);
    data.insert(data.end(), 30, 0x00); // garbage after the partial packet
    EXPECT_EQ(decoder.LocateLastPacketInData(data.data(), static_cast<long>(data.size()), 188), 107);
    std::vector<unsigned char> none(5000, 0x11);
    EXPECT_EQ(decoder.LocateLastPacketInData(none.data(), 5000, 188), 5000);
    EXPECT_EQ(decoder.LocateLastPacketInData(none.data(), 100, 188), 100);
    EXPECT_EQ(decoder.LocateLastPacketInData(none.data(), 100, 0), 100);
    EXPECT_EQ(decoder.LocateLastPacketInData(nullptr, 0, 188), 0);
}

TEST(CDecodeStreamTest, ResetListDataForgetsTheStreamResetStreamDataOnlyTheJoin)
{
    const auto stream = GenerateStream(SmallStream());
    CDecodeStream decoder;
    const std::size_t cut = stream.size() / 2 + 1001; // not on a packet boundary
    FeedFixed(decoder, std::vector<std::uint8_t>(stream.begin(), stream.begin() + static_cast<long>(cut)), 8192);
    // A jump: the stream continues elsewhere, which is neither a sync loss nor a continuity error.
    decoder.ResetStreamData();
    FeedFixed(decoder, std::vector<std::uint8_t>(stream.begin() + 5000, stream.end()), 8192);
    CAnalysisSnapshot snapshot = decoder.TakeSnapshot();
    EXPECT_EQ(snapshot.syncLoss, 0u);
    EXPECT_EQ(TotalContinuityErrors(snapshot), 0u);
    EXPECT_NEAR(decoder.State().m_bitRate.load(), 2'000'000.0, 200.0);
    EXPECT_EQ(snapshot.programs.size(), 3u);

    decoder.ResetListData(1, 1);
    snapshot = decoder.TakeSnapshot();
    EXPECT_EQ(decoder.m_packetSize.load(), 0);
    EXPECT_EQ(decoder.State().m_bitRate.load(), 0.0);
    EXPECT_EQ(decoder.State().m_pcrSeen.load(), 0);
    EXPECT_EQ(decoder.State().m_fileTotTdtTime.load(), 0);
    EXPECT_TRUE(snapshot.pids.empty());
    EXPECT_TRUE(snapshot.programs.empty());

    // The program list alone (play start): PIDs and the file's own TOT/TDT time stay.
    FeedFixed(decoder, stream, 8192);
    decoder.ResetListData(0, 1);
    snapshot = decoder.TakeSnapshot();
    EXPECT_FALSE(snapshot.pids.empty());
    EXPECT_TRUE(snapshot.programs.empty());
    EXPECT_EQ(decoder.State().m_fileTotTdtTime.load(), 1704110400);
    FeedFixed(decoder, std::vector<std::uint8_t>(stream.begin() + 200'000, stream.end()), 8192);
    EXPECT_EQ(decoder.State().m_fileTotTdtTime.load(), 1704110400) << "not replaced by a later time";
}

TEST(CDecodeStreamTest, HostileStreamsKeepMemoryBounded)
{
    // Every PID in use and a PAT announcing 5,040 programs over many sections.
    std::vector<std::uint8_t> stream;
    std::vector<std::uint8_t> cc(8192, 0);
    auto packet = [&](std::uint16_t pid, const std::uint8_t* payload, std::size_t length, bool start) {
        std::uint8_t p[188];
        std::memset(p, 0xFF, sizeof p);
        ts_init(p);
        ts_set_pid(p, pid);
        ts_set_payload(p);
        ts_set_cc(p, cc[pid]++ & 0x0F);
        std::size_t pos = 4;
        if (start)
        {
            ts_set_unitstart(p);
            p[pos++] = 0;
        }
        std::memcpy(p + pos, payload, std::min(length, 188 - pos));
        stream.insert(stream.end(), p, p + 188);
    };
    for (int section = 0; section < 120; ++section)
    {
        // 42 programs per section: one section per packet.
        std::uint8_t s[8 + 42 * 4 + 4];
        psi_init(s, true);
        psi_set_tableid(s, 0);
        psi_set_length(s, sizeof s - 3);
        psi_set_tableidext(s, 1);
        psi_set_version(s, 0);
        psi_set_current(s);
        psi_set_section(s, static_cast<std::uint8_t>(section));
        psi_set_lastsection(s, 119);
        for (int i = 0; i < 42; ++i)
        {
            const int number = section * 200 + i + 1;
            s[8 + i * 4] = static_cast<std::uint8_t>(number >> 8);
            s[9 + i * 4] = static_cast<std::uint8_t>(number);
            s[10 + i * 4] = static_cast<std::uint8_t>(0xE0 | ((0x20 + number) >> 8 & 0x1F));
            s[11 + i * 4] = static_cast<std::uint8_t>(0x20 + number);
        }
        psi_set_crc(s);
        packet(0, s, sizeof s, true);
    }
    for (int round = 0; round < 3; ++round)
        for (std::uint16_t pid = 0x20; pid < 0x1FFF; ++pid)
        {
            const std::uint8_t junk[4] = {0x00, 0x02, 0xB0, 0x0D}; // looks like the start of a PMT
            packet(pid, junk, sizeof junk, true);
        }
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
    EXPECT_EQ(programs.m_roots.size(), snapshot.programs.size() + (snapshot.programsDropped > 0 ? 1u : 0u));
}

TEST(CDecodeStreamTest, PidRatesFollowTheLastSecondsNotTheWholeHistory)
{
    CTsGeneratorConfig config = SmallStream();
    config.programs = 2;
    config.bitRate = 20'000'000; // periods of one second
    config.durationSeconds = 3;
    const auto stream = GenerateStream(config);
    // The same stream with the second program's video replaced by null packets.
    auto stopped = stream;
    for (std::size_t pos = 0; pos + 188 <= stopped.size(); pos += 188)
        if (ts_get_pid(&stopped[pos]) == CTsGenerator::VideoPid(1))
            ts_set_pid(&stopped[pos], 0x1FFF);

    CDecodeStream decoder;
    FeedFixed(decoder, stream, 65536);
    const double before = FindRate(decoder.TakeSnapshot(), CTsGenerator::VideoPid(1));
    EXPECT_GT(before, 5'000'000.0);
    decoder.ResetStreamData(); // the play engine loops back to the start
    FeedFixed(decoder, stopped, 65536);
    const CAnalysisSnapshot snapshot = decoder.TakeSnapshot();
    EXPECT_EQ(FindRate(snapshot, CTsGenerator::VideoPid(1)), 0.0);
    EXPECT_NEAR(FindRate(snapshot, CTsGenerator::VideoPid(0)), before, before * 0.02);
    EXPECT_NEAR(FindRate(snapshot, 0x1FFF), before, before * 0.02);
}
