#pragma once
//! @file Ipv4Address.h
//! IPv4 addresses as Orvane keeps them: unsigned 32-bit in host order with the
//! first dotted number in the most significant byte (192.168.1.10 is
//! 0xC0A8010A), the form of the settings, the address fields and the device
//! records. They go to network order only at a socket (htonl).
//! One parser and one formatter for the tabs, orvane-cli and discovery.

#include <cstdint>
#include <string>
#include <string_view>

//! Parses dotted decimal: exactly four numbers 0..255, no leading zeros, no
//! space or anything else around them ("10.0.0.5"; not "10.0.0.05", "10.5",
//! "10.0.0.5 " or a host name). @return false for anything else, leaving
//! @p address unchanged.
bool ParseIpv4(std::string_view text, std::uint32_t& address);

//! "a.b.c.d" of @p address.
std::string FormatIpv4(std::uint32_t address);

//! True for a multicast group address, 224.0.0.0 to 239.255.255.255.
constexpr bool IsIpv4Multicast(std::uint32_t address)
{
    return (address >> 28) == 0xEu;
}
