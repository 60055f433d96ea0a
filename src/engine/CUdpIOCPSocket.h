#pragma once
//! @file CUdpIOCPSocket.h
//! Send end of the streaming engine: one connected UDP socket (IPv4 or IPv6) that puts
//! an RTP fixed header (RFC 3550, payload type 33) in front of each payload on
//! request.
//!
//! Datagrams handed to Send() are queued in a batch of pre-allocated slots and
//! leave together in one sendmmsg() per pacing cycle (Flush). When the kernel's
//! send queue is momentarily full, the datagrams it refused stay queued and go
//! first at the next Flush: a datagram taken from the FIFO is never dropped for
//! that reason, and GetPendingSends() shows the backlog.
//!
//! Threads: Create, Send, Flush and Close are called by one thread at a time
//! (the play-out thread while playing); GetPendingSends may be called by the
//! same thread. SSRC and sequence survive Close, so consecutive plays continue them.

#include "common/CAlignedBuffer.h"
#include "common/CNetAddress.h"
#include "common/CUniqueFd.h"

#include <netinet/in.h>
#include <sys/socket.h>

#include <atomic>
#include <cstdint>
#include <vector>

class CUdpIOCPSocket
{
public:
    static constexpr std::uint32_t kDataAreaBytes = 1'536; // largest datagram
    static constexpr std::uint32_t kRtpHeaderBytes = 12;
    static constexpr std::uint8_t kRtpVersionByte = 0x80;  // V=2, no P, no X, CC=0
    static constexpr std::uint8_t kRtpMarkerPtByte = 0xA1; // marker set, PT 33 (MP2T)
    static constexpr std::uint32_t kBatchSlots = 2'048;    // datagrams queued between flushes
    static constexpr std::uint32_t kMaxGsoSegments = 64;   // datagrams per segmentation offload send
    static constexpr std::uint32_t kMaxGsoBytes = 63'000;  // below the 64 KiB IP limit

    CUdpIOCPSocket();
    virtual ~CUdpIOCPSocket();
    CUdpIOCPSocket(const CUdpIOCPSocket&) = delete;
    CUdpIOCPSocket& operator=(const CUdpIOCPSocket&) = delete;

    //! Opens a UDP socket connected to @p destination (IPv4 or IPv6, with its port).
    //! @return false when a socket is already open (it stays untouched), or when
    //! the address is invalid or cannot be reached (every Send then fails);
    //! GetCreateError() then tells why (ENETUNREACH: no route to it).
    bool Create(const CNetAddress& destination);
    //! As above, to @p address (dotted IPv4, or IPv6 without brackets) : @p port.
    bool Create(std::uint16_t port, const char* address);
    //! errno of the last failed Create (EISCONN when a socket was already open,
    //! EINVAL for an address that is neither IPv4 nor IPv6, ENODEV for an IPv6
    //! outgoing interface that does not exist); 0 after a good one.
    int GetCreateError() const { return m_createError; }
    //! Queues one datagram of @p length payload bytes (RTP header added when @p rtp).
    //! A length of 0 sends nothing and succeeds. With departure times on
    //! (EnableTxTime), @p departureNs (CLOCK_MONOTONIC) is when the qdisc lets it leave.
    //! @return false when the socket is not open, the datagram is too large or no
    //! slot is free; nothing was queued then.
    bool Send(const std::uint8_t* data, std::uint32_t length, bool rtp, std::uint32_t timestamp,
              std::int64_t departureNs = 0);
    //! Writes the datagram of @p length payload bytes to @p out (at least
    //! kDataAreaBytes), RTP header first when @p rtp (the sequence number moves on).
    //! @return its length on the wire.
    std::uint32_t BuildDatagram(std::uint8_t* out, const std::uint8_t* data, std::uint32_t length, bool rtp,
                                std::uint32_t timestamp);
    //! Counts datagrams another path (io_uring) handed to the kernel.
    void RecordSent(std::uint32_t datagrams) { m_datagramsSent.fetch_add(datagrams, std::memory_order_relaxed); }
    //! Counts one datagram of @p payloadBytes the kernel refused with @p error.
    void RecordFailed(std::uint32_t payloadBytes, int error);
    //! Per-datagram departure times (SO_TXTIME on @p clockId; the monotonic
    //! times given to Send are shifted by @p offsetNs into that clock). Each
    //! datagram then has its own header: no segmentation offload.
    //! @return false (errno) when the kernel refuses the option.
    bool EnableTxTime(int clockId, std::int64_t offsetNs);
    bool GetTxTime() const { return m_txtime; }
    //! Hands every queued datagram to the kernel in one batch. Datagrams that the
    //! kernel refuses because its queue is full stay queued for the next Flush.
    //! @return false on a hard socket error (the queued datagrams are then lost).
    bool Flush();
    //! True when another datagram can be queued.
    bool HasRoom() const { return m_first + m_count < kBatchSlots || m_first > 0; }
    //! Datagrams not yet on the wire: those still queued here plus an estimate
    //! of those the kernel holds in its send queue (SIOCOUTQ).
    std::int32_t GetPendingSends() const;
    //! Datagrams queued here and not yet handed to the kernel (no system call).
    std::int32_t GetQueuedSends() const { return static_cast<std::int32_t>(m_count); }
    //! Closes the socket; queued datagrams are discarded.
    void Close();

