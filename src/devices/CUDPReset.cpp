#include "devices/CUDPReset.h"

#include <netinet/in.h>
#include <sys/socket.h>

CUDPReset::CUDPReset() : m_socket(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {}

bool CUDPReset::SendResetPacket(std::uint32_t address)
{
    if (!m_socket.Valid() || address == 0 || address == 0xFFFFFFFFu)
        return false;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(m_port);
    to.sin_addr.s_addr = address;
    const auto header = CDiscoverProtocol::MakeHeader(CDiscoverProtocol::kTypeReset);
    return sendto(m_socket.Get(), header.data(), header.size(), MSG_DONTWAIT, reinterpret_cast<const sockaddr*>(&to),
                  sizeof(to)) == static_cast<ssize_t>(header.size());
}
