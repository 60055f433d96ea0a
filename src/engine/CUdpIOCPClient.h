#pragma once
//! @file CUdpIOCPClient.h
//! Receive end of the streaming engine: one IPv4 UDP socket bound to a local
//! port, read by a receive thread with recvmmsg() straight into buffer records
//! that the derived class supplies (GetFreeBuffer) and takes back filled
//! (OnReceive). Each datagram gets the next 16-bit arrival number.
//!
//! The socket gets a large receive buffer (SO_RCVBUFFORCE when permitted, else
//! SO_RCVBUF): when the derived class has no free record for a while, datagrams
//! wait in the kernel, and receiving goes on as soon as records come back. What
//! the kernel had to drop is reported through OnDropped (SO_RXQ_OVFL).
//!
//! Multicast: with a group address the socket joins it (any-source, or
//! source-specific with a source address) on the chosen interface, binds to the
//! group and sets SO_REUSEADDR so that several listeners can share the group.
//!
//! Threads: Open and Close on the owner's thread; GetFreeBuffer, OnReceive and
//! OnDropped on the receive thread.

#include "common/CThread.h"
#include "common/CUniqueFd.h"
#include "engine/CLinkedList.h"
#include "engine/DvbIpRecvBuffer.h"

#include <atomic>
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

    //! Multicast reception. All addresses in host order; 0 = not used.
    struct Membership
    {
        std::uint32_t group = 0;   //!< multicast group to join (224.0.0.0/4)
        std::uint32_t source = 0;  //!< source-specific join when not 0
        std::string interfaceName; //!< interface name or its IPv4 address; empty = the system's choice
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
    //! Stops the receive thread and closes the socket; the records still posted
    //! are destroyed. Harmless on a client that is not open.
    void Close();

    bool IsOpen() const { return m_socket.Valid(); }
    const std::string& LastError() const { return m_lastError; }
    //! The arrival number the next datagram will get (kept across Close and Open).
    std::uint16_t GetArrivalCounter() const { return static_cast<std::uint16_t>(m_arrival.load()); }

    //! A record to receive into, or null when none is free (receive thread).
    virtual DvbIpRecvBuffer* GetFreeBuffer() = 0;
    //! Takes over a filled record (receive thread).
    virtual void OnReceive(DvbIpRecvBuffer* record) = 0;
    //! @p count datagrams were lost before they could be read: kernel queue full,
    //! or larger than a record (receive thread).
    virtual void OnDropped(std::uint32_t count) { (void)count; }

private:
    bool Fail(const std::string& what);
    bool Join(const Membership& membership, int fd);
    void ReceiveLoop();

    CLinkedList m_posted; // records currently handed to recvmmsg
    std::atomic<bool> m_running{false};
    std::atomic<std::uint32_t> m_arrival{0};
    CUniqueFd m_socket;
    CThread m_thread;
    std::string m_lastError;
};
