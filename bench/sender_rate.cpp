// orvane-bench-sender: how fast and how exactly CNetworkSender paces a stream
// fed from memory, received on loopback.
//
//   orvane-bench-sender [--mbps 1000] [--seconds 10] [--rtp] [--no-gso] [--packet-size 188]
//
// A producer thread writes a constant-rate pattern (one PID, continuity
// counters running) through WriteData as the file reader does; a receiver
// thread takes the datagrams with recvmmsg and checks the counters. Prints one
// key=value line: the received rate and its error against the set rate (after
// a 1 s skip), lost packets, whether the underflow/busy/timer flags ever came
// on, and the CPU time of the play-out thread per second of stream.

#include "common/CSteadyClock.h"
#include "common/CThread.h"
#include "common/CUniqueFd.h"
#include "engine/CNetworkSender.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace
{
struct Options
{
    double mbps = 1'000;
    double seconds = 10;
    bool rtp = false;
    std::uint32_t packetSize = 188;
    bool gso = true;
};

//! CPU nanoseconds of this process's thread named @p name (0 when not found).
std::uint64_t ThreadCpuNs(const char* name)
{
    std::uint64_t total = 0;
    DIR* dir = opendir("/proc/self/task");
    if (dir == nullptr)
        return 0;
    while (dirent* e = readdir(dir))
    {
        if (e->d_name[0] == '.')
            continue;
        const std::string base = std::string("/proc/self/task/") + e->d_name;
        std::ifstream comm(base + "/comm");
        std::string n;
        std::getline(comm, n);
        if (n != name)
            continue;
        std::ifstream sched(base + "/schedstat");
        std::uint64_t ns = 0;
        sched >> ns;
        total += ns;
    }
    closedir(dir);
    return total;
}

struct RxResult
{
    std::atomic<std::uint64_t> bytes{0};
    std::atomic<std::uint64_t> lost{0};
    std::int64_t firstNs = 0;
    std::int64_t skipNs = 0;
    std::uint64_t bytesAtSkip = 0;
    std::int64_t lastNs = 0;
    // Least squares of bytes received against arrival time after the skip:
    // the slope is the rate, free of the jitter of the first and last arrival.
    double n = 0, st = 0, sb = 0, stt = 0, stb = 0;
    void Add(double t, double b)
    {
        n += 1;
        st += t;
        sb += b;
        stt += t * t;
        stb += t * b;
    }
    double Slope() const { return n < 2 ? 0 : (n * stb - st * sb) / (n * stt - st * st); }
};

void Receive(int fd, const Options& opt, RxResult& r, const std::atomic<bool>& stop)
{
    constexpr int kBatch = 256;
    std::vector<std::uint8_t> buf(kBatch * 2'048);
    std::vector<mmsghdr> msgs(kBatch);
    std::vector<iovec> iov(kBatch);
    for (int i = 0; i < kBatch; ++i)
    {
        iov[i] = {buf.data() + i * 2'048, 2'048};
        msgs[i].msg_hdr = msghdr{};
        msgs[i].msg_hdr.msg_iov = &iov[i];
        msgs[i].msg_hdr.msg_iovlen = 1;
    }
    int lastCc = -1;
    const std::uint32_t header = opt.rtp ? 12 : 0;
    while (!stop.load())
    {
        // recvmmsg's own time-out is only checked between datagrams: the
        // socket's receive time-out bounds the wait instead.
        const int n = recvmmsg(fd, msgs.data(), kBatch, MSG_WAITFORONE, nullptr);
        if (n <= 0)
            continue;
        const std::int64_t now = CSteadyClock::NowNs();
        if (r.firstNs == 0)
            r.firstNs = now;
        std::uint64_t got = 0;
        for (int i = 0; i < n; ++i)
        {
            const std::uint32_t len = msgs[i].msg_len;
            const std::uint8_t* p = buf.data() + i * 2'048 + header;
            for (std::uint32_t off = 0; off + opt.packetSize <= len - header; off += opt.packetSize)
            {
                const int cc = p[off + 3] & 0x0F;
                if (lastCc >= 0 && cc != ((lastCc + 1) & 0x0F))
                    r.lost.fetch_add(static_cast<std::uint64_t>((cc - lastCc - 1) & 0x0F) + 0);
                lastCc = cc;
            }
            got += len - header;
        }
        r.bytes.fetch_add(got);
        if (r.skipNs == 0 && now - r.firstNs >= 1'000'000'000)
        {
            r.skipNs = now;
            r.bytesAtSkip = r.bytes.load();
        }
        r.lastNs = now;
        if (r.skipNs != 0)
            r.Add(static_cast<double>(now - r.skipNs) / 1e9, static_cast<double>(r.bytes.load() - r.bytesAtSkip));
    }
}
} // namespace

int main(int argc, char** argv)
{
    Options opt;
    for (int i = 1; i < argc; ++i)
    {
        const std::string a = argv[i];
        auto next = [&] { return i + 1 < argc ? argv[++i] : "0"; };
        if (a == "--mbps")
            opt.mbps = std::atof(next());
        else if (a == "--seconds")
            opt.seconds = std::atof(next());
        else if (a == "--rtp")
            opt.rtp = true;
        else if (a == "--no-gso")
            opt.gso = false;
        else if (a == "--packet-size")
            opt.packetSize = static_cast<std::uint32_t>(std::atoi(next()));
        else
        {
            std::fprintf(stderr, "usage: %s [--mbps N] [--seconds S] [--rtp] [--no-gso] [--packet-size 188|204]\n",
                         argv[0]);
            return 2;
        }
    }
    const auto bitRate = static_cast<std::uint32_t>(opt.mbps * 1e6);

    CUniqueFd rxFd(socket(AF_INET, SOCK_DGRAM, 0));
    const int rcvbuf = 256 * 1024 * 1024;
    if (setsockopt(rxFd.Get(), SOL_SOCKET, SO_RCVBUFFORCE, &rcvbuf, sizeof rcvbuf) != 0)
        setsockopt(rxFd.Get(), SOL_SOCKET, SO_RCVBUF, &rcvbuf, sizeof rcvbuf);
    const timeval rcvTimeout{0, 50'000};
    setsockopt(rxFd.Get(), SOL_SOCKET, SO_RCVTIMEO, &rcvTimeout, sizeof rcvTimeout);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(rxFd.Get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t alen = sizeof addr;
    getsockname(rxFd.Get(), reinterpret_cast<sockaddr*>(&addr), &alen);

    // 16 x 7 x 1,000 packets: the counters and the datagrams line up at the wrap.
    const std::uint32_t ps = opt.packetSize;
    const std::uint32_t packets = 16 * 7 * 1'000;
    std::vector<std::uint8_t> pattern(std::size_t{packets} * ps, 0xFF);
    for (std::uint32_t i = 0; i < packets; ++i)
    {
        std::uint8_t* p = pattern.data() + std::size_t{i} * ps;
        p[0] = 0x47;
        p[1] = 0x01;
        p[2] = 0x00;
        p[3] = static_cast<std::uint8_t>(0x10 | (i & 0x0F));
    }

    CNetworkSender sender;
    sender.SetRate(bitRate, ps);
    sender.SetSegmentationOffload(opt.gso);
    sender.SetDestination(0x7F000001, ntohs(addr.sin_port), opt.rtp);
    sender.Open();

    std::atomic<bool> stop{false};
    RxResult rx;
    std::thread receiver([&] { Receive(rxFd.Get(), opt, rx, stop); });
    std::thread producer([&] {
        std::vector<std::uint8_t> chunk(ps + 1'048'576 / ps * ps);
        std::size_t pos = 0;
        const std::size_t n = chunk.size() - ps;
        while (!stop.load())
        {
            const std::size_t first = std::min(n, pattern.size() - pos);
            std::memcpy(chunk.data() + ps, pattern.data() + pos, first);
            std::memcpy(chunk.data() + ps + first, pattern.data(), n - first);
            while (!stop.load() && !sender.WriteData(chunk.data() + ps, static_cast<std::uint32_t>(n)))
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            pos = (pos + n) % pattern.size();
        }
    });

    // Wait for the prefill, then run the stream for the time asked.
    while (!sender.IsPrefilled())
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const std::uint64_t cpu0 = ThreadCpuNs("orvane-playout");
    const std::int64_t t0 = CSteadyClock::NowNs();
    std::uint32_t flagsSeen = 0;
    std::uint64_t flagSamples = 0;
    std::uint64_t underflowSamples = 0;
    while (CSteadyClock::NowNs() - t0 < static_cast<std::int64_t>(opt.seconds * 1e9))
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        const std::uint32_t f = sender.GetStatusFlags();
        flagsSeen |= f;
        ++flagSamples;
        underflowSamples += (f & CNetworkSender::kStatusUnderflow) != 0;
    }
    const std::uint64_t cpu1 = ThreadCpuNs("orvane-playout");
    const double streamSeconds = static_cast<double>(CSteadyClock::NowNs() - t0) / 1e9;
    stop.store(true);
    producer.join();
    sender.Stop();
    receiver.join();

    const double rate = rx.Slope() * 8;
    const double errPct = (rate - bitRate) / bitRate * 100;
    std::printf("mode=%s%s packet_size=%u set_mbps=%.1f rx_mbps=%.3f rate_err_pct=%.4f lost_packets=%" PRIu64
                " underflow_seen=%d underflow_samples=%" PRIu64 "/%" PRIu64
                " busy_seen=%d timer_seen=%d playout_cpu_s_per_s=%.4f\n",
                opt.rtp ? "rtp" : "udp", opt.gso ? "" : "-nogso", ps, opt.mbps, rate / 1e6, errPct, rx.lost.load(),
                (flagsSeen & CNetworkSender::kStatusUnderflow) != 0, underflowSamples, flagSamples,
                (flagsSeen & CNetworkSender::kStatusBusy) != 0, (flagsSeen & CNetworkSender::kStatusTimer) != 0,
                static_cast<double>(cpu1 - cpu0) / 1e9 / streamSeconds);
    return 0;
}
