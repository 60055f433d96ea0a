// The file analysis of the Play tab: counts, defaults, the File Information lines,
// the messages for empty and missing files.
#include "analysis/CFileAnalysis.h"

#include "AnalysisTestSupport.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <tuple>

namespace
{
class CFileAnalysisTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_FALSE(m_dir.empty()); }
    std::string Write(const std::string& name, const std::vector<std::uint8_t>& bytes)
    {
        const std::string path = m_temp.File(name);
        tstest::WriteFile(path, bytes);
        return path;
    }
    CFileAnalysisResult Analyse(const std::string& path) { return CFileAnalysis::Analyse(path, m_decoder, "."); }
    static std::vector<std::string> Lines(const CTreeNode& root)
    {
        std::vector<std::string> lines;
        for (const CTreeNode& child : root.children)
            lines.push_back(child.text);
        return lines;
    }
    // Packets of one PID without adaptation field: no PCR anywhere.
    static std::vector<std::uint8_t> NoPcrStream(std::size_t bytes)
    {
        std::vector<std::uint8_t> stream;
        for (std::size_t i = 0; i < bytes / 188; ++i)
            AddPacket(stream, 0x100, static_cast<std::uint8_t>(i));
        if (bytes % 188 != 0)
            stream.push_back(0x47); // the start of a packet the file cut short
        stream.resize(bytes, 0x00);
        return stream;
    }

    tstest::TempDir m_temp;
    const std::string m_dir = m_temp.Path();
    CDecodeStream m_decoder;
};
} // namespace

TEST_F(CFileAnalysisTest, TenThousandPacketsGiveTheExpectedLines)
{
    CTsGeneratorConfig config;
    config.bitRate = 15'040'000;
    config.durationSeconds = 1.0;
    const auto stream = GenerateStream(config);
    ASSERT_EQ(stream.size(), 1'880'000u);
    const std::string path = Write("capture.ts", stream);

    const CFileAnalysisResult r = Analyse(path);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(std::tie(r.packetCount, r.playTimeMs, r.pcrFound, r.fileTotTdtTime, r.fileInformation.expanded),
              std::make_tuple(10'000, 1'000, true, config.startTime, true));
    EXPECT_EQ(r.fileInformation.text, "capture.ts");
    EXPECT_EQ(Lines(r.fileInformation),
              (std::vector<std::string>{"1.880.000 bytes", "Playtime: +/- 1.00sec", "Before first packet: 0",
                                        "After last packet: 0", "Packets: 10.000", "Packet size: 188",
                                        "Bit rate: 15.040.000 bps"}));
}

TEST_F(CFileAnalysisTest, GarbageAroundThePacketsIsMeasured)
{
    CTsGeneratorConfig config;
    config.bitRate = 3'000'000;
    config.durationSeconds = 4;
    config.packetSize = 204;
    config.leadingGarbage = 100;
    auto stream = GenerateStream(config);
    const std::size_t packets = (stream.size() - 100) / 204;
    stream.erase(stream.end() - 127, stream.end()); // the last packet cut short: 77 bytes of it remain
    const std::string path = Write("cut.ts", stream);

    const CFileAnalysisResult r = Analyse(path);
    EXPECT_EQ(std::tie(r.packetSize, r.bytesBeforeFirstPacket, r.bytesAfterLastPacket, r.packetCount),
              std::make_tuple(204, 100, 77, static_cast<std::int64_t>(packets) - 1));
    EXPECT_NEAR(r.bitRate, 3'000'000.0, 300.0);
}

TEST_F(CFileAnalysisTest, JunkAfterTheLastWholePacketIsCountedFromIt)
{
    // 100 clean packets, then bytes without a sync byte where a next packet would start.
    struct Case
    {
        std::vector<std::uint8_t> junk;
        std::int64_t after;
    };
    std::vector<std::uint8_t> cutAndZeros = {0x47, 0x01, 0x00, 0x10};
    cutAndZeros.resize(150, 0x00); // a cut packet, then zeros
    for (const Case& c : {Case{std::vector<std::uint8_t>(50, 0x00), 50}, Case{cutAndZeros, 150}, Case{{}, 0}})
    {
        std::vector<std::uint8_t> stream;
        for (std::uint8_t i = 0; i < 100; ++i)
            AddPacket(stream, 0x100, i);
        stream.insert(stream.end(), c.junk.begin(), c.junk.end());
        CDecodeStream decoder;
        const CFileAnalysisResult r = CFileAnalysis::Analyse(Write("junk.ts", stream), decoder, ".");
        ASSERT_TRUE(r.ok);
        // The play time is the 100 packets' at the default rate.
        EXPECT_EQ(std::tie(r.packetCount, r.bytesAfterLastPacket, r.playTimeMs),
                  std::make_tuple(100, c.after, 100 * 188 * 8'000 / 400'000));
        const auto lines = Lines(r.fileInformation);
        EXPECT_EQ(std::vector(lines.begin() + 3, lines.begin() + 5),
                  (std::vector<std::string>{"After last packet: " + std::to_string(c.after), "Packets: 100"}));
    }
}

