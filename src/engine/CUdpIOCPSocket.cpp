#include "engine/CUdpIOCPSocket.h"

#include "common/Ipv4Address.h"

#include <arpa/inet.h>
#include <linux/net_tstamp.h>
#include <linux/sockios.h>
#include <netinet/udp.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <random>

namespace
{
// Send queue asked for: room for a few cycles of 1 Gbit/s (about 95 datagrams
// per millisecond) so that one pacing cycle never finds the queue full on its own.
constexpr int kSendBufferBytes = 4 * 1024 * 1024;
// What the kernel charges a queued datagram beyond its payload (sk_buff and
// headers); used to turn SIOCOUTQ bytes into datagrams.
constexpr std::uint32_t kKernelOverheadBytes = 768;
// Room for one control message carrying a 16-bit segment size or a 64-bit
// departure time, in 64-bit words.
constexpr std::size_t kControlWords = (CMSG_SPACE(sizeof(std::uint64_t)) + 7) / 8;

void PutBe16(std::uint8_t* p, std::uint16_t v)
{
    p[0] = static_cast<std::uint8_t>(v >> 8);
    p[1] = static_cast<std::uint8_t>(v);
}

void PutBe32(std::uint8_t* p, std::uint32_t v)
{
    p[0] = static_cast<std::uint8_t>(v >> 24);
    p[1] = static_cast<std::uint8_t>(v >> 16);
    p[2] = static_cast<std::uint8_t>(v >> 8);
    p[3] = static_cast<std::uint8_t>(v);
}
// One control message of @p size bytes in the header's own control words.
void PutControl(msghdr& mh, std::uint64_t* control, int level, int type, const void* value, std::size_t size)
{
    mh.msg_control = control;
    mh.msg_controllen = CMSG_SPACE(size);
    cmsghdr* cm = CMSG_FIRSTHDR(&mh);
    cm->cmsg_level = level;
    cm->cmsg_type = type;
    cm->cmsg_len = CMSG_LEN(size);
    std::memcpy(CMSG_DATA(cm), value, size);
}
} // namespace

CUdpIOCPSocket::CUdpIOCPSocket()
{
    // RFC 3550 asks for a random SSRC and first sequence number, different for
    // every sender on the network: one draw per object, continued across plays.
    std::random_device rd;
    m_ssrc = rd();
    m_sequence = rd() & 0xFFFFu;
}

CUdpIOCPSocket::~CUdpIOCPSocket()
{
    Close();
}

void CUdpIOCPSocket::SetRtpIdentity(std::uint32_t ssrc, std::uint16_t sequence)
{
    m_ssrc = ssrc;
    m_sequence = sequence;
}

bool CUdpIOCPSocket::Create(std::uint16_t port, const char* address)
{
    CNetAddress destination;
    if (m_socket.Valid())
        return FailCreate(EISCONN);
    if (address == nullptr || !CNetAddress::ParseHost(address, destination, port))
        return FailCreate(EINVAL);
    return Create(destination);
}

bool CUdpIOCPSocket::SetMulticastOptions(int fd, const CNetAddress& destination)
{
    // Without these the kernel sends with hop limit 1 on the default route's interface.
    const int ttl = m_multicastTtl < 1 ? 1 : (m_multicastTtl > 255 ? 255 : m_multicastTtl);
    if (destination.IsIpv4())
    {
        setsockopt(fd, IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof ttl);
        if (m_multicastInterface == 0)
            return true;
        in_addr outgoing{};
        outgoing.s_addr = htonl(m_multicastInterface);
        return setsockopt(fd, IPPROTO_IP, IP_MULTICAST_IF, &outgoing, sizeof outgoing) == 0;
    }
    setsockopt(fd, IPPROTO_IPV6, IPV6_MULTICAST_HOPS, &ttl, sizeof ttl);
    unsigned index = m_multicastIndex;
    if (index == 0 && m_multicastInterface != 0)
    {
        index = CNetAddress::InterfaceIndex(FormatIpv4(m_multicastInterface));
        if (index == 0)
        {
            errno = ENODEV;
            return false;
        }
    }
    if (index == 0)
        index = destination.ScopeId(); // "ff02::1%eth0"
    return index == 0 || setsockopt(fd, IPPROTO_IPV6, IPV6_MULTICAST_IF, &index, sizeof index) == 0;
}

