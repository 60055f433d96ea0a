#pragma once
// Test helpers for the receive side: a loopback UDP sender and datagrams of
// numbered packets (tstest::FillPacket), so that a recording can be checked
// packet by packet.

#include "TsTestStream.h"
#include "engine/CDvbIpRecvThread.h"
#include "support/LoopbackPeer.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <sys/socket.h>

#include <chrono>
#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace loopback
{
constexpr std::uint32_t kPacketBytes = tstest::kPacket;
constexpr std::uint32_t kPacketsPerDatagram = 7;
constexpr std::uint32_t kDatagramBytes = kPacketBytes * kPacketsPerDatagram; // 1,316

//! The payload of datagram @p index: packets 7 * index .. 7 * index + 6.
inline std::vector<std::uint8_t> Payload(std::uint32_t index)
{
    return tstest::MakePackets(kPacketsPerDatagram, std::uint64_t{index} * kPacketsPerDatagram);
}

//! An RTP packet (RFC 3550) around @p payload, with optional CSRCs, a header
//! extension of @p extWords 32-bit words and @p padding bytes of padding.
inline std::vector<std::uint8_t> Rtp(std::uint16_t sequence, const std::vector<std::uint8_t>& payload,
                                     std::uint8_t csrcCount = 0, int extWords = -1, std::uint8_t padding = 0)
{
    std::vector<std::uint8_t> d(12, 0);
    d[0] = static_cast<std::uint8_t>(0x80 | (padding ? 0x20 : 0) | (extWords >= 0 ? 0x10 : 0) | csrcCount);
    d[1] = 0x21;
    d[2] = static_cast<std::uint8_t>(sequence >> 8);
    d[3] = static_cast<std::uint8_t>(sequence);
    d[8] = 0x12;
    for (std::uint8_t i = 0; i < csrcCount; ++i)
        d.insert(d.end(), {0xC0, 0xC1, 0xC2, i});
    if (extWords >= 0)
    {
        d.insert(d.end(), {0xBE, 0xDE, 0, static_cast<std::uint8_t>(extWords)});
        d.insert(d.end(), static_cast<std::size_t>(extWords) * 4, 0xEE);
    }
    d.insert(d.end(), payload.begin(), payload.end());
    if (padding)
    {
        d.insert(d.end(), padding - 1u, 0);
        d.push_back(padding);
    }
    return d;
}

//! Sends to one loopback port, with a socket buffer that holds an unpaced burst.
class Sender
{
public:
    explicit Sender(std::uint16_t port) : m_port(port)
    {
        int size = 8 << 20;
        ::setsockopt(m_peer.Fd(), SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
    }
    void Send(const std::vector<std::uint8_t>& d) const { m_peer.Send(m_port, d); }
    //! Sends plain UDP datagrams @p first .. @p first + count - 1, pausing now
    //! and then so that the loopback queue never overflows.
    void SendUdp(std::uint32_t first, std::uint32_t count) const
    {
        for (std::uint32_t i = 0; i < count; ++i)
        {
            Send(Payload(first + i));
            Pace(i);
        }
    }
    static void Pace(std::uint32_t i)
    {
        if (i % 200 == 199)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }

private:
    tstest::LoopbackPeer m_peer;
    std::uint16_t m_port;
};

//! The numbers of the packets in @p bytes (tstest::Classify).
inline std::vector<std::int64_t> Serials(const std::vector<std::uint8_t>& bytes)
{
    return tstest::ClassifyAll(bytes);
}

//! The serials of datagrams @p first .. @p first + count - 1 in order.
inline std::vector<std::int64_t> Expected(std::uint32_t first, std::uint32_t count)
{
    return tstest::Numbers(std::int64_t{first} * kPacketsPerDatagram, std::int64_t{count} * kPacketsPerDatagram);
}

//! Waits until @p receiver has passed @p n datagrams on to its FIFO.
template<typename Receiver>
bool WaitDatagrams(Receiver& receiver, std::uint64_t n, std::chrono::milliseconds limit = std::chrono::seconds(5))
{
    return tstest::WaitFor([&] { return receiver.GetCounters().datagrams >= n; }, limit);
}

using tstest::FreePort;
using tstest::ReadFile;

//! The kernel's drop count of the UDP socket bound to local @p port (the last
//! column of /proc/net/udp, or udp6 for a dual-stack socket); -1 when no such socket is found.
inline std::int64_t KernelDrops(std::uint16_t port)
{
    for (const char* name : {"/proc/net/udp", "/proc/net/udp6"})
    {
        std::ifstream table(name);
        std::string line;
        std::getline(table, line); // header
        while (std::getline(table, line))
        {
            std::istringstream fields(line);
            std::string slot;
            std::string local;
            fields >> slot >> local;
            const auto colon = local.find(':');
            if (colon == std::string::npos || std::stoul(local.substr(colon + 1), nullptr, 16) != port)
                continue;
            std::string field;
            std::string last;
            while (fields >> field)
                last = field;
            return std::stoll(last);
        }
    }
    return -1;
}

//! A receiver on a loopback port free a moment ago, and a fresh folder: the record suites' set-up.
class ReceiverTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_FALSE(m_dir.empty());
        m_receiver.SetPort(m_port);
        m_receiver.SetDiagnostics(nullptr);
    }

    tstest::TempDir m_temp;
    const std::string m_dir = m_temp.Path();
    std::uint16_t m_port = FreePort();
    CDvbIpRecvThread m_receiver;
};
} // namespace loopback
