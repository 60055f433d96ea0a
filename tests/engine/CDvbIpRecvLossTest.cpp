// Loss the receiver must never hide: gap fillers found behind a backlog, and a
// datagram whose number was already given up counted as loss when it comes.
#include "DvbIpRecvTestSupport.h"
#include "LoopbackStream.h"
#include "engine/DvbIpRecvBufferPool.h"
#include "support/WaitFor.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <thread>

using namespace loopback;

TEST(DvbIpRecvLoss, GapFillersAreFoundBehindABacklogHoweverManyAndFarAhead)
{
    // A record worker that fell behind: 3,000 datagrams wait, every 30th was lost
    // and rebuilt late (fillers put aside, the first one's the oldest).
    DvbIpRecvBufferPool pool(4'000);
    ASSERT_TRUE(pool.Allocate());
    const auto put = [&pool](std::uint32_t sequence, bool filler) {
        DvbIpRecvBuffer* r = pool.GetFree();
        r->m_sequence = sequence;
        r->m_ssrc = 0;
        r->m_passes = 0;
        filler ? pool.PutReadyFront(r) : pool.PutReady(r);
    };
    for (std::uint32_t s = 0; s < 3'000; ++s)
        if (s % 30 != 0)
            put(s, false);
    for (std::uint32_t s = 0; s < 3'000; s += 30)
        put(s, true);
    std::uint16_t expected = 0;
    DvbIpRecvBufferPool::Search search;
    while (DvbIpRecvBuffer* r = pool.TakeNext(expected, 0, search))
    {
        ASSERT_EQ(r->m_sequence, expected);
        ++expected;
        pool.PutFree(r);
    }
    EXPECT_EQ(expected, 3'000) << "no filler taken for another numbering, none out of reach";
    EXPECT_EQ(search.strayDropped + search.lateDropped, 0u);
}

TEST(DvbIpRecvLoss, ANumberGivenUpIsALossEvenWhenItsDatagramComesLaterAndGapLinesAreFew)
{
    CDvbIpRecvThread r(8 * 1024 * 1024);
    std::FILE* diagnostics = std::tmpfile();
    ASSERT_NE(diagnostics, nullptr);
    r.SetDiagnostics(diagnostics);
    r.SetRtp(true);
    r.SetPort(FreePort());
    ASSERT_TRUE(r.Start()) << r.LastError();
    Sender s(r.GetPort());
    const auto send = [&s](std::uint32_t first, std::uint32_t end) {
        for (std::uint32_t i = first; i < end; ++i)
            if (i != 50 && i != 60 && i != 70 && i != 100)
            {
                s.Send(Rtp(static_cast<std::uint16_t>(i), Payload(i)));
                Sender::Pace(i);
            }
    };
    send(0, 121);
    // The stream pauses: the four gaps are given up, everything up to 120 written.
    ASSERT_TRUE(tstest::WaitFor([&r] { return r.GetCounters().datagrams == 117; }, std::chrono::seconds(5)));
    EXPECT_EQ(r.GetCounters().missing, 4u);
    EXPECT_NE(r.GetStatus() & CDvbIpRecvThread::kStatusOverflow, 0u) << "a gap is a loss at once";
    EXPECT_EQ(r.GetStatus() & CDvbIpRecvThread::kStatusOverflow, 0u) << "shown once";
    s.Send(Rtp(100, Payload(100))); // too late: its number was given up
    s.Send(Rtp(110, Payload(110))); // a duplicate
    send(121, 200);
    std::vector<std::int64_t> written = Expected(0, 200);
    for (std::int64_t gone : {100, 70, 60, 50})
        written.erase(written.begin() + gone * kPacketsPerDatagram, written.begin() + (gone + 1) * kPacketsPerDatagram);
    EXPECT_EQ(Serials(recvtest::Finish(r)), written);
    const auto c = r.GetCounters();
    EXPECT_EQ(c.missing, 4u);
    EXPECT_EQ(c.tooLate, 1u);
    EXPECT_EQ(c.late, 1u) << "only the duplicate";
    EXPECT_NE(r.GetStatus() & CDvbIpRecvThread::kStatusOverflow, 0u) << "the late arrival latched the loss again";

    // Four jumps within about a second: at most two lines, the others counted.
    std::rewind(diagnostics);
    char line[160];
    int lines = 0;
    unsigned long long held = 0;
    while (std::fgets(line, sizeof line, diagnostics) != nullptr)
    {
        const std::string text(line);
        lines += text.rfind("recv rtp Seq ", 0) == 0 ? 1 : 0;
        if (text.find("more jumps not shown") != std::string::npos)
            held += std::stoull(text.substr(text.find_last_of("(:") + 1));
    }
    std::fclose(diagnostics);
    EXPECT_TRUE(lines == 1 || lines == 2) << lines;
    EXPECT_EQ(lines + static_cast<int>(held), 4);
}

TEST(DvbIpRecvLoss, ARunOfDatagramsTheKernelDroppedIsMissingNotASenderRestart)
{
    // Nobody reads: FIFO, pool and a tiny kernel queue fill, the rest of the burst
    // (far more than a numbering jump) is dropped by the kernel.
    CDvbIpRecvThread r(20 * kDatagramBytes, 30);
    r.SetDiagnostics(nullptr);
    r.SetRtp(true);
    r.SetPort(FreePort());
    r.SetSocketBufferBytes(16 * 1024);
    ASSERT_TRUE(r.Start()) << r.LastError();
    constexpr std::uint32_t kBurst = 3'000, kTail = 200;
    Sender s(r.GetPort());
    for (std::uint32_t i = 0; i < kBurst; ++i)
        s.Send(Rtp(static_cast<std::uint16_t>(i), Payload(i)));
    ASSERT_TRUE(tstest::WaitFor([&r] { return KernelDrops(r.GetPort()) > 0; }, std::chrono::seconds(3)));
    std::thread tail([&s] {
        for (std::uint32_t i = kBurst; i < kBurst + kTail; ++i)
        {
            s.Send(Rtp(static_cast<std::uint16_t>(i), Payload(i)));
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    std::vector<std::uint8_t> all, chunk(20 * kDatagramBytes);
    for (int idle = 0; idle < 300; ++idle, std::this_thread::sleep_for(std::chrono::milliseconds(1)))
    {
        std::uint32_t got = 0;
        ASSERT_TRUE(r.ReadAvailable(chunk.data(), static_cast<std::uint32_t>(chunk.size()), got));
        all.insert(all.end(), chunk.begin(), chunk.begin() + got);
        idle = got > 0 ? 0 : idle;
    }
    tail.join();
    const auto written = all.size() / kDatagramBytes;
    ASSERT_GT(written, 0u);
    // The kernel may drop the last few too: nothing comes after them to tell.
    const auto last = static_cast<std::uint64_t>(Serials(all).back()) / kPacketsPerDatagram;
    r.Stop();
    const auto c = r.GetCounters();
    EXPECT_GT(c.kernelDrops, static_cast<std::uint64_t>(DvbIpRecvBufferPool::kNearSpan));
    EXPECT_EQ(c.restarts, 0u) << "the same numbering went on";
    EXPECT_GE(last, kBurst);
    EXPECT_EQ(c.missing + written, last + 1) << "every number up to the last written or missing";
}
