// The receiver with SMPTE 2022-1 FEC and a 2022-7 second input, end to end on
// loopback: media and FEC made by CFecEncoder, chosen datagrams withheld
// (orvane-cli record --fec and --second-port: interop ffmpeg-fec-record, orvane-2022-7).
#include "DvbIpRecvTestSupport.h"
#include "FecTestStream.h"
#include "LoopbackStream.h"
#include "engine/CDvbIpRecvThread.h"

#include <gtest/gtest.h>

#include <set>

namespace
{
constexpr std::uint16_t kFirst = 65'400; // the numbering wraps inside the stream
constexpr std::uint64_t kCount = 300;

// The TS bytes of media datagrams 0 .. kCount - 1 without those in @p gone.
std::vector<std::uint8_t> Source(const std::set<std::uint64_t>& gone = {})
{
    std::vector<std::uint8_t> out;
    for (std::uint64_t n = 0; n < kCount; ++n)
        if (gone.count(n) == 0)
        {
            const auto d = tstest::MakeRtpDatagram(n, kFirst);
            out.insert(out.end(), d.begin() + tstest::kRtpHeader, d.end());
        }
    return out;
}

std::vector<fectest::WireDatagram> Wire()
{
    CFecEncoder::Settings s;
    s.columns = 5;
    s.rows = 5;
    s.mode = CFecEncoder::Mode::RowColumn;
    return fectest::Encode(s, kCount, kFirst);
}

// Media to @p port, column FEC to + 2, row FEC to + 4, without the media in @p lost;
// a pause of @p pauseMs after media datagram @p pauseAfter.
void SendWire(const std::vector<fectest::WireDatagram>& wire, std::uint16_t port, const std::set<std::uint64_t>& lost,
              std::uint64_t pauseAfter = kCount, int pauseMs = 0)
{
    loopback::Sender media(port), column(port + 2), row(port + 4);
    std::uint32_t i = 0;
    for (const auto& w : wire)
    {
        if (!w.isFec && lost.count(w.n) != 0)
            continue;
        (!w.isFec ? media : w.stream == fec::Stream::Column ? column : row).Send(w.bytes);
        loopback::Sender::Pace(i++);
        if (!w.isFec && w.n == pauseAfter)
            std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
    }
}

// Starts @p r for RTP with FEC on free ports (its FEC ports and second input may collide: tried again).
bool StartOnFreePorts(CDvbIpRecvThread& r, bool secondInput)
{
    r.SetDiagnostics(nullptr);
    r.SetRtp(true);
    r.SetFec(true);
    for (int attempt = 0; attempt < 10; ++attempt)
    {
        r.SetPort(tstest::FreePort());
        if (secondInput)
            r.SetSecondInput(tstest::FreePort(), {});
        if (r.Start())
            return true;
    }
    return false;
}

std::vector<std::uint8_t> Finish(CDvbIpRecvThread& r)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    return recvtest::Finish(r);
}
} // namespace

TEST(CDvbIpRecvProtection, FecRebuildsEveryRecoverableLossAndOnlyTheRestIsMissing)
{
    const auto wire = Wire();
    const auto fecSent =
        static_cast<std::uint64_t>(std::count_if(wire.begin(), wire.end(), [](const auto& w) { return w.isFec; }));
    // Matrices of 25 (5 x 5): single losses, a row of 5 (columns rebuild it), a
    // column of 5 (rows rebuild it); a 2 x 2 square in matrix 2 is beyond both.
    const std::set<std::uint64_t> recoverable{3, 80, 81, 130, 131, 132, 133, 134, 176, 181, 186, 191, 196, 299 - 20};
    const std::set<std::uint64_t> square{56, 57, 61, 62};
    for (const bool withSquare : {false, true})
    {
        SCOPED_TRACE(withSquare ? "with an unrecoverable square" : "every loss recoverable");
        CDvbIpRecvThread r(8 * 1024 * 1024);
        ASSERT_TRUE(StartOnFreePorts(r, false)) << r.LastError();
        std::set<std::uint64_t> lost = recoverable;
        if (withSquare)
            lost.insert(square.begin(), square.end());
        // Garbage on the column port is counted and changes nothing else.
        constexpr std::uint64_t kGarbage = 3;
        if (!withSquare)
        {
            loopback::Sender column(r.GetPort() + 2);
            for (std::uint64_t g = 0; g < kGarbage; ++g)
                column.Send(std::vector<std::uint8_t>(40 + g, 0x47));
        }
        SendWire(wire, r.GetPort(), lost);
        const auto recorded = Finish(r);
        EXPECT_TRUE(recorded == Source(withSquare ? square : std::set<std::uint64_t>{}));
        const auto c = r.GetCounters();
        EXPECT_TRUE(c.fec);
        EXPECT_EQ(c.fecRecovered, recoverable.size());
        EXPECT_EQ(c.fecUnrecoverable, withSquare ? square.size() : 0u);
        EXPECT_EQ(c.missing, withSquare ? square.size() : 0u);
        EXPECT_EQ(c.fecInvalid, withSquare ? 0u : kGarbage);
        EXPECT_EQ(c.fecPackets, fecSent + c.fecInvalid);
        EXPECT_EQ(c.received, kCount - lost.size());
        EXPECT_EQ(c.late + c.invalid + c.overflowDrops + c.kernelDrops, 0u);
    }
}

