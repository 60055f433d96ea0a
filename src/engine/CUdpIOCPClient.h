#pragma once
//! @file CUdpIOCPClient.h
//! Receive end of the streaming engine: one UDP socket bound to a local port
//! (dual-stack IPv6, so that IPv4 and IPv6 senders reach it; IPv4 alone where
//! the system has no IPv6), read by a receive thread with recvmmsg() straight into buffer records
//! that the derived class supplies (GetFreeBuffer) and takes back filled
//! (OnReceive). The derived class numbers the datagrams it accepts with
//! NextArrival(), so a rejected datagram leaves no hole in the numbering.
//!
//! The socket gets a large receive buffer (SO_RCVBUFFORCE when permitted, else
//! SO_RCVBUF): when the derived class has no free record for a while, datagrams
//! wait in the kernel, and receiving goes on as soon as records come back. What
//! the kernel had to drop is reported through OnDropped: the socket's drop
//! counter comes with each datagram (SO_RXQ_OVFL) and is also read while the
//! socket is quiet or no record is free (SO_MEMINFO), so drops after the last
//! datagram are counted too. Each record gets the kernel's receive time stamp
//! (SO_TIMESTAMPNS) for the delay factor: the time the datagram reached the
//! socket, not the time this thread got round to reading it. Datagrams larger than a record go to OnOversized.
//! A receive error that persists is retried with a growing pause (up to
//! kErrorBackoffMaxMs) and counted, instead of spinning at real-time priority.
//!
//! Multicast: with a group address (224.0.0.0/4 or ff00::/8) the socket of the
//! group's family joins it (any-source, or source-specific with a source
//! address: IGMPv3 or MLDv2) on the chosen interface, binds to the group and
//! sets SO_REUSEADDR so that several listeners can share the group.
//!
//! Threads: Open and Close on the owner's thread; GetFreeBuffer, OnReceive,
//! OnDropped and OnOversized on the receive thread.

#include "common/CNetAddress.h"
#include "common/CThread.h"
#include "common/CUniqueFd.h"
#include "engine/CLinkedList.h"
#include "engine/DvbIpRecvBuffer.h"

#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>

class CUdpIOCPClient
{
public:
    //! Datagrams taken per recvmmsg() call.
    static constexpr std::uint32_t kBatch = 64;
    //! Kernel receive buffer asked for (the kernel doubles it): with the pool and
    //! the FIFO it bridges a disk that stalls for about a second at 1 Gbit/s.
    //! Memory is only used while the queue is full.
    static constexpr int kSocketBufferBytes = 64 * 1024 * 1024;
    //! Longest pause between two attempts while recvmmsg() keeps failing.
    static constexpr std::int64_t kErrorBackoffMaxMs = 100;
    //! How long Close waits for the receive thread unless told otherwise.
    static constexpr auto kDefaultJoinTimeout = std::chrono::milliseconds(2'000);

    //! Multicast reception; an address not set is not used (ports are ignored).
    struct Membership
    {
        CNetAddress group;         //!< multicast group to join (224.0.0.0/4 or ff00::/8)
        CNetAddress source;        //!< source-specific join when set; of the group's family
        std::string interfaceName; //!< interface name or one of its addresses; empty = the system's choice
    };

    CUdpIOCPClient() = default;
    virtual ~CUdpIOCPClient();
    CUdpIOCPClient(const CUdpIOCPClient&) = delete;
    CUdpIOCPClient& operator=(const CUdpIOCPClient&) = delete;

    //! Opens the socket on @p port (and the group of @p membership) and starts the
    //! receive thread. @return false when the socket cannot be set up; LastError()
    //! then says why, and nothing is running.
    bool Open(std::uint16_t port, const Membership& membership);
    bool Open(std::uint16_t port) { return Open(port, Membership()); }
    //! Stops the receive thread (waiting up to @p timeout) and closes the
    //! socket; the records still posted are destroyed. Harmless on a client that
    //! is not open. @return false when the thread has not ended in time: socket
    //! and records then stay until a later Close finds it ended.
    bool Close(std::chrono::milliseconds timeout = kDefaultJoinTimeout);

    bool IsOpen() const { return m_socket.Valid(); }
    const std::string& LastError() const { return m_lastError; }
    //! The arrival number the next datagram will get (kept across Close and Open).
    std::uint16_t GetArrivalCounter() const { return static_cast<std::uint16_t>(m_arrival.load()); }
    //! Receive buffer asked of the kernel at the next Open (tests use tiny ones).
    void SetSocketBufferBytes(int bytes) { m_socketBufferBytes = bytes; }
    //! Failed recvmmsg() calls (other than time-outs and signals) since Open,
    //! and the errno of the last one.
    std::uint64_t GetReceiveErrors() const { return m_receiveErrors.load(std::memory_order_relaxed); }
    int GetLastReceiveError() const { return m_lastReceiveError.load(std::memory_order_relaxed); }

    //! A record to receive into, or null when none is free (receive thread).
    virtual DvbIpRecvBuffer* GetFreeBuffer() = 0;
    //! Takes over a filled record (receive thread).
    virtual void OnReceive(DvbIpRecvBuffer* record) = 0;
    //! @p count datagrams were dropped by the kernel: its receive queue was full
    //! (receive thread).
    virtual void OnDropped(std::uint32_t count) { (void)count; }
    //! A datagram larger than a record arrived and was not taken (receive thread).
    virtual void OnOversized() {}

protected:
    //! For a derived class whose own set-up fails after Open.
    void SetLastError(std::string text) { m_lastError = std::move(text); }
    //! The next arrival number; the derived class calls it for each datagram it
    //! accepts, on the receive thread.
    std::uint16_t NextArrival()
    {
        return static_cast<std::uint16_t>(m_arrival.fetch_add(1, std::memory_order_relaxed));
    }
    //! One recvmmsg() call; tests replace it to inject failures.
    virtual int ReceiveBatch(int fd, mmsghdr* msgs, unsigned count, int flags);

private:
    //! Reads the socket's drop counter and reports what is new.
    void PollDrops(int fd, std::uint32_t& lastDropCount);
    void ReportDrops(std::uint32_t total, std::uint32_t& lastDropCount);
    bool Fail(const std::string& what);
    bool Join(const Membership& membership, int fd, unsigned index);
    //! Opens the socket of @p family (AF_INET6: dual-stack). @return false (errno).
    bool OpenSocket(int family);
    void ReceiveLoop();

    CLinkedList m_posted; // records currently handed to recvmmsg
    std::atomic<bool> m_running{false};
    std::atomic<std::uint32_t> m_arrival{0};
    std::atomic<std::uint64_t> m_receiveErrors{0};
    std::atomic<int> m_lastReceiveError{0};
    int m_socketBufferBytes = kSocketBufferBytes;
    CUniqueFd m_socket;
    CThread m_thread;
    std::string m_lastError;
};
