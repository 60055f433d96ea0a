#pragma once
//! @file CUDPReset.h
//! Sends the factory-reset request of the discovery protocol to one device.

#include "common/CUniqueFd.h"
#include "devices/CDiscoverProtocol.h"

#include <cstdint>
#include <string>

class CUDPReset
{
public:
    CUDPReset();
    ~CUDPReset() = default;
    CUDPReset(const CUDPReset&) = delete;
    CUDPReset& operator=(const CUDPReset&) = delete;

    //! Sends the reset request to @p address, given in network byte order (the
    //! value inet_addr returns for the dotted text), and returns at once.
    //! @return false when the request could not be sent (LastError says why).
    bool SendResetPacket(std::uint32_t address);
    //! Why the last SendResetPacket failed; empty after a success.
    const std::string& LastError() const { return m_lastError; }

    //! The device port: 8947 unless set, the discovery port of the settings in the window.
    void SetPort(std::uint16_t port) { m_port = port; }
    std::uint16_t GetPort() const { return m_port; }

private:
    CUniqueFd m_socket;
    std::uint16_t m_port = CDiscoverProtocol::kPort;
    std::string m_lastError;
};
