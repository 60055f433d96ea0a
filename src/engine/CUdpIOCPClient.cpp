#include "engine/CUdpIOCPClient.h"

#include "common/CSteadyClock.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>

namespace
{
constexpr auto kJoinTimeout = std::chrono::milliseconds(2'000);
constexpr int kReceiveTimeoutMs = 50;      // how soon the thread sees Close
constexpr useconds_t kGatherUs = 300;      // about 28 datagrams at 1 Gbit/s
constexpr std::int64_t kFinalReadMs = 200; // a 32 MiB queue is read in far less

// Interface index of a name ("eth0") or of an address ("192.0.2.2"); 0 when unknown.
unsigned InterfaceIndex(const std::string& name)
{
    if (name.empty())
        return 0;
    if (unsigned index = if_nametoindex(name.c_str()); index != 0)
        return index;
    in_addr wanted{};
    if (inet_pton(AF_INET, name.c_str(), &wanted) != 1)
        return 0;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
        return 0;
    unsigned index = 0;
    for (ifaddrs* a = list; a != nullptr && index == 0; a = a->ifa_next)
    {
        if (a->ifa_addr == nullptr || a->ifa_addr->sa_family != AF_INET)
            continue;
        sockaddr_in sin{};
        std::memcpy(&sin, a->ifa_addr, sizeof sin);
        if (sin.sin_addr.s_addr == wanted.s_addr)
            index = if_nametoindex(a->ifa_name);
    }
    freeifaddrs(list);
    return index;
}

void SetIpv4(sockaddr_storage& storage, std::uint32_t hostOrder)
{
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_addr.s_addr = htonl(hostOrder);
    std::memcpy(&storage, &sin, sizeof sin);
}
} // namespace

CUdpIOCPClient::~CUdpIOCPClient()
{
    Close();
}

bool CUdpIOCPClient::Fail(const std::string& what)
{
    m_lastError = what + ": " + std::strerror(errno);
    m_socket.Reset();
    return false;
}

bool CUdpIOCPClient::Join(const Membership& membership, int fd)
{
    const unsigned index = InterfaceIndex(membership.interfaceName);
    if (!membership.interfaceName.empty() && index == 0)
    {
        errno = ENODEV;
        return Fail("interface " + membership.interfaceName);
    }
    // Only the joined group's datagrams, not every group another socket joined.
    int off = 0;
    setsockopt(fd, IPPROTO_IP, IP_MULTICAST_ALL, &off, sizeof off);
    if (membership.source != 0)
    {
        group_source_req req{};
        req.gsr_interface = index;
        SetIpv4(req.gsr_group, membership.group);
        SetIpv4(req.gsr_source, membership.source);
        if (setsockopt(fd, IPPROTO_IP, MCAST_JOIN_SOURCE_GROUP, &req, sizeof req) != 0)
            return Fail("source-specific join");
        return true;
    }
    group_req req{};
    req.gr_interface = index;
    SetIpv4(req.gr_group, membership.group);
    if (setsockopt(fd, IPPROTO_IP, MCAST_JOIN_GROUP, &req, sizeof req) != 0)
        return Fail("multicast join");
    return true;
}

bool CUdpIOCPClient::Open(std::uint16_t port, const Membership& membership)
{
    Close();
    m_lastError.clear();
    const bool multicast = membership.group != 0;
    if (multicast && (membership.group >> 28) != 0xE)
    {
        errno = EINVAL;
        return Fail("group address is not a multicast address");
    }
    m_socket.Reset(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP));
    const int fd = m_socket.Get();
    if (fd < 0)
        return Fail("socket");

    int on = 1;
    if (multicast && setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0)
        return Fail("SO_REUSEADDR");
    int size = kSocketBufferBytes;
    if (setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size) != 0)
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size); // capped by net.core.rmem_max
    setsockopt(fd, SOL_SOCKET, SO_RXQ_OVFL, &on, sizeof on);
    timeval tv{0, kReceiveTimeoutMs * 1'000};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);

    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    // Bound to the group, the socket sees only that group's datagrams on the port.
    local.sin_addr.s_addr = htonl(multicast ? membership.group : INADDR_ANY);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0)
        return Fail("bind to port " + std::to_string(port));
    if (multicast && !Join(membership, fd))
        return false;

    m_running.store(true);
    if (!m_thread.Start("orvane-udprecv", ThreadPriority::TimeCritical, [this] { ReceiveLoop(); }))
    {
        m_running.store(false);
        errno = EAGAIN;
        return Fail("receive thread");
    }
    return true;
}

