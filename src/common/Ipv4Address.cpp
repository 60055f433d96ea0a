#include "common/Ipv4Address.h"

#include <arpa/inet.h>

bool ParseIpv4(std::string_view text, std::uint32_t& address)
{
    // inet_pton takes exactly four decimal numbers 0..255 without leading zeros;
    // it needs a terminated string, and a view may hold a zero byte inside.
    if (text.size() > 15 || text.find('\0') != std::string_view::npos)
        return false;
    const std::string terminated(text);
    in_addr parsed{};
    if (inet_pton(AF_INET, terminated.c_str(), &parsed) != 1)
        return false;
    address = ntohl(parsed.s_addr);
    return true;
}

std::string FormatIpv4(std::uint32_t address)
{
    return std::to_string(address >> 24) + '.' + std::to_string((address >> 16) & 0xFFu) + '.' +
           std::to_string((address >> 8) & 0xFFu) + '.' + std::to_string(address & 0xFFu);
}
