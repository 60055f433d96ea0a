// The adaptations applied by CDecodeStream while playing, driven exactly as the
// file play engine drives them: play start, chunks, loops, jumps that drop the
// FIFO, stuffing bursts. The output is checked as a receiver would see it.
#include "AnalysisTestSupport.h"
#include "analysis/AdaptedStreamCheck.h"
#include "analysis/CTsGenerator.h"

#include <bitstream/mpeg/ts.h>
#include <gtest/gtest.h>

#include <tuple>

namespace
{
constexpr std::size_t kPacket = 188;
constexpr std::size_t kStuffing = 12 * kPacket;
constexpr double kFileRate = 10'000'000.0;
constexpr double kPlayRate = 25'000'000.0;
constexpr std::int64_t kFileStart = 1704110400; // the generator's first TDT/TOT

CTsGeneratorConfig TwoPrograms(double seconds = 1.2)
{
    CTsGeneratorConfig config;
    config.programs = 2;
    config.bitRate = static_cast<std::uint64_t>(kFileRate);
    config.durationSeconds = seconds;
    return config;
}

std::map<std::uint16_t, std::uint16_t> ProgramClocks(int programs)
{
    std::map<std::uint16_t, std::uint16_t> clocks;
    for (int i = 0; i < programs; ++i)
    {
        clocks[CTsGenerator::VideoPid(i)] = CTsGenerator::VideoPid(i);
        clocks[CTsGenerator::AudioPid(i)] = CTsGenerator::VideoPid(i);
    }
    return clocks;
}

// Calls the analysis object as the play engine does and keeps what the sender would send.
class Player
{
public:
    explicit Player(CDecodeStream& decoder) : m_decoder(decoder) {}

