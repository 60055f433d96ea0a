#include "engine/CUdpIOCPSocket.h"

#include <arpa/inet.h>
#include <linux/sockios.h>
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
    if (m_socket.Valid())
        return false;
    m_first = m_count = 0;

    sockaddr_in dest{};
    dest.sin_family = AF_INET;
    dest.sin_port = htons(port);
    if (address == nullptr || inet_pton(AF_INET, address, &dest.sin_addr) != 1)
        return false;

    CUniqueFd fd(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP));
    if (!fd.Valid())
        return false;
    // SO_SNDBUFFORCE passes the system limit when we may; otherwise the
    // kernel clamps SO_SNDBUF to wmem_max, which is still fine at low rates.
    if (setsockopt(fd.Get(), SOL_SOCKET, SO_SNDBUFFORCE, &kSendBufferBytes, sizeof kSendBufferBytes) != 0)
        setsockopt(fd.Get(), SOL_SOCKET, SO_SNDBUF, &kSendBufferBytes, sizeof kSendBufferBytes);
    if (connect(fd.Get(), reinterpret_cast<const sockaddr*>(&dest), sizeof dest) != 0)
        return false;

    if (m_slots.Empty())
    {
        if (!m_slots.Allocate(std::size_t{kBatchSlots} * kDataAreaBytes))
            return false;
        m_slotLength.assign(kBatchSlots, 0);
        m_headers.assign(kBatchSlots, mmsghdr{});
        m_iov.assign(kBatchSlots, iovec{});
    }
    m_destination = dest;
    m_socket = std::move(fd);
    return true;
}

bool CUdpIOCPSocket::Send(const std::uint8_t* data, std::uint32_t length, bool rtp, std::uint32_t timestamp)
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
    m_slotLength[slot] = total;
    m_lastLength = total;
    ++m_count;
    return true;
}

void CUdpIOCPSocket::CompactSlots()
{
    // Rare: only after the kernel refused part of a batch and more was queued.
    std::memmove(m_slots.Data(), m_slots.Data() + std::size_t{m_first} * kDataAreaBytes,
                 std::size_t{m_count} * kDataAreaBytes);
    std::memmove(m_slotLength.data(), m_slotLength.data() + m_first, m_count * sizeof(std::uint32_t));
    m_first = 0;
}

bool CUdpIOCPSocket::Flush()
{
    if (m_count == 0)
        return true;
    if (!m_socket.Valid())
    {
        m_first = m_count = 0;
        return false;
    }
    for (std::uint32_t i = 0; i < m_count; ++i)
    {
        const std::uint32_t slot = m_first + i;
        m_iov[i].iov_base = m_slots.Data() + std::size_t{slot} * kDataAreaBytes;
        m_iov[i].iov_len = m_slotLength[slot];
        m_headers[i].msg_hdr = msghdr{};
        m_headers[i].msg_hdr.msg_iov = &m_iov[i];
        m_headers[i].msg_hdr.msg_iovlen = 1;
    }

    std::uint32_t done = 0;
    // Each ECONNREFUSED consumes one ICMP port-unreachable left by an earlier
    // datagram (nobody listens yet); the retry makes progress, so this is bounded.
    std::uint32_t refusedRetries = 0;
    while (done < m_count)
    {
        const int n = sendmmsg(m_socket.Get(), m_headers.data() + done, m_count - done, MSG_DONTWAIT);
        if (n > 0)
        {
            done += static_cast<std::uint32_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == ENOBUFS))
            break; // queue full: the rest goes first next cycle
        if (n < 0 && errno == ECONNREFUSED && ++refusedRetries <= 2 * m_count + 2)
            continue;
        // Hard error: the queued datagrams cannot be sent.
        m_datagramsSent.fetch_add(done, std::memory_order_relaxed);
        m_datagramsFailed.fetch_add(m_count - done, std::memory_order_relaxed);
        m_first = m_count = 0;
        return false;
    }
    m_datagramsSent.fetch_add(done, std::memory_order_relaxed);
    m_count -= done;
    m_first = m_count == 0 ? 0 : m_first + done;
    return true;
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