TEST_F(CFileAnalysisTest, DefaultBitRatesBySizeWithoutPcr)
{
    struct Case
    {
        std::size_t size;
        double rate;
        const char* line;
    };
    for (const Case& c : {Case{500'000, 400'000.0, "Bit rate: 400.000 bps"},
                          Case{10 * 1'048'576, 40'000'000.0, "Bit rate: 40.000.000 bps"}})
    {
        const std::string path = Write("nopcr.ts", NoPcrStream(c.size));
        CDecodeStream decoder;
        const CFileAnalysisResult r = CFileAnalysis::Analyse(path, decoder, ".");
        ASSERT_TRUE(r.ok);
        EXPECT_EQ(decoder.State().m_pcrSeen.load(), 0);
        ASSERT_FALSE(r.fileInformation.children.empty());
        EXPECT_EQ(r.fileInformation.children.back().text, c.line);
        const auto packets = static_cast<std::int64_t>(c.size / 188);
        EXPECT_EQ(std::tie(r.pcrFound, r.bitRate, r.packetCount, r.playTimeMs),
                  std::make_tuple(false, c.rate, packets,
                                  static_cast<std::int64_t>(static_cast<double>(packets) * 188 * 8000.0 / c.rate)))
            << c.size;
    }
}

TEST_F(CFileAnalysisTest, EmptyMissingAndForeignFiles)
{
    const CFileAnalysisResult empty = Analyse(Write("empty.ts", {}));
    EXPECT_EQ(std::tie(empty.ok, empty.fileSize, empty.fileInformation.text),
              std::make_tuple(true, 0, std::string("empty.ts")));
    EXPECT_EQ(Lines(empty.fileInformation), std::vector<std::string>{"No data in file"});

    for (const std::string& path : {m_dir + "/missing.ts", m_dir})
    {
        const CFileAnalysisResult missing = Analyse(path);
        EXPECT_EQ(std::tie(missing.ok, missing.fileInformation.text),
                  std::make_tuple(false, std::string("Error reading file")))
            << path;
        EXPECT_EQ(Lines(missing.fileInformation), std::vector<std::string>{"Invalid file"});
    }

    // A named pipe without a writer, a character device: refused at once.
    const std::string pipe = m_dir + "/pipe.ts";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    for (const std::string& path : {pipe, std::string("/dev/null")})
    {
        const CFileAnalysisResult refused = Analyse(path);
        EXPECT_EQ(std::tie(refused.ok, refused.error, refused.fileInformation.text),
                  std::make_tuple(false, std::string(CFileAnalysis::kMsgNotAFile), std::string("Error reading file")))
            << path;
    }

    std::vector<std::uint8_t> text(300'000, 'x');
    const CFileAnalysisResult foreign = Analyse(Write("notes.txt", text));
    EXPECT_EQ(std::tie(foreign.ok, foreign.packetSize, foreign.packetCount), std::make_tuple(true, 0, 0));
    EXPECT_EQ(Lines(foreign.fileInformation), std::vector<std::string>{"No data in file"});
}

TEST_F(CFileAnalysisTest, M2tsPacketsAreNamedAsNotSupported)
{
    // 192-byte packets: a 4-byte time code, then a 188-byte packet; the whole
    // file and a file starting mid-packet are both recognised.
    std::vector<std::uint8_t> m2ts;
    for (std::size_t i = 0; i < 2'000; ++i)
    {
        const std::uint8_t code[4] = {0x00, 0x12, static_cast<std::uint8_t>(i >> 8), static_cast<std::uint8_t>(i)};
        m2ts.insert(m2ts.end(), code, code + 4);
        AddPacket(m2ts, 0x100, static_cast<std::uint8_t>(i));
    }
    for (std::size_t skip : {0u, 77u})
    {
        const std::vector<std::uint8_t> bytes(m2ts.begin() + static_cast<std::ptrdiff_t>(skip), m2ts.end());
        const CFileAnalysisResult result = Analyse(Write("clip.m2ts", bytes));
        EXPECT_EQ(std::tie(result.packetSize, result.error),
                  std::make_tuple(0, std::string(CFileAnalysis::kMsgM2tsPackets)))
            << skip;
        EXPECT_EQ(Lines(result.fileInformation), std::vector<std::string>{CFileAnalysis::kMsgM2tsPackets}) << skip;
    }
    // Plain 188-byte packets are no M2TS.
    const std::vector<std::uint8_t> plain = NoPcrStream(188 * 10);
    EXPECT_FALSE(CFileAnalysis::LooksLikeM2ts(plain.data(), plain.size()));
    EXPECT_TRUE(CFileAnalysis::LooksLikeM2ts(m2ts.data(), 192 * 5));
    EXPECT_FALSE(CFileAnalysis::LooksLikeM2ts(m2ts.data(), 192 * 4)) << "too short to tell";
}
