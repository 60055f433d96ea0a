#include "devices/CUDPReset.h"

#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

CUDPReset::CUDPReset() : m_socket(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0))
{
    if (!m_socket.Valid())
        m_lastError = std::string("no UDP socket (") + std::strerror(errno) + ")";
}

bool CUDPReset::SendResetPacket(std::uint32_t address)
{
    if (!m_socket.Valid())
        return false; // the constructor's reason stays
    if (address == 0 || address == 0xFFFFFFFFu)
    {
        m_lastError = "not a device address";
        return false;
    }
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(m_port);
    to.sin_addr.s_addr = address;
    const auto header = CDiscoverProtocol::MakeHeader(CDiscoverProtocol::kTypeReset);
    const auto sent = sendto(m_socket.Get(), header.data(), header.size(), MSG_DONTWAIT,
                             reinterpret_cast<const sockaddr*>(&to), sizeof(to));
    if (sent == static_cast<ssize_t>(header.size()))
    {
        m_lastError.clear();
        return true;
    }
    m_lastError = sent < 0 ? std::strerror(errno) : "the request went out incomplete";
    return false;
}