bool CUdpIOCPSocket::Create(const CNetAddress& destination)
{
    if (m_socket.Valid())
        return FailCreate(EISCONN);
    m_first = m_count = 0;
    if (!destination.IsSet())
        return FailCreate(EINVAL);

    CUniqueFd fd(socket(destination.Family(), SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP));
    if (!fd.Valid())
        return FailCreate(errno);
    // SO_SNDBUFFORCE passes the system limit when we may; otherwise the
    // kernel clamps SO_SNDBUF to wmem_max, which is still fine at low rates.
    if (setsockopt(fd.Get(), SOL_SOCKET, SO_SNDBUFFORCE, &kSendBufferBytes, sizeof kSendBufferBytes) != 0)
        setsockopt(fd.Get(), SOL_SOCKET, SO_SNDBUF, &kSendBufferBytes, sizeof kSendBufferBytes);
    // A subnet's broadcast address is a destination like any other (without
    // this the kernel refuses to connect to it with EACCES).
    const int broadcast = 1;
    if (destination.IsIpv4())
        setsockopt(fd.Get(), SOL_SOCKET, SO_BROADCAST, &broadcast, sizeof broadcast);
    if (destination.IsMulticast() && !SetMulticastOptions(fd.Get(), destination))
        return FailCreate(errno);
    // No route, a blackhole or prohibit route, an address the host does not have.
    if (connect(fd.Get(), destination.Sockaddr(), destination.Length()) != 0)
        return FailCreate(errno);

    if (m_slots.Empty())
    {
        if (!m_slots.Allocate(std::size_t{kBatchSlots} * kDataAreaBytes))
            return FailCreate(ENOMEM);
        m_slotLength.assign(kBatchSlots, 0);
        m_slotDeparture.assign(kBatchSlots, 0);
        m_headers.assign(kBatchSlots, mmsghdr{});
        m_iov.assign(kBatchSlots, iovec{});
        m_headerSlots.assign(kBatchSlots, 0);
        m_control.assign(std::size_t{kBatchSlots} * kControlWords, 0);
    }
    m_destination = destination;
    m_socket = std::move(fd);
    m_txtime = false;
    m_createError = 0;
    return true;
}

bool CUdpIOCPSocket::Send(const std::uint8_t* data, std::uint32_t length, bool rtp, std::uint32_t timestamp,
                          std::int64_t departureNs)
{
    if (length == 0)
        return true;
    const std::uint32_t total = length + (rtp ? kRtpHeaderBytes : 0);
    if (!m_socket.Valid() || total > kDataAreaBytes)
        return false;
    if (m_first + m_count >= kBatchSlots)
    {
        if (m_first == 0)
            return false;
        CompactSlots();
    }

    const std::uint32_t slot = m_first + m_count;
    std::uint8_t* out = m_slots.Data() + std::size_t{slot} * kDataAreaBytes;
    m_slotLength[slot] = BuildDatagram(out, data, length, rtp, timestamp);
    m_slotDeparture[slot] = departureNs;
    ++m_count;
    return true;
}