    //! Play start with every adaptation on: PCR, PTS/DTS, continuity counters, TDT/TOT from the file's time.
    void Start(double rate = kPlayRate)
    {
        m_decoder.ResetListData(0, 1);
        CAnalysisState& state = m_decoder.State();
        state.m_pcrRestamp.store(1);
        state.m_pcrRestamp2.store(1);
        state.m_ccRestamp.store(1);
        state.m_totTdtEnable.store(1);
        state.m_totTdtTimeType.store(0);
        state.m_totTdtOffset.store(0);
        m_decoder.m_playBitRate.store(rate);
        m_decoder.ResetStreamData();
        JumpCalls(0);
        Stuffing();
    }
    void Pass(const std::vector<std::uint8_t>& file, std::size_t from = 0, std::size_t to = SIZE_MAX,
              std::size_t chunk = 65'537)
    {
        to = std::min(to, file.size());
        std::vector<std::uint8_t> part(file.begin() + static_cast<long>(from), file.begin() + static_cast<long>(to));
        std::vector<std::uint8_t> out = FeedFixed(m_decoder, part, chunk, 512);
        std::size_t skip = 0;
        if (m_resync)
        {
            // The sender starts at the first packet after a jump.
            while (skip + 2 * kPacket < out.size() &&
                   !(out[skip] == 0x47 && out[skip + kPacket] == 0x47 && out[skip + 2 * kPacket] == 0x47))
                ++skip;
            m_resync = false;
        }
        wire.insert(wire.end(), out.begin() + static_cast<long>(skip), out.end());
    }
    void Loop()
    {
        m_decoder.ResetStreamData();
        m_decoder.SetLoop();
        m_resync = true;
    }
    //! The FIFO still held @p dropPackets packets that are never sent.
    void Jump(std::size_t dropPackets, std::int64_t newOffset)
    {
        const std::size_t drop = std::min(dropPackets * kPacket, wire.size() / kPacket * kPacket);
        wire.resize(wire.size() - drop);
        m_decoder.ResetStreamData();
        JumpCalls(newOffset);
        m_decoder.AddOutputBytes(-static_cast<std::int64_t>(drop));
        Stuffing();
        m_resync = true;
    }

    std::vector<std::uint8_t> wire;

private:
    void JumpCalls(std::int64_t offset)
    {
        m_decoder.ResetPCRRestamp();
        m_decoder.ResetPTSDTSRestamp(offset);
        m_decoder.ResetFirstPCR();
    }
    void Stuffing()
    {
        for (std::size_t i = 0; i < 12; ++i)
        {
            const std::uint8_t null[4] = {0x47, 0x1F, 0xFF, 0x10};
            wire.insert(wire.end(), null, null + 4);
            wire.insert(wire.end(), kPacket - 4, 0);
        }
        m_decoder.AddOutputBytes(static_cast<std::int64_t>(kStuffing));
    }

    CDecodeStream& m_decoder;
    bool m_resync = true;
};

// The file's own PTS-PCR distances, the reference for the played ones.
adaptcheck::Report FileReport(const std::vector<std::uint8_t>& file)
{
    return adaptcheck::Check(file, ProgramClocks(2), kFileRate);
}

// @p ownRate: played at the file's own rate. Faster, the content keeps its own PTS
// steps between PCRs while the PCR runs faster, so only the distances are compared.
void ExpectSeamless(const adaptcheck::Report& played, const adaptcheck::Report& file, bool ownRate)
{
    // No continuity error, no time stepping back, no TOT with a bad CRC, both programs' PCR.
    EXPECT_EQ(std::make_tuple(played.ccErrors, played.timeBackSteps, played.totBadCrc, played.pcrCount.size()),
              std::make_tuple(0u, 0u, 0u, 2u));
    EXPECT_LE(played.pcrPositionError, 2.0) << "PCR off the output timeline (27 MHz ticks)";
    // A PES before the first PCR of a pass is measured from the PCR before the loop or jump:
    // up to one PCR interval (40 ms of the file) closer.
    EXPECT_GE(played.ptsDistanceMin, file.ptsDistanceMin - 3'600);
    EXPECT_LE(played.ptsDistanceMax, file.ptsDistanceMax + 1);
    EXPECT_GT(played.pesWithTime, file.pesWithTime);
    if (ownRate)
    {
        EXPECT_EQ(played.ptsJumps, 0u);
    }
}

// TDT/TOT times follow the output from the first one: one second per second at the play rate.
void ExpectTimesAtPace(const adaptcheck::Report& r, std::int64_t first, double rate = kPlayRate)
{
    ASSERT_GE(r.times.size(), 4u);
    EXPECT_EQ(r.times.front().time, first);
    for (const adaptcheck::TimeEntry& e : r.times)
    {
        const double seconds = static_cast<double>(e.position - r.times.front().position) * 8.0 / rate;
        EXPECT_NEAR(static_cast<double>(e.time - first), seconds, 1.0);
    }
}
// A TR 101 290 monitor at the receiver sees no fault across loops and jumps.
void ExpectNoTr101290Event(const std::vector<std::uint8_t>& wire)
{
    CDecodeStream receiver;
    FeedFixed(receiver, wire, 65'536);
    EXPECT_EQ(receiver.TakeSnapshot().tr101290.count, CTr101290Counters{}.count);
}
} // namespace

TEST(CStreamAdapterTest, ThreePassesWithEverythingOnAreOneSeamlessStream)
{
    const std::vector<std::uint8_t> file = GenerateStream(TwoPrograms());
    CDecodeStream decoder;
    // The Play tab analyses the file first: that gives the file's own time.
    FeedFixed(decoder, file, 100'000);
    ASSERT_EQ(decoder.State().m_fileTotTdtTime.load(), kFileStart);
    Player player(decoder);
    player.Start();
    for (int pass = 0; pass < 3; ++pass)
    {
        player.Pass(file);
        player.Loop();
    }
    ASSERT_EQ(player.wire.size(), kStuffing + 3 * file.size());
    EXPECT_EQ(decoder.OutputPosition(), static_cast<std::int64_t>(player.wire.size()));

    const adaptcheck::Report r = adaptcheck::Check(player.wire, ProgramClocks(2), kPlayRate);
    ExpectSeamless(r, FileReport(file), false);
    ExpectTimesAtPace(r, kFileStart);
    ExpectNoTr101290Event(player.wire);
    // The first PCR of the play keeps the file's value.
    const auto firstVideoPcr = [](const std::uint8_t* p, std::size_t size) {
        for (std::size_t i = 0; i + kPacket <= size; i += kPacket, p += kPacket)
            if (ts_get_pid(p) == CTsGenerator::VideoPid(0) && ts_has_adaptation(p) && p[4] >= 7 && tsaf_has_pcr(p))
                return tsaf_get_pcr(p) * 300 + tsaf_get_pcrext(p);
        return std::uint64_t{0};
    };
    EXPECT_EQ(firstVideoPcr(player.wire.data() + kStuffing, file.size()), firstVideoPcr(file.data(), file.size()));
}

TEST(CStreamAdapterTest, JumpsThatDropTheFifoContinueEveryClock)
{
    const std::vector<std::uint8_t> file = GenerateStream(TwoPrograms(2.0));
    CDecodeStream decoder;
    FeedFixed(decoder, file, 100'000);
    Player player(decoder);
    player.Start(kFileRate);
    player.Pass(file, 0, file.size() / 2);
    // The slider: 30 % back, the FIFO held 1,000 packets; then forward, dropping 77.
    player.Jump(1'000, static_cast<std::int64_t>(file.size() * 3 / 10 / 512 * 512));
    player.Pass(file, file.size() * 3 / 10 / 512 * 512, file.size() * 8 / 10);
    player.Jump(77, static_cast<std::int64_t>(file.size() * 9 / 10 / 512 * 512));
    player.Pass(file, file.size() * 9 / 10 / 512 * 512);
    player.Loop();
    player.Pass(file);
    EXPECT_EQ(decoder.OutputPosition(), static_cast<std::int64_t>(player.wire.size()));

    const adaptcheck::Report r = adaptcheck::Check(player.wire, ProgramClocks(2), kFileRate);
    ExpectSeamless(r, FileReport(file), true);
    ExpectTimesAtPace(r, kFileStart, kFileRate);
    ExpectNoTr101290Event(player.wire);
}