TEST(CDvbIpRecvProtection, AGapIsWaitedForAcrossASendersPauseWhileFecMayStillRebuildIt)
{
    // A sender that sends in bursts (ffmpeg -re: a frame's worth at a time)
    // pauses for more than 100 ms; the rest of the lost datagram's groups come after.
    CDvbIpRecvThread r(8 * 1024 * 1024);
    ASSERT_TRUE(StartOnFreePorts(r, false)) << r.LastError();
    SendWire(Wire(), r.GetPort(), {30}, 31, 300);
    EXPECT_TRUE(Finish(r) == Source());
    const auto c = r.GetCounters();
    EXPECT_EQ(c.fecRecovered, 1u);
    EXPECT_EQ(c.missing + c.late + c.duplicates, 0u);
}

TEST(CDvbIpRecvProtection, TwoPathsWithDisjointLossesMergeIntoTheWholeStreamAndFecFromEitherPathFillsTheRest)
{
    CDvbIpRecvThread r(8 * 1024 * 1024);
    ASSERT_TRUE(StartOnFreePorts(r, true)) << r.LastError();
    const std::set<std::uint64_t> lost[2] = {{10, 11, 12, 100, 250, 276}, {50, 51, 150, 151, 152, 153, 154, 200, 276}};
    loopback::Sender path[2] = {loopback::Sender(r.GetPort()), loopback::Sender(r.GetSecondPort())};
    // Row FEC on the first path, column FEC on the second.
    loopback::Sender row(r.GetPort() + 4), column(r.GetSecondPort() + 2);
    constexpr std::uint64_t kTrail = 3; // the second path trails by 3 datagrams
    std::uint32_t i = 0;
    for (const auto& w : Wire())
    {
        if (w.isFec)
            (w.stream == fec::Stream::Row ? row : column).Send(w.bytes);
        else
        {
            if (lost[0].count(w.n) == 0)
                path[0].Send(w.bytes);
            if (w.n >= kTrail && lost[1].count(w.n - kTrail) == 0)
                path[1].Send(tstest::MakeRtpDatagram(w.n - kTrail, kFirst));
            if (w.n == kCount - 1)
                for (std::uint64_t n = kCount - kTrail; n < kCount; ++n)
                    path[1].Send(tstest::MakeRtpDatagram(n, kFirst));
        }
        loopback::Sender::Pace(i++);
    }
    EXPECT_TRUE(Finish(r) == Source());
    const auto c = r.GetCounters();
    ASSERT_TRUE(c.twoPaths);
    for (int p = 0; p < 2; ++p)
    {
        SCOPED_TRACE(p);
        EXPECT_EQ(c.paths[p].received, kCount - lost[p].size());
        EXPECT_EQ(c.paths[p].missing, lost[p].size());
        EXPECT_EQ(c.paths[p].onlyHere, lost[1 - p].size() - 1); // 276 is lost on both
    }
    // FEC may also rebuild what the trailing path was about to bring.
    EXPECT_GE(c.fecRecovered, 1u);
    EXPECT_EQ(c.missing + c.fecUnrecoverable, 0u);
    EXPECT_GE(c.skewMs, 0.0);
}