std::uint32_t CUdpIOCPSocket::BuildDatagram(std::uint8_t* out, const std::uint8_t* data, std::uint32_t length, bool rtp,
                                            std::uint32_t timestamp)
{
    if (rtp)
    {
        out[0] = kRtpVersionByte;
        out[1] = kRtpMarkerPtByte;
        PutBe16(out + 2, static_cast<std::uint16_t>(m_sequence));
        PutBe32(out + 4, timestamp);
        PutBe32(out + 8, m_ssrc);
        ++m_sequence;
        std::memcpy(out + kRtpHeaderBytes, data, length);
    }
    else
    {
        std::memcpy(out, data, length);
    }
    const std::uint32_t total = length + (rtp ? kRtpHeaderBytes : 0);
    m_lastLength = total;
    m_headerBytes = rtp ? kRtpHeaderBytes : 0;
    return total;
}

void CUdpIOCPSocket::RecordFailed(std::uint32_t payloadBytes, int error)
{
    m_payloadBytesFailed.fetch_add(payloadBytes, std::memory_order_relaxed);
    m_lastError.store(error, std::memory_order_relaxed);
    // Published last, as in FailQueued.
    m_datagramsFailed.fetch_add(1, std::memory_order_release);
}

bool CUdpIOCPSocket::EnableTxTime(int clockId, std::int64_t offsetNs)
{
    sock_txtime config{};
    config.clockid = clockId;
    config.flags = 0;
    if (!m_socket.Valid() || setsockopt(m_socket.Get(), SOL_SOCKET, SO_TXTIME, &config, sizeof config) != 0)
        return false;
    m_txtime = true;
    m_txtimeOffsetNs = offsetNs;
    return true;
}

void CUdpIOCPSocket::CompactSlots()
{
    // Rare: only after the kernel refused part of a batch and more was queued.
    std::memmove(m_slots.Data(), m_slots.Data() + std::size_t{m_first} * kDataAreaBytes,
                 std::size_t{m_count} * kDataAreaBytes);
    std::memmove(m_slotLength.data(), m_slotLength.data() + m_first, m_count * sizeof(std::uint32_t));
    std::memmove(m_slotDeparture.data(), m_slotDeparture.data() + m_first, m_count * sizeof(std::int64_t));
    m_first = 0;
}

std::uint32_t CUdpIOCPSocket::BuildHeaders()
{
    // One header per run of equal datagrams (the last of a run may be shorter,
    // as segmentation offload allows), or one per datagram without offload.
    std::uint32_t h = 0;
    std::uint32_t i = 0;
    while (i < m_count)
    {
        const std::uint32_t len = m_slotLength[m_first + i];
        std::uint32_t j = i + 1;
        std::uint32_t bytes = len;
        if (m_gso && !m_txtime)
        {
            while (j < m_count && j - i < kMaxGsoSegments && m_slotLength[m_first + j] == len &&
                   bytes + len <= kMaxGsoBytes)
            {
                bytes += len;
                ++j;
            }
            if (j < m_count && j - i < kMaxGsoSegments && m_slotLength[m_first + j] < len &&
                bytes + m_slotLength[m_first + j] <= kMaxGsoBytes)
                ++j;
        }
        for (std::uint32_t k = i; k < j; ++k)
        {
            m_iov[k].iov_base = m_slots.Data() + std::size_t{m_first + k} * kDataAreaBytes;
            m_iov[k].iov_len = m_slotLength[m_first + k];
        }
        msghdr& mh = m_headers[h].msg_hdr;
        mh = msghdr{};
        mh.msg_iov = &m_iov[i];
        mh.msg_iovlen = j - i;
        if (m_txtime)
        {
            // Each datagram leaves at its own time: the qdisc (fq, etf) holds it until then.
            const auto when = static_cast<std::uint64_t>(m_slotDeparture[m_first + i] + m_txtimeOffsetNs);
            PutControl(mh, m_control.data() + std::size_t{h} * kControlWords, SOL_SOCKET, SCM_TXTIME, &when,
                       sizeof when);
        }
        else if (j - i > 1)
        {
            const auto segment = static_cast<std::uint16_t>(len);
            PutControl(mh, m_control.data() + std::size_t{h} * kControlWords, SOL_UDP, UDP_SEGMENT, &segment,
                       sizeof segment);
        }
        m_headerSlots[h] = j - i;
        ++h;
        i = j;
    }
    return h;
}

