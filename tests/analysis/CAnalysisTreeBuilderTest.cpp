// The trees as the user reads them.
#include "analysis/CAnalysisTreeBuilder.h"

#include <gtest/gtest.h>

namespace
{
CAnalysisSnapshot Sample()
{
    CAnalysisSnapshot s;
    s.packetSize = 188;
    s.bitRate = 12'345'678.9;
    s.pcrSeen = true;
    s.totalPackets = 1000;
    s.firstTime = 1704110400;
    s.hasPat = true;
    CProgramInfo p;
    p.programNumber = 3;
    p.pmtPid = 0x100;
    p.hasPmt = true;
    p.pcrPid = 0x1F0;
    p.streams = {CStreamInfo{0x101, 0x1B, 0, ""}, CStreamInfo{0x102, 0x06, 0x6A, "deu"}};
    s.programs[3] = p;
    s.services[3] = CServiceInfo{"Das Erste", "ARD", 1};
    CPidEntry video;
    video.pid = 0x101;
    video.stats.packets = 900;
    video.stats.continuityErrors = 2;
    video.bitRate = 11'111'111.0;
    CPidEntry pcr;
    pcr.pid = 0x1F0;
    pcr.stats.packets = 100;
    pcr.stats.carriesPcr = true;
    s.pids = {video, pcr};
    return s;
}
} // namespace

TEST(CAnalysisTreeBuilderTest, ProgramTreeNamesServiceStreamsAndPids)
{
    const CAnalysisTreeBuilder builder(".");
    const auto roots = builder.BuildProgramTree(Sample());
    ASSERT_EQ(roots.size(), 1u);
    const CTreeNode& program = roots[0];
    EXPECT_EQ(program.text, "Program 3 (0x0003): Das Erste");
    ASSERT_EQ(program.children.size(), 5u);
    EXPECT_EQ(program.children[1].text, "Provider: ARD");
    EXPECT_EQ(program.children[2].text, "PMT: PID 0x0100 (256)");
    EXPECT_EQ(program.children[3].text, "PCR: PID 0x01F0 (496)");
    const CTreeNode& streams = program.children[4];
    ASSERT_EQ(streams.children.size(), 2u);
    EXPECT_EQ(streams.children[0].text, "PID 0x0101 (257): H.264 video (type 0x1B)");
    EXPECT_EQ(streams.children[0].children.at(0).text, "Bit rate: 11.111.111 bps");
    EXPECT_EQ(streams.children[1].text, "PID 0x0102 (258): AC-3 audio (type 0x06), deu");
    EXPECT_EQ(streams.children[1].children.at(0).text, "Not present");
}

TEST(CAnalysisTreeBuilderTest, PidTreeShowsUseRateAndErrorsInRed)
{
    const CAnalysisTreeBuilder builder(",");
    const auto roots = builder.BuildPidTree(Sample());
    ASSERT_EQ(roots.size(), 3u);
    EXPECT_EQ(roots[0].text, "Transport stream");
    EXPECT_EQ(roots[0].children[1].text, "Bit rate: 12,345,678 bps");
    EXPECT_EQ(roots[0].children[5].text, "First TDT/TOT: 2024-01-01 12:00:00 UTC");

    const CTreeNode& video = roots[1];
    EXPECT_EQ(video.text, "PID 0x0101 (257): H.264 video, program 3");
    EXPECT_TRUE(video.hasColour);
    EXPECT_EQ(video.colour, CAnalysisTreeBuilder::kRed);
    EXPECT_EQ(video.children[2].text, "Continuity errors: 2");
    EXPECT_TRUE(video.children[2].hasColour);
    EXPECT_FALSE(video.children[3].hasColour);

    EXPECT_EQ(roots[2].text, "PID 0x01F0 (496): PCR of program 3");
    EXPECT_FALSE(roots[2].hasColour);
    EXPECT_EQ(roots[2].children.back().text, "Carries PCR");
}
