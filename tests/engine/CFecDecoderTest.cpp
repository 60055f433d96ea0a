#include "engine/FecTestStream.h"

#include <gtest/gtest.h>

#include <random>

using namespace fectest;
using Mode = CFecEncoder::Mode;

namespace
{
struct Matrix
{
    std::uint32_t L, D;
    Mode mode;
    std::uint16_t firstSequence; // near 65535: the wrap falls inside a matrix
    bool vary;                   // datagrams of differing lengths
};

const Matrix kMatrices[] = {
    {5, 4, Mode::Column, 100, false},       {4, 5, Mode::RowColumn, 65'536 - 37, false},
    {10, 10, Mode::RowColumn, 7, true},     {1, 20, Mode::Column, 65'500, true},
    {20, 5, Mode::RowColumn, 65'535, true}, {5, 20, Mode::Column, 0, false},
};

CFecEncoder::Settings SettingsOf(const Matrix& m)
{
    return {m.L, m.D, m.mode, 0};
}

// Every rebuilt datagram is byte for byte the one sent.
void ExpectExact(const Decoded& d, const Matrix& m)
{
    for (const auto& [n, bytes] : d.rebuilt)
        EXPECT_EQ(bytes, tstest::MakeRtpDatagram(n, m.firstSequence, PacketsOf(n, m.vary))) << "datagram " << n;
}

// Independent model: which lost datagrams one column/row XOR at a time can give back.
std::set<std::uint64_t> Recoverable(const Matrix& m, std::uint64_t matrices, std::set<std::uint64_t> lost,
                                    const std::set<std::pair<int, std::uint64_t>>& lostGroups)
{
    std::set<std::uint64_t> got;
    for (bool progress = true; progress;)
    {
        progress = false;
        for (std::uint64_t k = 0; k < matrices; ++k)
            for (int kind = 0; kind < (m.mode == Mode::RowColumn ? 2 : 1); ++kind)
                for (std::uint32_t g = 0; g < (kind == 0 ? m.L : m.D); ++g)
                {
                    if (lostGroups.count({kind, k * 100 + g}))
                        continue;
                    std::vector<std::uint64_t> gone;
                    for (std::uint32_t i = 0; i < (kind == 0 ? m.D : m.L); ++i)
                    {
                        const std::uint64_t n = k * m.L * m.D + (kind == 0 ? i * m.L + g : g * m.L + i);
                        if (lost.count(n))
                            gone.push_back(n);
                    }
                    if (gone.size() == 1)
                    {
                        lost.erase(gone[0]);
                        got.insert(gone[0]);
                        progress = true;
                    }
                }
    }
    return got;
}

// The group a FEC datagram protects, as the model names it.
std::pair<int, std::uint64_t> GroupOf(const WireDatagram& w, const Matrix& m)
{
    fec::Header h;
    fec::Parse(w.bytes, h);
    const auto first = static_cast<std::uint16_t>(h.snBase - m.firstSequence);
    const std::uint64_t k = first / (m.L * m.D), in = first % (m.L * m.D);
    return h.stream == fec::Stream::Column ? std::pair<int, std::uint64_t>{0, k * 100 + in}
                                           : std::pair<int, std::uint64_t>{1, k * 100 + in / m.L};
}
} // namespace

// Every single loss of a matrix, and a burst of L across a row boundary (columns alone suffice).
TEST(CFecDecoder, RebuildsEverySingleLossAndABurstOfL)
{
    for (const auto& m : kMatrices)
    {
        const std::uint64_t size = m.L * m.D;
        const auto wire = Encode(SettingsOf(m), 4 * size, m.firstSequence, m.vary);
        std::vector<std::set<std::uint64_t>> patterns;
        for (std::uint64_t n = size; n < 2 * size; ++n)
            patterns.push_back({n});
        patterns.emplace_back();
        for (std::uint64_t n = size + 3; n < size + 3 + m.L; ++n)
            patterns.back().insert(n);
        for (const auto& lost : patterns)
        {
            const auto d = Decode(wire, m.firstSequence, lost);
            EXPECT_EQ(d.rebuilt.size(), lost.size()) << "L " << m.L << " D " << m.D << " from " << *lost.begin();
            EXPECT_EQ(d.counters.recovered, lost.size());
            EXPECT_EQ(d.counters.unrecoverable, 0U);
            ExpectExact(d, m);
        }
    }
}

TEST(CFecDecoder, LeavesWhatTheMatrixCannotRebuildAsACountedGapAndWaitsForLateMedia)
{
    struct Case
    {
        const char* what;
        Matrix m;
        std::set<std::uint64_t> lost, rebuilt;
        bool fecFirst;
    };
    const Case kCases[] = {
        {"two in a column", {5, 4, Mode::Column, 65'530, false}, {21, 26, 33}, {33}, false},
        {"a 2 x 2 square", {4, 5, Mode::RowColumn, 3, false}, {25, 26, 29, 30}, {}, false},
        {"FEC before media", {4, 5, Mode::RowColumn, 65'520, true}, {1, 5, 22, 23, 41}, {1, 5, 22, 23, 41}, true},
    };
    for (const auto& c : kCases)
    {
        auto wire = Encode(SettingsOf(c.m), 80, c.m.firstSequence, c.m.vary);
        if (c.fecFirst)
            std::stable_partition(wire.begin(), wire.end(), [](const WireDatagram& w) { return w.isFec; });
        const auto d = Decode(wire, c.m.firstSequence, c.lost);
        std::set<std::uint64_t> got;
        for (const auto& r : d.rebuilt)
            got.insert(r.first);
        EXPECT_EQ(got, c.rebuilt) << c.what;
        EXPECT_EQ(d.counters.recovered, c.rebuilt.size()) << c.what; // nothing merely not yet arrived
        EXPECT_EQ(d.counters.unrecoverable, c.lost.size() - c.rebuilt.size()) << c.what;
        ExpectExact(d, c.m);
    }
}

TEST(CFecDecoder, RecoversExactlyWhatTheMatrixCanRecover)
{
    for (const auto& m : kMatrices)
        for (std::uint64_t seed = 1; seed <= 12; ++seed)
        {
            constexpr std::uint64_t kMatrices = 6; // and a clean one behind
            const std::uint64_t size = m.L * m.D;
            const auto wire = Encode(SettingsOf(m), (kMatrices + 1) * size, m.firstSequence, m.vary);
            std::mt19937_64 random(seed);
            const double mediaLoss = 0.02 * static_cast<double>(1 + seed % 5), fecLoss = 0.05;
            std::set<std::uint64_t> lostMedia, lostFec;
            std::set<std::pair<int, std::uint64_t>> lostGroups;
            for (const auto& w : wire)
            {
                const bool lose = std::uniform_real_distribution<>(0, 1)(random) < (w.isFec ? fecLoss : mediaLoss);
                if (!lose || (!w.isFec && w.n >= kMatrices * size))
                    continue;
                (w.isFec ? lostFec : lostMedia).insert(w.n);
                if (w.isFec)
                    lostGroups.insert(GroupOf(w, m));
            }
            const auto expected = Recoverable(m, kMatrices, lostMedia, lostGroups);
            const auto d = Decode(wire, m.firstSequence, lostMedia, lostFec);
            std::set<std::uint64_t> got;
            for (const auto& r : d.rebuilt)
                got.insert(r.first);
            EXPECT_EQ(got, expected) << "L " << m.L << " D " << m.D << " seed " << seed;
            EXPECT_EQ(d.counters.unrecoverable, lostMedia.size() - expected.size());
            EXPECT_EQ(d.counters.fecMalformed + d.counters.fecInconsistent, 0U);
            ExpectExact(d, m);

            // Out of order and repeated: datagrams merely late may come back early, nothing else changes.
            const auto shaken = Decode(wire, m.firstSequence, lostMedia, lostFec, seed);
            for (const auto n : expected)
                EXPECT_EQ(shaken.rebuilt.count(n), 1U) << "L " << m.L << " D " << m.D << " seed " << seed;
            EXPECT_EQ(shaken.counters.unrecoverable, lostMedia.size() - expected.size());
            ExpectExact(shaken, m);
        }
}

TEST(CFecDecoder, MalformedFecIsCountedAndNeverUsed)
{
    const Matrix m{4, 5, Mode::RowColumn, 0, false};
    const auto wire = Encode(SettingsOf(m), 40, 0);
    std::vector<std::uint8_t> good;
    for (const auto& w : wire)
        if (w.isFec && w.stream == fec::Stream::Column)
        {
            good = w.bytes;
            break;
        }
    // what, then byte positions and values to change
    const std::vector<std::pair<const char*, std::vector<std::pair<std::size_t, std::uint8_t>>>> kCases = {
        {"RTP version 1", {{0, 0x40}}},
        {"no 2022-1 extension", {{16, 0}}},
        {"a mask", {{19, 1}}},
        {"N set", {{24, 0x80}}},
        {"Reed-Solomon type", {{24, 8}}},
        {"L 0", {{25, 0}}},
        {"L 21", {{25, 21}}},
        {"D 3", {{26, 3}}},
        {"L x D 20 x 6", {{25, 20}, {26, 6}}},
        {"row offset 2", {{24, 0x40}, {25, 2}}}};
    for (const auto& [what, changes] : kCases)
    {
        auto bad = good;
        for (const auto& [at, value] : changes)
            bad[at] = value;
        CFecDecoder decoder;
        EXPECT_FALSE(decoder.AddFec(bad)) << what;
        EXPECT_EQ(decoder.GetCounters().fecMalformed, 1U) << what;
    }
    CFecDecoder decoder;
    EXPECT_FALSE(decoder.AddFec(std::span(good).first(fec::kOverheadBytes - 1)));
    std::mt19937_64 random(7); // garbage of every length: counted, never a crash
    for (int i = 0; i < 2'000; ++i)
    {
        std::vector<std::uint8_t> junk(random() % 1'600);
        for (auto& b : junk)
            b = static_cast<std::uint8_t>(random());
        decoder.AddFec(junk);
        decoder.AddMedia(junk);
    }
    EXPECT_EQ(decoder.GetCounters().fecReceived, 2'001U);
}
