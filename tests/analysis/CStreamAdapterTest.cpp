// The adaptations applied by CDecodeStream while playing, driven exactly as the
// file play engine drives them: play start, chunks, loops, jumps that drop the
// FIFO, stuffing bursts. The output is checked as a receiver would see it.
#include "AnalysisTestSupport.h"
#include "analysis/AdaptedStreamCheck.h"
#include "analysis/CTsGenerator.h"

#include <bitstream/mpeg/ts.h>
#include <gtest/gtest.h>

#include <ctime>
#include <random>

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

    void Start(bool pcr, bool cc, bool time, int timeType = 0, std::int64_t offset = 0, double rate = kPlayRate)
    {
        m_decoder.ResetListData(0, 1);
        CAnalysisState& state = m_decoder.State();
        state.m_pcrRestamp.store(pcr ? 1 : 0);
        state.m_pcrRestamp2.store(pcr ? 1 : 0);
        state.m_ccRestamp.store(cc ? 1 : 0);
        state.m_totTdtEnable.store(time ? 1 : 0);
        state.m_totTdtTimeType.store(timeType);
        state.m_totTdtOffset.store(offset);
        m_decoder.m_playBitRate.store(rate);
        m_rate = rate;
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
    double m_rate = kPlayRate;
};

// The file's own PTS-PCR distances, the reference for the played ones.
adaptcheck::Report FileReport(const std::vector<std::uint8_t>& file)
{
    return adaptcheck::Check(file, {}, ProgramClocks(2), kFileRate);
}

// @p ownRate: played at the file's own rate. Faster, the content keeps its own PTS
// steps between PCRs while the PCR runs faster, so only the distances are compared.
void ExpectSeamless(const adaptcheck::Report& played, const adaptcheck::Report& file, bool ownRate)
{
    EXPECT_EQ(played.ccErrors, 0u);
    EXPECT_EQ(played.pcrCount.size(), 2u);
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
    EXPECT_EQ(played.timeBackSteps, 0u);
    EXPECT_EQ(played.totBadCrc, 0u);
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
} // namespace

