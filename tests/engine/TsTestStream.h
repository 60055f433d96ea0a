#pragma once
//! @file TsTestStream.h
//! Test helpers for the play path: numbered transport-stream packets written to
//! files, and a loopback UDP receiver that collects what a sender sends.
//!
//! Packet n carries PID 0x100, continuity counter n mod 16 and its number in
//! 6-bit digits; no payload byte is 0x47, so only real packet starts look like
//! sync bytes to the sender's resynchronisation.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tstest
{
constexpr std::uint32_t kPacket = 188;
constexpr std::uint16_t kDataPid = 0x100;
constexpr std::uint16_t kNullPid = 0x1FFF;
constexpr std::int64_t kNullIndex = -1;
constexpr std::int64_t kOtherIndex = -2;

inline void FillPacket(std::uint8_t* p, std::uint64_t n)
{
    p[0] = 0x47;
    p[1] = static_cast<std::uint8_t>(kDataPid >> 8);
    p[2] = static_cast<std::uint8_t>(kDataPid & 0xFF);
    p[3] = static_cast<std::uint8_t>(0x10 | (n & 0x0F));
    for (std::uint32_t d = 0; d < 5; ++d)
        p[4 + d] = static_cast<std::uint8_t>((n >> (6 * d)) & 0x3F);
    for (std::uint32_t j = 9; j < kPacket; ++j)
        p[j] = static_cast<std::uint8_t>((n * 7 + j) & 0x3F);
}

inline std::vector<std::uint8_t> MakePackets(std::uint64_t count, std::uint64_t first = 0)
{
    std::vector<std::uint8_t> v(count * kPacket);
    for (std::uint64_t i = 0; i < count; ++i)
        FillPacket(v.data() + i * kPacket, first + i);
    return v;
}

inline void WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

//! The packet's number, kNullIndex for a null packet, kOtherIndex for anything else.
inline std::int64_t Classify(const std::uint8_t* p)
{
    if (p[0] != 0x47)
        return kOtherIndex;
    const std::uint16_t pid = static_cast<std::uint16_t>(((p[1] & 0x1F) << 8) | p[2]);
    if (pid == kNullPid)
        return kNullIndex;
    if (pid != kDataPid)
        return kOtherIndex;
    std::int64_t n = 0;
    for (std::uint32_t d = 0; d < 5; ++d)
        n |= std::int64_t{p[4 + d]} << (6 * d);
    std::uint8_t expect[kPacket];
    FillPacket(expect, static_cast<std::uint64_t>(n));
    return std::equal(expect, expect + kPacket, p) ? n : kOtherIndex;
}

//! Collects the datagrams sent to 127.0.0.1:Port() on its own thread.
class LoopbackReceiver
{
public:
    LoopbackReceiver()
    {
        m_fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        const int size = 64 * 1024 * 1024;
        if (setsockopt(m_fd, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size) != 0)
            setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
        timeval tv{0, 20'000};
        setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        socklen_t len = sizeof a;
        getsockname(m_fd, reinterpret_cast<sockaddr*>(&a), &len);
        m_port = ntohs(a.sin_port);
        m_thread = std::thread([this] { Run(); });
    }
    ~LoopbackReceiver()
    {
        m_stop.store(true);
        m_thread.join();
        close(m_fd);
    }
    LoopbackReceiver(const LoopbackReceiver&) = delete;
    LoopbackReceiver& operator=(const LoopbackReceiver&) = delete;

    std::uint16_t Port() const { return m_port; }
    std::size_t Count()
    {
        std::lock_guard lock(m_mutex);
        return m_datagrams.size();
    }
    //! All payload bytes received so far, in arrival order.
    std::vector<std::uint8_t> Bytes()
    {
        std::lock_guard lock(m_mutex);
        std::vector<std::uint8_t> all;
        for (const auto& d : m_datagrams)
            all.insert(all.end(), d.begin(), d.end());
        return all;
    }
    //! The arrival time of each datagram, in the order of Bytes().
    std::vector<std::chrono::steady_clock::time_point> Arrivals()
    {
        std::lock_guard lock(m_mutex);
        return m_arrivals;
    }
    //! Payload bytes received so far.
    std::uint64_t ByteCount()
    {
        std::lock_guard lock(m_mutex);
        std::uint64_t total = 0;
        for (const auto& d : m_datagrams)
            total += d.size();
        return total;
    }
    //! The packet classes (see Classify) of everything received.
    std::vector<std::int64_t> Packets()
    {
        const auto bytes = Bytes();
        std::vector<std::int64_t> out;
        for (std::size_t i = 0; i + kPacket <= bytes.size(); i += kPacket)
            out.push_back(Classify(bytes.data() + i));
        return out;
    }
    //! Waits until nothing has arrived for @p quiet (at most @p limit).
    void WaitQuiet(std::chrono::milliseconds quiet = std::chrono::milliseconds(100),
                   std::chrono::milliseconds limit = std::chrono::milliseconds(5'000))
    {
        const auto end = std::chrono::steady_clock::now() + limit;
        std::size_t last = Count();
        auto since = std::chrono::steady_clock::now();
        while (std::chrono::steady_clock::now() < end)
        {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            const std::size_t now = Count();
            if (now != last)
            {
                last = now;
                since = std::chrono::steady_clock::now();
            }
            else if (std::chrono::steady_clock::now() - since >= quiet)
                return;
        }
    }

private:
    void Run()
    {
        std::vector<std::uint8_t> buf(2'048);
        while (!m_stop.load())
        {
            const ssize_t n = recv(m_fd, buf.data(), buf.size(), 0);
            if (n <= 0)
                continue;
            const auto at = std::chrono::steady_clock::now();
            std::lock_guard lock(m_mutex);
            m_datagrams.emplace_back(buf.begin(), buf.begin() + n);
            m_arrivals.push_back(at);
        }
    }

    int m_fd = -1;
    std::uint16_t m_port = 0;
    std::atomic<bool> m_stop{false};
    std::mutex m_mutex;
    std::vector<std::vector<std::uint8_t>> m_datagrams;
    std::vector<std::chrono::steady_clock::time_point> m_arrivals;
    std::thread m_thread;
};

//! A directory under the test temp dir, removed with its files at the end.
class TempDir
{
public:
    TempDir()
    {
        std::string templ = "/tmp/orvane-play-XXXXXX";
        if (mkdtemp(templ.data()) != nullptr)
            m_path = templ;
    }
    ~TempDir()
    {
        for (const auto& f : m_files)
            std::remove(f.c_str());
        rmdir(m_path.c_str());
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string File(const std::string& name)
    {
        m_files.push_back(m_path + "/" + name);
        return m_files.back();
    }
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
    std::vector<std::string> m_files;
};
} // namespace tstest