bool CUdpIOCPSocket::Flush()
{
    if (m_count == 0)
        return true;
    if (!m_socket.Valid())
    {
        FailQueued(0, EBADF);
        return false;
    }

    std::uint32_t doneSlots = 0;
    std::uint32_t headers = BuildHeaders();
    std::uint32_t doneHeaders = 0;
    // Each ECONNREFUSED consumes one ICMP port-unreachable left by an earlier
    // datagram (nobody listens yet); the retry makes progress, so this is bounded.
    std::uint32_t refusedRetries = 0;
    int fallbackError = 0; // the error that switched segmentation offload off in this flush
    while (doneHeaders < headers)
    {
        const int n = sendmmsg(m_socket.Get(), m_headers.data() + doneHeaders, headers - doneHeaders, MSG_DONTWAIT);
        if (n > 0)
        {
            for (int k = 0; k < n; ++k)
                doneSlots += m_headerSlots[doneHeaders + static_cast<std::uint32_t>(k)];
            doneHeaders += static_cast<std::uint32_t>(n);
            continue;
        }
        const int err = errno;
        if (err == EINTR)
            continue;
        if (err == EAGAIN || err == EWOULDBLOCK || err == ENOBUFS)
            break; // queue full: the rest goes first next cycle
        if (err == ECONNREFUSED && ++refusedRetries <= 2 * m_count + 2)
            continue;
        if (m_gso && (err == EINVAL || err == EIO || err == EOPNOTSUPP || err == ENOPROTOOPT))
        {
            // This path cannot segment: send datagram by datagram from now on.
            m_gso = false;
            fallbackError = err;
            doneHeaders = 0;
            m_first += doneSlots;
            m_count -= doneSlots;
            m_datagramsSent.fetch_add(doneSlots, std::memory_order_relaxed);
            doneSlots = 0;
            headers = BuildHeaders();
            continue;
        }
        // Hard error (EPERM from a firewall rule, EINVAL from a blackhole
        // route): the queued datagrams cannot be sent.
        if (fallbackError == err && doneSlots == 0)
            m_gso = true; // single datagrams fail alike: the route refuses, not the offload
        m_datagramsSent.fetch_add(doneSlots, std::memory_order_relaxed);
        FailQueued(doneSlots, err);
        return false;
    }
    m_datagramsSent.fetch_add(doneSlots, std::memory_order_relaxed);
    m_count -= doneSlots;
    m_first = m_count == 0 ? 0 : m_first + doneSlots;
    return true;
}

void CUdpIOCPSocket::FailQueued(std::uint32_t from, int error)
{
    std::uint64_t bytes = 0;
    for (std::uint32_t i = from; i < m_count; ++i)
        bytes += m_slotLength[m_first + i] - m_headerBytes;
    m_payloadBytesFailed.fetch_add(bytes, std::memory_order_relaxed);
    m_lastError.store(error, std::memory_order_relaxed);
    // Published last: whoever sees the count also sees the bytes and the reason.
    m_datagramsFailed.fetch_add(m_count - from, std::memory_order_release);
    m_first = m_count = 0;
}

std::int32_t CUdpIOCPSocket::GetPendingSends() const
{
    std::int32_t pending = static_cast<std::int32_t>(m_count);
    int queued = 0;
    if (m_socket.Valid() && ioctl(m_socket.Get(), SIOCOUTQ, &queued) == 0 && queued > 0)
    {
        const std::uint32_t per = (m_lastLength == 0 ? 1'316u : m_lastLength) + kKernelOverheadBytes;
        pending += static_cast<std::int32_t>((static_cast<std::uint32_t>(queued) + per - 1) / per);
    }
    return pending;
}

void CUdpIOCPSocket::Close()
{
    m_socket.Reset();
    m_first = m_count = 0;
}
