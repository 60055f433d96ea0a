#include "engine/CUdpIOCPClient.h"

#include "common/CSteadyClock.h"

#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <ctime>

namespace
{
constexpr int kReceiveTimeoutMs = 50;      // how soon the thread sees Close
constexpr useconds_t kGatherUs = 300;      // about 28 datagrams at 1 Gbit/s
constexpr std::int64_t kFinalReadMs = 200; // a 32 MiB queue is read in far less

int OpenedFamily(int fd)
{
    int family = AF_UNSPEC;
    socklen_t length = sizeof family;
    return getsockopt(fd, SOL_SOCKET, SO_DOMAIN, &family, &length) == 0 ? family : AF_UNSPEC;
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

bool CUdpIOCPClient::Join(const Membership& membership, int fd, unsigned index)
{
    const CNetAddress& group = membership.group;
    const bool v6 = group.IsIpv6();
    const int level = v6 ? IPPROTO_IPV6 : IPPROTO_IP;
    if (v6 && index == 0)
        index = group.ScopeId(); // "ff02::1%eth0"
    // Only the joined group's datagrams, not every group another socket joined.
    int off = 0;
    setsockopt(fd, level, v6 ? IPV6_MULTICAST_ALL : IP_MULTICAST_ALL, &off, sizeof off);
    // The kernel takes the group and source with their family's sockaddr (IGMPv3, MLDv2).
    if (membership.source.IsSet())
    {
        group_source_req req{};
        req.gsr_interface = index;
        std::memcpy(&req.gsr_group, &group.Storage(), group.Length());
        std::memcpy(&req.gsr_source, &membership.source.Storage(), membership.source.Length());
        if (setsockopt(fd, level, MCAST_JOIN_SOURCE_GROUP, &req, sizeof req) != 0)
            return Fail("source-specific join of " + group.HostString() + " from " + membership.source.HostString());
        return true;
    }
    group_req req{};
    req.gr_interface = index;
    std::memcpy(&req.gr_group, &group.Storage(), group.Length());
    if (setsockopt(fd, level, MCAST_JOIN_GROUP, &req, sizeof req) != 0)
        return Fail("multicast join of " + group.HostString());
    return true;
}

bool CUdpIOCPClient::OpenSocket(int family)
{
    m_socket.Reset(::socket(family, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP));
    if (!m_socket.Valid())
        return false;
    // Unicast on IPv6 takes IPv4 senders too (as mapped addresses): one
    // socket for both, whatever the system's bindv6only says.
    const int v6only = 0;
    return family != AF_INET6 || setsockopt(m_socket.Get(), IPPROTO_IPV6, IPV6_V6ONLY, &v6only, sizeof v6only) == 0;
}

bool CUdpIOCPClient::Open(std::uint16_t port, const Membership& membership)
{
    Close();
    m_lastError.clear();
    const CNetAddress& group = membership.group;
    const bool multicast = group.IsSet();
    if (multicast && !group.IsMulticast())
    {
        m_lastError = "group address " + group.HostString() + " is not a multicast address";
        return false;
    }
    if (multicast && membership.source.IsSet() && membership.source.Family() != group.Family())
    {
        m_lastError = "source " + membership.source.HostString() + " and group " + group.HostString() +
                      " are not of one family (IPv4, IPv6)";
        return false;
    }
    const unsigned index = CNetAddress::InterfaceIndex(membership.interfaceName);
    if (multicast && !membership.interfaceName.empty() && index == 0)
    {
        errno = ENODEV;
        return Fail("interface " + membership.interfaceName);
    }
    // A group is joined with a socket of its family; unicast listens on both
    // families, or on IPv4 alone where the system has no IPv6.
    if (!OpenSocket(multicast ? group.Family() : AF_INET6) && (multicast || !OpenSocket(AF_INET)))
        return Fail("socket");
    const int fd = m_socket.Get();

    int on = 1;
    if (multicast && setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0)
        return Fail("SO_REUSEADDR");
    int size = m_socketBufferBytes;
    if (setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size) != 0)
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size); // capped by net.core.rmem_max
    setsockopt(fd, SOL_SOCKET, SO_RXQ_OVFL, &on, sizeof on);
    // Without stamps the read time stands in (a coarser delay factor, nothing lost).
    setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
    timeval tv{0, kReceiveTimeoutMs * 1'000};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);

    // Bound to the group, the socket sees only that group's datagrams on the port.
    CNetAddress local = multicast ? group : CNetAddress();
    if (!multicast)
        CNetAddress::ParseHost(OpenedFamily(fd) == AF_INET6 ? "::" : "0.0.0.0", local);
    local.SetPort(port);
    if (local.IsIpv6() && local.ScopeId() == 0 && multicast)
        local.SetScopeId(index); // a link-scope group is bound on its link
    if (::bind(fd, local.Sockaddr(), local.Length()) != 0)
        return Fail("bind to port " + std::to_string(port));
    if (multicast && !Join(membership, fd, index))
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

bool CUdpIOCPClient::Close(std::chrono::milliseconds timeout)
{
    // The thread sees this within its receive time-out, takes what the kernel
    // still holds and ends.
    m_running.store(false);
    if (!m_thread.Join(timeout))
        return false; // it still reads the socket into posted records
    m_socket.Reset();
    m_posted.Clear();
    return true;
}

int CUdpIOCPClient::ReceiveBatch(int fd, mmsghdr* msgs, unsigned count, int flags)
{
    return ::recvmmsg(fd, msgs, count, flags, nullptr);
}

void CUdpIOCPClient::ReportDrops(std::uint32_t total, std::uint32_t& lastDropCount)
{
    // The counter only grows (modulo 2^32); a datagram's copy may be older than
    // a value read from the socket already.
    const auto fresh = static_cast<std::int32_t>(total - lastDropCount);
    if (fresh <= 0)
        return;
    lastDropCount = total;
    OnDropped(static_cast<std::uint32_t>(fresh));
}

void CUdpIOCPClient::PollDrops(int fd, std::uint32_t& lastDropCount)
{
    std::array<std::uint32_t, SK_MEMINFO_VARS> info{};
    socklen_t length = sizeof info;
    if (::getsockopt(fd, SOL_SOCKET, SO_MEMINFO, info.data(), &length) == 0 &&
        length > SK_MEMINFO_DROPS * sizeof(std::uint32_t))
        ReportDrops(info[SK_MEMINFO_DROPS], lastDropCount);
}

void CUdpIOCPClient::ReceiveLoop()
{
    std::array<DvbIpRecvBuffer*, kBatch> slots{};
    std::array<mmsghdr, kBatch> msgs{};
    std::array<iovec, kBatch> iov{};
    // Room for the SO_RXQ_OVFL counter and the receive time stamp of each datagram.
    constexpr std::size_t kControlBytes = CMSG_SPACE(sizeof(std::uint32_t)) + CMSG_SPACE(sizeof(timespec));
    alignas(cmsghdr) std::array<std::array<std::uint8_t, kControlBytes>, kBatch> control{};
    std::uint32_t posted = 0;
    std::uint32_t lastDropCount = 0;
    std::int64_t backoffMs = 0;
    const int fd = m_socket.Get();
    m_receiveErrors.store(0);
    m_lastReceiveError.store(0);

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
            // No free record: the kernel queue holds the datagrams meanwhile,
            // and what it cannot hold is counted now, not at the next datagram.
            PollDrops(fd, lastDropCount);
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
        const int got = ReceiveBatch(fd, msgs.data(), posted, final ? MSG_DONTWAIT : MSG_WAITFORONE);
        if (got <= 0)
        {
            const int error = got < 0 ? errno : 0;
            if (got < 0 && error != EAGAIN && error != EWOULDBLOCK && error != EINTR)
            {
                // A persistent error would spin this real-time thread: pause,
                // longer each time, and count it for the status.
                m_receiveErrors.fetch_add(1, std::memory_order_relaxed);
                m_lastReceiveError.store(error, std::memory_order_relaxed);
                if (final)
                    break;
                backoffMs = std::min(backoffMs == 0 ? 1 : backoffMs * 2, kErrorBackoffMaxMs);
                usleep(static_cast<useconds_t>(backoffMs * 1'000));
                continue;
            }
            // Quiet socket (time-out), or the queue is empty after Close.
            PollDrops(fd, lastDropCount);
            if (final && got < 0 && error != EINTR)
                break;
            continue;
        }
        backoffMs = 0;
        timespec readTime{};
        clock_gettime(CLOCK_REALTIME, &readTime);
        std::uint32_t kept = 0;
        for (std::uint32_t i = 0; i < posted; ++i)
        {
            DvbIpRecvBuffer* record = slots[i];
            if (i >= static_cast<std::uint32_t>(got))
            {
                slots[kept++] = record;
                continue;
            }
            const msghdr& h = msgs[i].msg_hdr;
            timespec stamp = readTime;
            for (cmsghdr* c = CMSG_FIRSTHDR(&h); c != nullptr; c = CMSG_NXTHDR(const_cast<msghdr*>(&h), c))
            {
                if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SO_RXQ_OVFL)
                {
                    std::uint32_t total = 0;
                    std::memcpy(&total, CMSG_DATA(c), sizeof total);
                    ReportDrops(total, lastDropCount);
                }
                else if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS)
                    std::memcpy(&stamp, CMSG_DATA(c), sizeof stamp);
            }
            if ((h.msg_flags & MSG_TRUNC) != 0)
                OnOversized(); // not a datagram of a transport stream; not a kernel loss
            if (msgs[i].msg_len == 0 || (h.msg_flags & MSG_TRUNC) != 0)
            {
                slots[kept++] = record; // empty or oversized: the record receives again
                continue;
            }
            record->m_length = msgs[i].msg_len;
            record->m_arrivalNs = std::int64_t{stamp.tv_sec} * 1'000'000'000 + stamp.tv_nsec;
            m_posted.Remove(record);
            OnReceive(record);
        }
        posted = kept;
        // A small catch means the queue is empty: let a few datagrams gather
        // instead of waking up for each one (the kernel queue holds them safely).
        if (!final && static_cast<std::uint32_t>(got) < kBatch / 4)
            usleep(kGatherUs);
    }
    // Drops after the last datagram read.
    PollDrops(fd, lastDropCount);
}