    bool IsOpen() const { return m_socket.Valid(); }
    std::uint32_t GetSsrc() const { return m_ssrc; }
    //! The RTP sequence number the next datagram will carry.
    std::uint16_t GetNextSequence() const { return static_cast<std::uint16_t>(m_sequence); }
    //! Datagrams handed to the kernel since construction.
    std::uint64_t GetDatagramsSent() const { return m_datagramsSent.load(std::memory_order_relaxed); }
    //! Datagrams lost through hard socket errors since construction.
    std::uint64_t GetDatagramsFailed() const { return m_datagramsFailed.load(std::memory_order_relaxed); }
    //! Payload bytes (RTP headers not counted) of those datagrams.
    std::uint64_t GetPayloadBytesFailed() const { return m_payloadBytesFailed.load(std::memory_order_relaxed); }
    //! errno of the last hard error (a firewall rule: EPERM, a blackhole route:
    //! EINVAL); 0 when there was none.
    int GetLastError() const { return m_lastError.load(std::memory_order_relaxed); }

    //! Segmentation offload (UDP_SEGMENT): equal datagrams of a batch go to the
    //! kernel as one buffer, which it cuts into the same datagrams; on by default,
    //! switched off for good when the kernel refuses it.
    void SetSegmentationOffload(bool on) { m_gso = on; }
    bool GetSegmentationOffload() const { return m_gso; }

    //! Multicast output, applied by the next Create when the destination is a
    //! multicast address: hop limit (IP_MULTICAST_TTL or IPV6_MULTICAST_HOPS,
    //! 1..255) and the outgoing interface's IPv4 address in host order
    //! (IP_MULTICAST_IF; 0 = the system's route). An IPv6 group leaves on the
    //! interface of SetMulticastInterfaceIndex, else on the one that has this
    //! IPv4 address.
    void SetMulticast(int ttl, std::uint32_t interfaceAddress)
    {
        m_multicastTtl = ttl;
        m_multicastInterface = interfaceAddress;
    }
    //! Outgoing interface of an IPv6 group by index (IPV6_MULTICAST_IF; 0 = by
    //! the IPv4 address above, else the system's route); for the next Create.
    void SetMulticastInterfaceIndex(unsigned index) { m_multicastIndex = index; }
    unsigned GetMulticastInterfaceIndex() const { return m_multicastIndex; }
    int GetMulticastTtl() const { return m_multicastTtl; }
    //! The socket's descriptor (-1 when closed), for checks of its options.
    int NativeHandle() const { return m_socket.Get(); }
    std::uint32_t GetMulticastInterface() const { return m_multicastInterface; }
    //! The destination of the open socket (or of the last one).
    const CNetAddress& GetDestination() const { return m_destination; }

    //! Sets SSRC and next sequence number (tests only).
    void SetRtpIdentity(std::uint32_t ssrc, std::uint16_t sequence);

private:
    void CompactSlots();
    std::uint32_t BuildHeaders();
    bool FailCreate(int error)
    {
        m_createError = error;
        return false;
    }
    //! Counts the queued datagrams from @p from on as lost to @p error and empties the queue.
    void FailQueued(std::uint32_t from, int error);

    CUniqueFd m_socket;
    //! Sets hop limit and outgoing interface of a multicast destination. @return false (errno) when refused.
    bool SetMulticastOptions(int fd, const CNetAddress& destination);

    CNetAddress m_destination;
    int m_multicastTtl = 16;
    std::uint32_t m_multicastInterface = 0;
    unsigned m_multicastIndex = 0;
    std::uint32_t m_ssrc;
    std::uint32_t m_sequence;
    // The batch: one pre-allocated block of slots; [m_first, m_first + m_count) are queued.
    CAlignedBuffer m_slots;
    std::vector<std::uint32_t> m_slotLength;
    std::vector<std::int64_t> m_slotDeparture; // with departure times only
    std::vector<mmsghdr> m_headers;
    std::vector<iovec> m_iov;
    std::vector<std::uint32_t> m_headerSlots; // datagrams carried by each header
    std::vector<std::uint64_t> m_control;     // one UDP_SEGMENT control message per header
    bool m_gso = true;
    bool m_txtime = false;
    std::int64_t m_txtimeOffsetNs = 0;
    std::uint32_t m_first = 0;
    std::uint32_t m_count = 0;
    std::uint32_t m_lastLength = 0;
    std::uint32_t m_headerBytes = 0; // RTP header in front of each queued payload
    int m_createError = 0;
    std::atomic<std::uint64_t> m_datagramsSent{0};
    std::atomic<std::uint64_t> m_datagramsFailed{0};
    std::atomic<std::uint64_t> m_payloadBytesFailed{0};
    std::atomic<int> m_lastError{0};
};
