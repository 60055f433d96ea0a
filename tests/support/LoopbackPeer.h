#pragma once
//! @file LoopbackPeer.h
//! A UDP socket on one loopback address standing in for a device or a
//! listener, and a port that is free to use.

#include "common/CUniqueFd.h"
#include "devices/CDiscoverProtocol.h"

#include <netinet/in.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tstest
{
constexpr std::uint32_t kLoopback = 0x7F000001u; // 127.0.0.1

class LoopbackPeer
{
public:
    //! Bound to @p address (host order, in 127.0.0.0/8) and @p port (0: any).
    explicit LoopbackPeer(std::uint32_t address = kLoopback, std::uint16_t port = 0);
    bool Valid() const { return m_fd.Valid(); }
    std::uint16_t Port() const { return m_port; }
    int Fd() const { return m_fd.Get(); }
    //! Sends to 127.0.0.1:@p toPort.
    void Send(std::uint16_t toPort, const std::uint8_t* data, std::size_t size) const;
    void Send(std::uint16_t toPort, const std::vector<std::uint8_t>& bytes) const;
    //! A discovery answer carrying @p record.
    void Announce(std::uint16_t toPort, const DeviceRecord& record) const;
    //! Waits up to @p timeoutMs for a datagram; empty when none came.
    std::vector<std::uint8_t> Receive(int timeoutMs = 2'000, sockaddr_in* from = nullptr) const;

private:
    CUniqueFd m_fd;
    std::uint16_t m_port = 0;
};

//! A UDP port on loopback that was free a moment ago.
std::uint16_t FreePort();
//! A device record as a test device announces it.
DeviceRecord TestRecord(std::uint32_t address, std::uint64_t serial);
} // namespace tstest
