#include "LoopbackReceiver.h"

#include "TsPackets.h"
#include "WaitFor.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <stdexcept>
#include <thread>

namespace tstest
{

LoopbackReceiver::LoopbackReceiver(std::uint16_t port) : m_fd(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0))
{
    if (!m_fd.Valid())
        throw std::runtime_error("socket");
    const int size = 64 * 1024 * 1024;
    if (setsockopt(m_fd.Get(), SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size) != 0)
        setsockopt(m_fd.Get(), SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    if (bind(m_fd.Get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
        throw std::runtime_error("bind");
    socklen_t len = sizeof addr;
    getsockname(m_fd.Get(), reinterpret_cast<sockaddr*>(&addr), &len);
    m_port = ntohs(addr.sin_port);
    m_thread.Start("test-rx", ThreadPriority::Normal, [this] { Run(); });
}

LoopbackReceiver::~LoopbackReceiver()
{
    m_stop = true;
    m_thread.Join(std::chrono::seconds(5));
}

void LoopbackReceiver::Run()
{
    std::vector<std::uint8_t> buf(65'536);
    while (!m_stop)
    {
        pollfd p{m_fd.Get(), POLLIN, 0};
        if (poll(&p, 1, 20) <= 0)
            continue;
        const ssize_t n = recv(m_fd.Get(), buf.data(), buf.size(), MSG_DONTWAIT);
        if (n < 0)
            continue;
        std::lock_guard lock(m_lock);
        m_datagrams.emplace_back(buf.begin(), buf.begin() + n);
        m_bytes += static_cast<std::uint64_t>(n);
    }
}

std::vector<std::vector<std::uint8_t>> LoopbackReceiver::Datagrams()
{
    std::lock_guard lock(m_lock);
    return m_datagrams;
}

std::size_t LoopbackReceiver::Count()
{
    std::lock_guard lock(m_lock);
    return m_datagrams.size();
}

std::uint64_t LoopbackReceiver::Bytes()
{
    std::lock_guard lock(m_lock);
    return m_bytes;
}

std::vector<std::uint8_t> LoopbackReceiver::Payload()
{
    std::lock_guard lock(m_lock);
    std::vector<std::uint8_t> all;
    for (const auto& d : m_datagrams)
        all.insert(all.end(), d.begin(), d.end());
    return all;
}

std::vector<std::int64_t> LoopbackReceiver::Packets()
{
    return ClassifyAll(Payload());
}

bool LoopbackReceiver::WaitForBytes(std::uint64_t bytes, std::chrono::milliseconds timeout)
{
    return WaitFor([&] { return Bytes() >= bytes; }, timeout);
}

void LoopbackReceiver::WaitQuiet(std::chrono::milliseconds quiet, std::chrono::milliseconds timeout)
{
    const auto end = std::chrono::steady_clock::now() + timeout;
    std::size_t last = Count();
    auto lastChange = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() < end)
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        const std::size_t now = Count();
        if (now != last)
        {
            last = now;
            lastChange = std::chrono::steady_clock::now();
        }
        else if (std::chrono::steady_clock::now() - lastChange >= quiet)
            return;
    }
}
} // namespace tstest