void CUdpIOCPClient::Close()
{
    // The thread sees this within its receive time-out, takes what the kernel
    // still holds and ends.
    m_running.store(false);
    m_thread.Join(kJoinTimeout);
    m_socket.Reset();
    m_posted.Clear();
}

void CUdpIOCPClient::ReceiveLoop()
{
    std::array<DvbIpRecvBuffer*, kBatch> slots{};
    std::array<mmsghdr, kBatch> msgs{};
    std::array<iovec, kBatch> iov{};
    // Room for the SO_RXQ_OVFL counter of each datagram.
    alignas(cmsghdr) std::array<std::array<std::uint8_t, CMSG_SPACE(sizeof(std::uint32_t))>, kBatch> control{};
    std::uint32_t posted = 0;
    std::uint32_t lastDropCount = 0;
    const int fd = m_socket.Get();

    // After Close: datagrams already queued belong to the stream; take them
    // without waiting, within a bound.
    bool final = false;
    std::int64_t finalDeadline = 0;
    while (true)
    {
        if (!final && !m_running.load(std::memory_order_relaxed))
        {
            final = true;
            finalDeadline = CSteadyClock::NowNs() + kFinalReadMs * 1'000'000;
        }
        if (final && CSteadyClock::NowNs() > finalDeadline)
            break;
        while (posted < kBatch)
        {
            DvbIpRecvBuffer* record = GetFreeBuffer();
            if (record == nullptr)
                break;
            slots[posted++] = record;
            m_posted.AddTail(record);
        }
        if (posted == 0)
        {
            // No free record: the kernel queue holds the datagrams meanwhile.
            usleep(1'000);
            continue;
        }
        for (std::uint32_t i = 0; i < posted; ++i)
        {
            iov[i] = {slots[i]->m_data, slots[i]->m_capacity};
            msgs[i] = {};
            msgs[i].msg_hdr.msg_iov = &iov[i];
            msgs[i].msg_hdr.msg_iovlen = 1;
            msgs[i].msg_hdr.msg_control = control[i].data();
            msgs[i].msg_hdr.msg_controllen = control[i].size();
        }
        const int got = ::recvmmsg(fd, msgs.data(), posted, final ? MSG_DONTWAIT : MSG_WAITFORONE, nullptr);
        if (got <= 0)
        {
            if (final && got < 0 && errno != EINTR)
                break; // the queue is empty
            continue;  // time-out (EAGAIN) or signal
        }
        std::uint32_t kept = 0;
        std::uint32_t dropped = 0;
        for (std::uint32_t i = 0; i < posted; ++i)
        {
            DvbIpRecvBuffer* record = slots[i];
            if (i >= static_cast<std::uint32_t>(got))
            {
                slots[kept++] = record;
                continue;
            }
            const msghdr& h = msgs[i].msg_hdr;
            for (cmsghdr* c = CMSG_FIRSTHDR(&h); c != nullptr; c = CMSG_NXTHDR(const_cast<msghdr*>(&h), c))
            {
                if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SO_RXQ_OVFL)
                {
                    std::uint32_t total = 0;
                    std::memcpy(&total, CMSG_DATA(c), sizeof total);
                    dropped += total - lastDropCount;
                    lastDropCount = total;
                }
            }
            if ((h.msg_flags & MSG_TRUNC) != 0)
                ++dropped; // larger than a record: not a datagram of this stream
            if (msgs[i].msg_len == 0 || (h.msg_flags & MSG_TRUNC) != 0)
            {
                slots[kept++] = record; // empty or oversized: the record receives again
                continue;
            }
            record->m_sequence = static_cast<std::uint16_t>(m_arrival.fetch_add(1, std::memory_order_relaxed));
            record->m_length = msgs[i].msg_len;
            m_posted.Remove(record);
            OnReceive(record);
        }
        posted = kept;
        if (dropped != 0)
            OnDropped(dropped);
        // A small catch means the queue is empty: let a few datagrams gather
        // instead of waking up for each one (the kernel queue holds them safely).
        if (!final && static_cast<std::uint32_t>(got) < kBatch / 4)
            usleep(kGatherUs);
    }
}
