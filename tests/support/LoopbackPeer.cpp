#include "LoopbackPeer.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>

namespace tstest
{
namespace
{
sockaddr_in Endpoint(std::uint32_t address, std::uint16_t port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(address);
    a.sin_port = htons(port);
    return a;
}
} // namespace

LoopbackPeer::LoopbackPeer(std::uint32_t address, std::uint16_t port)
    : m_fd(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0))
{
    sockaddr_in local = Endpoint(address, port);
    if (bind(m_fd.Get(), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0)
    {
        m_fd.Reset();
        return;
    }
    socklen_t length = sizeof local;
    getsockname(m_fd.Get(), reinterpret_cast<sockaddr*>(&local), &length);
    m_port = ntohs(local.sin_port);
}

void LoopbackPeer::Send(std::uint16_t toPort, const std::uint8_t* data, std::size_t size) const
{
    const sockaddr_in to = Endpoint(kLoopback, toPort);
    sendto(m_fd.Get(), data, size, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
}

void LoopbackPeer::Send(std::uint16_t toPort, const std::vector<std::uint8_t>& bytes) const
{
    Send(toPort, bytes.data(), bytes.size());
}

void LoopbackPeer::Announce(std::uint16_t toPort, const DeviceRecord& record) const
{
    const auto message = CDiscoverProtocol::MakeAnnounce(record);
    Send(toPort, message.data(), message.size());
}

std::vector<std::uint8_t> LoopbackPeer::Receive(int timeoutMs, sockaddr_in* from) const
{
    pollfd pfd{m_fd.Get(), POLLIN, 0};
    if (poll(&pfd, 1, timeoutMs) <= 0)
        return {};
    std::vector<std::uint8_t> buffer(2048);
    sockaddr_in source{};
    socklen_t length = sizeof source;
    const auto got =
        recvfrom(m_fd.Get(), buffer.data(), buffer.size(), 0, reinterpret_cast<sockaddr*>(&source), &length);
    if (from != nullptr)
        *from = source;
    buffer.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    return buffer;
}

std::uint16_t FreePort()
{
    return LoopbackPeer().Port();
}

DeviceRecord TestRecord(std::uint32_t address, std::uint64_t serial)
{
    return CDiscoverProtocol::MakeRecord({2, 0, 0, 0, 0, 1}, {1, 0, 0, 0}, serial, 2, address, "TEST");
}
} // namespace tstest
