#pragma once
//! @file CUDPReset.h
//! Sends the factory-reset request of the discovery protocol to one device.

#include "common/CUniqueFd.h"
#include "devices/CDiscoverProtocol.h"

#include <cstdint>

class CUDPReset
{
public:
    CUDPReset();
    ~CUDPReset() = default;
    CUDPReset(const CUDPReset&) = delete;
    CUDPReset& operator=(const CUDPReset&) = delete;

    //! Sends the reset request to @p address, given in network byte order (the
    //! value inet_addr returns for the dotted text), and returns at once.
    //! @return false when the request could not be sent.
    bool SendResetPacket(std::uint32_t address);

    //! The device port, 8947 unless a test changes it.
    void SetPort(std::uint16_t port) { m_port = port; }
    std::uint16_t GetPort() const { return m_port; }

private:
    CUniqueFd m_socket;
    std::uint16_t m_port = CDiscoverProtocol::kPort;
};