TEST(CStreamAdapterTest, AdaptationsOffChangeNothingAndTheCheckFindsTheLoopBreaks)
{
    const std::vector<std::uint8_t> file = GenerateStream(TwoPrograms());
    CDecodeStream decoder;
    Player player(decoder);
    player.Start(false, false, false);
    for (int pass = 0; pass < 3; ++pass)
    {
        player.Pass(file);
        player.Loop();
    }
    ASSERT_EQ(player.wire.size(), kStuffing + 3 * file.size());
    for (int pass = 0; pass < 3; ++pass)
        EXPECT_TRUE(std::equal(file.begin(), file.end(),
                               player.wire.begin() + static_cast<long>(kStuffing + pass * file.size())));

    const adaptcheck::Report r = adaptcheck::Check(player.wire, {}, ProgramClocks(2), kPlayRate);
    EXPECT_GT(r.ccErrors, 0u);
    EXPECT_GT(r.pcrPositionError, 27'000.0);
    EXPECT_GT(r.ptsJumps, 0u);
    EXPECT_GT(r.timeBackSteps, 0u);
}

TEST(CStreamAdapterTest, ThreePassesWithEverythingOnAreOneSeamlessStream)
{
    const std::vector<std::uint8_t> file = GenerateStream(TwoPrograms());
    CDecodeStream decoder;
    // The Play tab analyses the file first: that gives the file's own time.
    FeedFixed(decoder, file, 100'000);
    ASSERT_EQ(decoder.State().m_fileTotTdtTime.load(), kFileStart);
    Player player(decoder);
    player.Start(true, true, true, 0);
    for (int pass = 0; pass < 3; ++pass)
    {
        player.Pass(file);
        player.Loop();
    }
    ASSERT_EQ(player.wire.size(), kStuffing + 3 * file.size());
    EXPECT_EQ(decoder.OutputPosition(), static_cast<std::int64_t>(player.wire.size()));

    const adaptcheck::Report r = adaptcheck::Check(player.wire, {}, ProgramClocks(2), kPlayRate);
    ExpectSeamless(r, FileReport(file), false);
    ExpectTimesAtPace(r, kFileStart);
    // The first PCR of the play keeps the file's value.
    const auto firstVideoPcr = [](const std::uint8_t* p, std::size_t size) {
        for (std::size_t i = 0; i + kPacket <= size; i += kPacket, p += kPacket)
            if (ts_get_pid(p) == CTsGenerator::VideoPid(0) && ts_has_adaptation(p) && p[4] >= 7 && tsaf_has_pcr(p))
                return tsaf_get_pcr(p) * 300 + tsaf_get_pcrext(p);
        return std::uint64_t{0};
    };
    EXPECT_EQ(firstVideoPcr(player.wire.data() + kStuffing, file.size()), firstVideoPcr(file.data(), file.size()));
}

TEST(CStreamAdapterTest, TotKeepsItsDescriptorsAndTheWallClockTypesStartFromNow)
{
    const std::vector<std::uint8_t> file = GenerateStream(TwoPrograms());
    for (const int type : {1, 2})
    {
        SCOPED_TRACE(type);
        const std::int64_t offset = type == 2 ? -86'400 * 400 : 0;
        CDecodeStream decoder;
        Player player(decoder);
        const std::int64_t before = std::time(nullptr);
        player.Start(false, false, true, type, offset);
        player.Pass(file);
        player.Loop();
        player.Pass(file);
        const std::int64_t after = std::time(nullptr);
        const adaptcheck::Report r = adaptcheck::Check(player.wire, {}, ProgramClocks(2), kPlayRate);
        ASSERT_FALSE(r.times.empty());
        // The first TDT leaves a little after the play start, at the output timeline.
        const double lead = static_cast<double>(r.times.front().position) * 8.0 / kPlayRate;
        EXPECT_GE(r.times.front().time, before + offset + static_cast<std::int64_t>(lead));
        EXPECT_LE(r.times.front().time, after + offset + static_cast<std::int64_t>(lead) + 1);
        EXPECT_EQ(r.timeBackSteps, 0u);
        EXPECT_EQ(r.totBadCrc, 0u);
        // Only the times and the TOT CRC changed: the descriptors are the file's.
        for (std::size_t i = 0; i < file.size(); i += kPacket)
        {
            const std::uint8_t* in = file.data() + i;
            const std::uint8_t* out = player.wire.data() + kStuffing + i;
            if (ts_get_pid(in) != 0x14)
                continue;
            std::vector<bool> owned(kPacket, false);
            for (std::size_t at = 5 + in[4]; at + 3 <= kPacket && in[at] != 0xFF;)
            {
                const std::size_t end = at + 3 + psi_get_length(in + at);
                for (std::size_t j = at + 3; j < at + 8 && j < kPacket; ++j)
                    owned[j] = true;
                for (std::size_t j = end - 4; in[at] == 0x73 && j < end && j < kPacket; ++j)
                    owned[j] = true;
                at = end;
            }
            for (std::size_t j = 0; j < kPacket; ++j)
                EXPECT_TRUE(in[j] == out[j] || owned[j]) << "packet " << i / kPacket << " byte " << j;
        }
    }
}

TEST(CStreamAdapterTest, ContinuityPatternOfTheFileIsKeptWithinEachPass)
{
    CTsGeneratorConfig config = TwoPrograms();
    config.ccErrorEvery = 37;
    std::vector<std::uint8_t> file = GenerateStream(config);
    // A duplicate packet (same counter, same payload) of the first video PID.
    for (std::size_t i = 300 * kPacket; i < file.size(); i += kPacket)
        if (ts_get_pid(file.data() + i) == CTsGenerator::VideoPid(0))
        {
            std::vector<std::uint8_t> copy(file.begin() + static_cast<long>(i),
                                           file.begin() + static_cast<long>(i + kPacket));
            file.insert(file.begin() + static_cast<long>(i + kPacket), copy.begin(), copy.end());
            break;
        }
    const adaptcheck::Report own = FileReport(file);
    ASSERT_GT(own.ccErrors, 1u);

    CDecodeStream decoder;
    Player player(decoder);
    player.Start(false, true, false);
    for (int pass = 0; pass < 3; ++pass)
    {
        player.Pass(file, 0, SIZE_MAX, 40'000);
        player.Loop();
    }
    const adaptcheck::Report r = adaptcheck::Check(player.wire, {}, ProgramClocks(2), kPlayRate);
    EXPECT_EQ(r.ccErrors, 3 * own.ccErrors); // the file's own, and none at the loop points
}

TEST(CStreamAdapterTest, JumpsThatDropTheFifoContinueEveryClock)
{
    const std::vector<std::uint8_t> file = GenerateStream(TwoPrograms(2.0));
    CDecodeStream decoder;
    FeedFixed(decoder, file, 100'000);
    Player player(decoder);
    player.Start(true, true, true, 0, 0, kFileRate);
    player.Pass(file, 0, file.size() / 2);
    // The slider: 30 % back, the FIFO held 1,000 packets; then forward, dropping 77.
    player.Jump(1'000, static_cast<std::int64_t>(file.size() * 3 / 10 / 512 * 512));
    player.Pass(file, file.size() * 3 / 10 / 512 * 512, file.size() * 8 / 10);
    player.Jump(77, static_cast<std::int64_t>(file.size() * 9 / 10 / 512 * 512));
    player.Pass(file, file.size() * 9 / 10 / 512 * 512);
    player.Loop();
    player.Pass(file);
    EXPECT_EQ(decoder.OutputPosition(), static_cast<std::int64_t>(player.wire.size()));

    const adaptcheck::Report r = adaptcheck::Check(player.wire, {}, ProgramClocks(2), kFileRate);
    ExpectSeamless(r, FileReport(file), true);
    ExpectTimesAtPace(r, kFileStart, kFileRate);
}

TEST(CStreamAdapterTest, HostilePacketsOnlyChangeTheFieldsTheAdaptationsOwn)
{
    std::vector<std::uint8_t> file = GenerateStream(TwoPrograms());
    std::mt19937 random(5);
    for (std::size_t i = 0; i + kPacket <= file.size(); i += kPacket)
    {
        std::uint8_t* p = file.data() + i;
        switch (random() % 8)
        {
        case 0: // scrambled: its PES header cannot be seen
            p[3] |= 0x80;
            break;
        case 1: // an adaptation field of any length, even a wrong one
            p[3] = static_cast<std::uint8_t>((p[3] & 0xCF) | 0x30);
            p[4] = static_cast<std::uint8_t>(random() % 200);
            p[5] = static_cast<std::uint8_t>(random());
            break;
        case 2: // PCR discontinuity
            if (ts_has_adaptation(p) && p[4] > 0)
                p[5] |= 0x80;
            break;
        case 3: // a PES header cut by the packet end
            p[1] |= 0x40;
            p[3] = static_cast<std::uint8_t>((p[3] & 0xCF) | 0x30);
            p[4] = 176;
            p[181] = 0;
            p[182] = 0;
            p[183] = 1;
            p[184] = 0xE0;
            break;
        default:
            break;
        }
    }
    file.resize(file.size() - 100); // the file ends inside a packet
    CDecodeStream decoder;
    Player player(decoder);
    player.Start(true, true, true, 1);
    player.Pass(file, 0, SIZE_MAX, 9'999);
    ASSERT_GE(player.wire.size(), kStuffing);
    const std::size_t played = std::min(player.wire.size() - kStuffing, file.size());
    ASSERT_GT(played, file.size() / 2);
    for (std::size_t i = 0; i + kPacket <= played; i += kPacket)
    {
        const std::uint8_t* in = file.data() + i;
        const std::uint8_t* out = player.wire.data() + kStuffing + i;
        const bool scrambled = (in[3] & 0xC0) != 0;
        const bool af = (in[3] & 0x20) != 0 && in[4] <= 183;
        const std::size_t payload = af ? 5u + in[4] : 4u;
        for (std::size_t j = 0; j < kPacket; ++j)
        {
            if (in[j] == out[j])
                continue;
            const bool cc = j == 3 && (in[j] & 0xF0) == (out[j] & 0xF0);
            const bool pcr = af && in[4] >= 7 && (in[5] & 0x10) != 0 && j >= 6 && j < 12;
            const bool pes =
                !scrambled && (in[1] & 0x40) != 0 && j >= payload + 9 && j < payload + 19 && payload + 19 <= kPacket;
            const bool time = ts_get_pid(in) == 0x14;
            EXPECT_TRUE(cc || pcr || pes || time) << "packet " << i / kPacket << " byte " << j;
        }
    }
}
