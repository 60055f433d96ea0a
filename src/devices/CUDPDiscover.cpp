#include "devices/CUDPDiscover.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <array>

CUDPDiscover::CUDPDiscover() : CUDPDiscover(INADDR_ANY) {}

CUDPDiscover::CUDPDiscover(std::uint32_t localAddress, CSteadyClock::NowFn now) : m_now(std::move(now))
{
    m_targets.push_back(CDiscoverProtocol::kBroadcastAddress);
    m_devices.reserve(kMaxDevices);
    Open(localAddress);
    if (m_socket.Valid() && !m_thread.Start("orvane-discover", ThreadPriority::Normal, [this] { ReceiveThread(); }))
        m_socket.Reset();
}

CUDPDiscover::~CUDPDiscover()
{
    m_stop.store(true, std::memory_order_release);
    // The thread polls with kPollInterval, so it sees the flag well within the time-out.
    m_thread.Join(std::chrono::milliseconds(2'000));
}

void CUDPDiscover::Open(std::uint32_t localAddress)
{
    CUniqueFd fd(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!fd.Valid())
        return;
    const int on = 1;
    setsockopt(fd.Get(), SOL_SOCKET, SO_BROADCAST, &on, sizeof(on));
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(localAddress);
    local.sin_port = 0;
    if (bind(fd.Get(), reinterpret_cast<const sockaddr*>(&local), sizeof(local)) != 0)
        return;
    socklen_t length = sizeof(local);
    if (getsockname(fd.Get(), reinterpret_cast<sockaddr*>(&local), &length) != 0)
        return;
    m_localPort = ntohs(local.sin_port);
    m_socket = std::move(fd);
}

void CUDPDiscover::SetTargets(const std::vector<std::uint32_t>& addresses, std::uint16_t port)
{
    std::lock_guard lock(m_targetLock);
    m_targets = addresses.empty() ? std::vector<std::uint32_t>{CDiscoverProtocol::kBroadcastAddress} : addresses;
    m_targetPort = port;
}

std::vector<std::uint32_t> CUDPDiscover::GetTargets() const
{
    std::lock_guard lock(m_targetLock);
    return m_targets;
}

bool CUDPDiscover::SendDiscoverPacket()
{
    if (!m_socket.Valid())
        return false;
    std::vector<std::uint32_t> targets;
    std::uint16_t port = 0;
    {
        std::lock_guard lock(m_targetLock);
        targets = m_targets;
        port = m_targetPort;
    }
    const auto header = CDiscoverProtocol::MakeHeader(CDiscoverProtocol::kTypeDiscover);
    bool allSent = true;
    for (const auto address : targets)
    {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        to.sin_addr.s_addr = htonl(address);
        // Non-blocking: the window thread calls this from its timer and must not wait.
        const auto sent = sendto(m_socket.Get(), header.data(), header.size(), MSG_DONTWAIT,
                                 reinterpret_cast<const sockaddr*>(&to), sizeof(to));
        if (sent == static_cast<ssize_t>(header.size()))
            m_requestsSent.fetch_add(1, std::memory_order_relaxed);
        else
        {
            m_sendErrors.fetch_add(1, std::memory_order_relaxed);
            allSent = false;
        }
    }
    return allSent;
}

std::vector<DeviceRecord> CUDPDiscover::GetDevices() const
{
    const auto nowNs = m_now();
    const auto expiryNs = std::chrono::duration_cast<std::chrono::nanoseconds>(kExpiry).count();
    std::vector<DeviceRecord> devices;
    std::lock_guard lock(m_listLock);
    devices.reserve(m_devices.size());
    for (const auto& device : m_devices)
        if (nowNs - device.lastSeenNs < expiryNs)
            devices.push_back(device.record);
    return devices;
}

CUDPDiscover::Counters CUDPDiscover::GetCounters() const
{
    Counters c;
    c.requestsSent = m_requestsSent.load(std::memory_order_relaxed);
    c.sendErrors = m_sendErrors.load(std::memory_order_relaxed);
    c.announcements = m_announcements.load(std::memory_order_relaxed);
    c.ignoredShort = m_ignoredShort.load(std::memory_order_relaxed);
    c.ignoredOversized = m_ignoredOversized.load(std::memory_order_relaxed);
    c.ignoredForeign = m_ignoredForeign.load(std::memory_order_relaxed);
    c.ignoredAddress = m_ignoredAddress.load(std::memory_order_relaxed);
    c.droppedListFull = m_droppedListFull.load(std::memory_order_relaxed);
    c.expired = m_expired.load(std::memory_order_relaxed);
    return c;
}

void CUDPDiscover::ReceiveThread()
{
    // One byte more than the largest valid message, so that an oversized one shows as such.
    std::array<std::uint8_t, CDiscoverProtocol::kAnnounceBytes + 1> buffer{};
    const int pollMs = static_cast<int>(kPollInterval.count());
    while (!m_stop.load(std::memory_order_acquire))
    {
        pollfd pfd{m_socket.Get(), POLLIN, 0};
        const int ready = poll(&pfd, 1, pollMs);
        Expire(m_now());
        if (ready <= 0)
            continue;
        for (int i = 0; i < kMaxDatagramsPerWake && !m_stop.load(std::memory_order_acquire); ++i)
        {
            sockaddr_in from{};
            socklen_t fromLength = sizeof(from);
            // MSG_TRUNC: the result is the datagram's real length even when it did not fit.
            const auto received = recvfrom(m_socket.Get(), buffer.data(), buffer.size(), MSG_DONTWAIT | MSG_TRUNC,
                                           reinterpret_cast<sockaddr*>(&from), &fromLength);
            if (received < 0)
                break;
            const auto length = static_cast<std::size_t>(received);
            DeviceRecord record{};
            const auto verdict = CDiscoverProtocol::Parse(buffer.data(), std::min(length, buffer.size()), &record);
            switch (verdict)
            {
            case CDiscoverProtocol::Verdict::kAnnounce:
                Accept(record, ntohl(from.sin_addr.s_addr));
                break;
            case CDiscoverProtocol::Verdict::kShort:
                m_ignoredShort.fetch_add(1, std::memory_order_relaxed);
                break;
            case CDiscoverProtocol::Verdict::kOversized:
                m_ignoredOversized.fetch_add(1, std::memory_order_relaxed);
                break;
            default: // foreign, and requests that only devices answer
                m_ignoredForeign.fetch_add(1, std::memory_order_relaxed);
                break;
            }
        }
    }
}

void CUDPDiscover::Accept(const DeviceRecord& record, std::uint32_t sourceAddress)
{
    const auto address = CDiscoverProtocol::GetAddress(record);
    // A device speaks for itself only: the dialog opens and resets the listed
    // address, so it must be the one that answered.
    if (!CDiscoverProtocol::IsUsableDeviceAddress(address) || address != sourceAddress)
    {
        m_ignoredAddress.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    const auto nowNs = m_now();
    std::lock_guard lock(m_listLock);
    const auto it = std::find_if(m_devices.begin(), m_devices.end(), [address](const Device& device) {
        return CDiscoverProtocol::GetAddress(device.record) == address;
    });
    if (it != m_devices.end())
    {
        it->record = record;
        it->lastSeenNs = nowNs;
    }
    else if (m_devices.size() < kMaxDevices)
        m_devices.push_back({record, nowNs});
    else
    {
        m_droppedListFull.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    m_announcements.fetch_add(1, std::memory_order_relaxed);
}

void CUDPDiscover::Expire(std::int64_t nowNs)
{
    const auto expiryNs = std::chrono::duration_cast<std::chrono::nanoseconds>(kExpiry).count();
    std::lock_guard lock(m_listLock);
    const auto before = m_devices.size();
    std::erase_if(m_devices, [&](const Device& device) { return nowNs - device.lastSeenNs >= expiryNs; });
    m_expired.fetch_add(before - m_devices.size(), std::memory_order_relaxed);
}
