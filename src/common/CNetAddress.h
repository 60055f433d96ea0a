#pragma once
//! @file CNetAddress.h
//! One IP address (IPv4 or IPv6) with a UDP port, as the sockets take it
//! (a sockaddr_storage in network order). The one parser and formatter of
//! destinations, groups and sources for the engine, the tabs and orvane-cli:
//! "A.B.C.D:PORT" and "[V6]:PORT" with a port, "A.B.C.D", "V6" or "[V6]"
//! without. An IPv6 address may carry its zone ("fe80::1%eth0"), which
//! link-local and link-scope multicast addresses need.
//! Discovery keeps its own IPv4 form (Ipv4Address.h): the devices speak IPv4.

#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdint>
#include <string>
#include <string_view>

class CNetAddress
{
public:
    //! No address (family AF_UNSPEC): "not set".
    CNetAddress() = default;
    //! An IPv4 address in Orvane's host order (Ipv4Address.h) and a port.
    static CNetAddress FromIpv4(std::uint32_t hostOrder, std::uint16_t port = 0);
    //! The address a socket call filled in (getsockname, recvfrom); not set
    //! for a family other than IPv4 and IPv6.
    static CNetAddress FromSockaddr(const sockaddr_storage& storage);

    //! "A.B.C.D:PORT" or "[V6]:PORT", port 1..65535, nothing around it.
    //! @return false for anything else, leaving @p address unchanged.
    static bool Parse(std::string_view text, CNetAddress& address);
    //! Splits "HOST:PORT" at its last colon: @p host is what stands before it
    //! (as written: empty, a name, [V6]...), @p port 1..65535 in decimal digits.
    //! @return false without a colon or such a port, leaving both unchanged.
    static bool SplitHostPort(std::string_view text, std::string_view& host, std::uint16_t& port);
    //! An address without port: "A.B.C.D" (as ParseIpv4), "V6" or "[V6]";
    //! @p port is set as given. @return false for anything else (unchanged).
    static bool ParseHost(std::string_view text, CNetAddress& address, std::uint16_t port = 0);

    bool IsSet() const { return Family() != AF_UNSPEC; }
    bool IsIpv4() const { return Family() == AF_INET; }
    bool IsIpv6() const { return Family() == AF_INET6; }
    //! AF_INET, AF_INET6 or AF_UNSPEC.
    int Family() const { return m_storage.ss_family; }
    std::uint16_t Port() const;
    void SetPort(std::uint16_t port);
    //! The IPv4 address in host order; 0 for IPv6 or none.
    std::uint32_t Ipv4() const;
    //! IPv6 zone (interface index), 0 when none.
    std::uint32_t ScopeId() const;
    void SetScopeId(std::uint32_t index);
    //! 224.0.0.0/4 or ff00::/8.
    bool IsMulticast() const;
    //! 0.0.0.0 or ::.
    bool IsAny() const;

    //! "A.B.C.D:PORT" or "[V6]:PORT" (the zone as "%name" when it has one); "" when not set.
    std::string ToString() const;
    //! "A.B.C.D" or "V6" without port; "" when not set.
    std::string HostString() const;

    const sockaddr* Sockaddr() const { return reinterpret_cast<const sockaddr*>(&m_storage); }
    //! The length bind() and connect() take for the family (0 when not set).
    socklen_t Length() const;
    const sockaddr_storage& Storage() const { return m_storage; }

    //! Same family, address, port and zone.
    bool operator==(const CNetAddress& other) const;

    //! Index of the interface named @p nameOrAddress ("eth0"), or of the one
    //! that has that IPv4 or IPv6 address; 0 when there is none.
    static unsigned InterfaceIndex(const std::string& nameOrAddress);

private:
    sockaddr_storage m_storage{};
};
