// PSI/SI: programs, streams, names and times from generated streams; sections
// over several packets, several per packet, bad CRCs.
#include "AnalysisTestSupport.h"
#include "analysis/CSectionAssembler.h"
#include "support/TimedStream.h"

#include <bitstream/mpeg/psi.h>
#include <gtest/gtest.h>

TEST(CPsiTablesTest, ProgramsStreamsNamesAndTimesOfAGeneratedStream)
{
    CTsGeneratorConfig config = SmallStream(188, 7);
    config.bitRate = 4'000'000;
    config.durationSeconds = 2.5;
    config.startTime = 1718454896; // 2024-06-15 12:34:56 UTC
    CDecodeStream decoder;
    FeedFixed(decoder, GenerateStream(config), 65536);
    const CAnalysisSnapshot s = decoder.TakeSnapshot();

    EXPECT_EQ(decoder.State().m_fileTotTdtTime.load(), 1718454896);
    EXPECT_EQ(s.firstTime, 1718454896);
    EXPECT_EQ(s.lastTdt, 1718454896 + 2);
    EXPECT_EQ(s.transportStreamId, CTsGenerator::kTransportStreamId);
    ASSERT_EQ(s.programs.size(), 7u);
    for (int i = 0; i < 7; ++i)
    {
        const CProgramInfo& p = s.programs.at(static_cast<std::uint16_t>(i + 1));
        SCOPED_TRACE("program " + std::to_string(i + 1));
        EXPECT_TRUE(p.hasPmt);
        EXPECT_EQ(p.pmtPid, CTsGenerator::PmtPid(i));
        EXPECT_EQ(p.pcrPid, CTsGenerator::VideoPid(i));
        ASSERT_EQ(p.streams.size(), 2u);
        EXPECT_EQ(p.streams[0].pid, CTsGenerator::VideoPid(i));
        EXPECT_EQ(p.streams[0].streamType, CTsGenerator::VideoType(i));
        EXPECT_EQ(p.streams[1].pid, CTsGenerator::AudioPid(i));
        EXPECT_EQ(p.streams[1].streamType, CTsGenerator::AudioType(i));
        EXPECT_EQ(p.streams[1].descriptorHint, CTsGenerator::AudioDescriptor(i));
        EXPECT_EQ(p.streams[1].language, "eng");
        const CServiceInfo& service = s.services.at(static_cast<std::uint16_t>(i + 1));
        EXPECT_EQ(service.serviceName, CTsGenerator::ServiceName(i));
        EXPECT_EQ(service.providerName, "Orvane");
    }
}

TEST(CPsiTablesTest, SectionAssemblyAcrossPacketsSeveralInOnePacketAndOverlongSkipped)
{
    // Three small sections (8, 12, 200 bytes) back to back over two payloads.
    auto section = [](std::uint8_t table, std::size_t length) {
        std::vector<std::uint8_t> s(length, 0x00);
        s[0] = table;
        s[1] = static_cast<std::uint8_t>(0x70 | ((length - 3) >> 8));
        s[2] = static_cast<std::uint8_t>(length - 3);
        return s;
    };
    std::vector<std::uint8_t> bytes;
    for (auto s : {section(0x70, 8), section(0x73, 12), section(0x42, 200)})
        bytes.insert(bytes.end(), s.begin(), s.end());

    std::vector<std::size_t> got;
    const CSectionAssembler::SectionCallback collect = [&got](std::uint8_t* s, std::size_t length) {
        got.push_back(length);
        EXPECT_EQ(length, 3u + (static_cast<std::size_t>(s[1] & 0x0F) << 8 | s[2]));
    };
    CSectionAssembler assembler;
    std::vector<std::uint8_t> first = {0x00};
    first.insert(first.end(), bytes.begin(), bytes.begin() + 183);
    assembler.Feed(first.data(), first.size(), true, collect);
    EXPECT_EQ(got, (std::vector<std::size_t>{8, 12}));
    std::vector<std::uint8_t> second(bytes.begin() + 183, bytes.end());
    second.resize(184, 0xFF);
    assembler.Feed(second.data(), second.size(), false, collect);
    EXPECT_EQ(got, (std::vector<std::size_t>{8, 12, 200}));

    // A lost packet in the middle drops the section; the pointer field finds the next one.
    got.clear();
    assembler.Feed(first.data(), first.size(), true, collect);
    assembler.Reset();
    std::vector<std::uint8_t> third = {static_cast<std::uint8_t>(bytes.size() - 183)};
    third.insert(third.end(), bytes.begin() + 183, bytes.end());
    third.insert(third.end(), bytes.begin(), bytes.begin() + 8);
    assembler.Feed(third.data(), third.size(), true, collect);
    EXPECT_EQ(got, (std::vector<std::size_t>{8, 12, 8}));

    // section_length 0xFFF announces 4,098 bytes, more than any PSI table:
    // skipped up to the next pointer field.
    got.clear();
    std::vector<std::uint8_t> overlong = {0x00, 0x4E, 0x7F, 0xFF};
    overlong.resize(184, 0x00);
    assembler.Feed(overlong.data(), overlong.size(), true, collect);
    assembler.Feed(std::vector<std::uint8_t>(184, 0x00).data(), 184, false, collect);
    assembler.Feed(first.data(), first.size(), true, collect);
    EXPECT_EQ(got, (std::vector<std::size_t>{8, 12}));
}

TEST(CPsiTablesTest, SectionWithBadCrcIsCountedAndIgnored)
{
    // The first ten PATs (one each 100 ms) with a wrong CRC_32, then good ones.
    using S = tstest::TimedStream;
    const auto stream = S::Make(1'200, {{.pid = S::kPatPid, .from = 0, .to = 999, .flipCrc = true}});
    const auto half = stream.begin() + 1'000 * 188;
    CDecodeStream decoder;
    FeedFixed(decoder, std::vector<std::uint8_t>(stream.begin(), half), 188);
    CAnalysisSnapshot s = decoder.TakeSnapshot();
    EXPECT_TRUE(s.programs.empty());
    ASSERT_FALSE(s.pids.empty());
    EXPECT_EQ(s.pids[0].pid, S::kPatPid);
    EXPECT_EQ(s.pids[0].stats.crcErrors, 10u);
    FeedFixed(decoder, std::vector<std::uint8_t>(half, stream.end()), 188);
    s = decoder.TakeSnapshot();
    ASSERT_EQ(s.programs.size(), 1u);
    EXPECT_EQ(s.programs.at(1).pmtPid, S::kPmtPid);
    EXPECT_EQ(s.transportStreamId, 1);
}
