#include "common/CNetAddress.h"

#include "common/Ipv4Address.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>

#include <cstring>

namespace
{
constexpr std::size_t kMaxHostChars = INET6_ADDRSTRLEN + IF_NAMESIZE; // text and "%zone"

sockaddr_in* V4(sockaddr_storage& s)
{
    return reinterpret_cast<sockaddr_in*>(&s);
}
const sockaddr_in* V4(const sockaddr_storage& s)
{
    return reinterpret_cast<const sockaddr_in*>(&s);
}
sockaddr_in6* V6(sockaddr_storage& s)
{
    return reinterpret_cast<sockaddr_in6*>(&s);
}
const sockaddr_in6* V6(const sockaddr_storage& s)
{
    return reinterpret_cast<const sockaddr_in6*>(&s);
}

// "V6" or "V6%zone" (zone: an interface name or its index).
bool ParseIpv6(std::string_view text, sockaddr_in6& out)
{
    if (text.empty() || text.size() > kMaxHostChars || text.find('\0') != std::string_view::npos)
        return false;
    const std::string whole(text);
    const auto percent = whole.find('%');
    const std::string address = whole.substr(0, percent);
    sockaddr_in6 parsed{};
    parsed.sin6_family = AF_INET6;
    if (inet_pton(AF_INET6, address.c_str(), &parsed.sin6_addr) != 1)
        return false;
    if (percent != std::string::npos)
    {
        const std::string zone = whole.substr(percent + 1);
        if (zone.empty())
            return false;
        unsigned index = if_nametoindex(zone.c_str());
        if (index == 0 && zone.find_first_not_of("0123456789") == std::string::npos && zone.size() <= 9)
            index = static_cast<unsigned>(std::stoul(zone));
        if (index == 0)
            return false;
        parsed.sin6_scope_id = index;
    }
    out = parsed;
    return true;
}
} // namespace

CNetAddress CNetAddress::FromIpv4(std::uint32_t hostOrder, std::uint16_t port)
{
    CNetAddress a;
    sockaddr_in* sin = V4(a.m_storage);
    sin->sin_family = AF_INET;
    sin->sin_addr.s_addr = htonl(hostOrder);
    sin->sin_port = htons(port);
    return a;
}

CNetAddress CNetAddress::FromSockaddr(const sockaddr_storage& storage)
{
    CNetAddress a;
    if (storage.ss_family == AF_INET)
        std::memcpy(&a.m_storage, &storage, sizeof(sockaddr_in));
    else if (storage.ss_family == AF_INET6)
        std::memcpy(&a.m_storage, &storage, sizeof(sockaddr_in6));
    return a;
}

bool CNetAddress::ParseHost(std::string_view text, CNetAddress& address, std::uint16_t port)
{
    CNetAddress parsed;
    std::uint32_t v4 = 0;
    if (ParseIpv4(text, v4))
        parsed = FromIpv4(v4, port);
    else
    {
        if (text.size() >= 2 && text.front() == '[' && text.back() == ']')
            text = text.substr(1, text.size() - 2);
        sockaddr_in6 sin6{};
        if (!ParseIpv6(text, sin6))
            return false;
        sin6.sin6_port = htons(port);
        std::memcpy(&parsed.m_storage, &sin6, sizeof sin6);
    }
    address = parsed;
    return true;
}

bool CNetAddress::SplitHostPort(std::string_view text, std::string_view& host, std::uint16_t& port)
{
    const auto colon = text.rfind(':');
    if (colon == std::string_view::npos)
        return false;
    const std::string_view portText = text.substr(colon + 1);
    if (portText.empty() || portText.size() > 5 || portText.find_first_not_of("0123456789") != std::string_view::npos)
        return false;
    const unsigned long p = std::stoul(std::string(portText));
    if (p == 0 || p > 65'535)
        return false;
    host = text.substr(0, colon);
    port = static_cast<std::uint16_t>(p);
    return true;
}

bool CNetAddress::Parse(std::string_view text, CNetAddress& address)
{
    std::string_view host;
    std::uint16_t port = 0;
    if (!SplitHostPort(text, host, port))
        return false;
    // An IPv6 address with a port needs its brackets ("::1:5000" is ambiguous).
    const bool bracketed = host.size() >= 2 && host.front() == '[' && host.back() == ']';
    if (!bracketed && host.find(':') != std::string_view::npos)
        return false;
    CNetAddress parsed;
    if (!ParseHost(host, parsed, port))
        return false;
    if (bracketed && !parsed.IsIpv6())
        return false; // "[10.0.0.1]:5000"
    address = parsed;
    return true;
}

std::uint16_t CNetAddress::Port() const
{
    if (IsIpv4())
        return ntohs(V4(m_storage)->sin_port);
    if (IsIpv6())
        return ntohs(V6(m_storage)->sin6_port);
    return 0;
}

void CNetAddress::SetPort(std::uint16_t port)
{
    if (IsIpv4())
        V4(m_storage)->sin_port = htons(port);
    else if (IsIpv6())
        V6(m_storage)->sin6_port = htons(port);
}

std::uint32_t CNetAddress::Ipv4() const
{
    return IsIpv4() ? ntohl(V4(m_storage)->sin_addr.s_addr) : 0;
}

std::uint32_t CNetAddress::ScopeId() const
{
    return IsIpv6() ? V6(m_storage)->sin6_scope_id : 0;
}

void CNetAddress::SetScopeId(std::uint32_t index)
{
    if (IsIpv6())
        V6(m_storage)->sin6_scope_id = index;
}

bool CNetAddress::IsMulticast() const
{
    if (IsIpv4())
        return IsIpv4Multicast(Ipv4());
    return IsIpv6() && IN6_IS_ADDR_MULTICAST(&V6(m_storage)->sin6_addr);
}

bool CNetAddress::IsAny() const
{
    if (IsIpv4())
        return Ipv4() == 0;
    return IsIpv6() && IN6_IS_ADDR_UNSPECIFIED(&V6(m_storage)->sin6_addr);
}

std::string CNetAddress::HostString() const
{
    if (IsIpv4())
        return FormatIpv4(Ipv4());
    if (!IsIpv6())
        return {};
    char text[INET6_ADDRSTRLEN] = {};
    inet_ntop(AF_INET6, &V6(m_storage)->sin6_addr, text, sizeof text);
    std::string host = text;
    if (const std::uint32_t zone = ScopeId(); zone != 0)
    {
        char name[IF_NAMESIZE] = {};
        host += '%';
        host += if_indextoname(zone, name) != nullptr ? std::string(name) : std::to_string(zone);
    }
    return host;
}

std::string CNetAddress::ToString() const
{
    if (IsIpv4())
        return HostString() + ':' + std::to_string(Port());
    if (IsIpv6())
        return '[' + HostString() + "]:" + std::to_string(Port());
    return {};
}

socklen_t CNetAddress::Length() const
{
    if (IsIpv4())
        return sizeof(sockaddr_in);
    if (IsIpv6())
        return sizeof(sockaddr_in6);
    return 0;
}

bool CNetAddress::operator==(const CNetAddress& other) const
{
    if (Family() != other.Family())
        return false;
    if (IsIpv4())
        return Ipv4() == other.Ipv4() && Port() == other.Port();
    if (IsIpv6())
        return std::memcmp(&V6(m_storage)->sin6_addr, &V6(other.m_storage)->sin6_addr, sizeof(in6_addr)) == 0 &&
               Port() == other.Port() && ScopeId() == other.ScopeId();
    return true;
}

unsigned CNetAddress::InterfaceIndex(const std::string& nameOrAddress)
{
    if (nameOrAddress.empty())
        return 0;
    if (unsigned index = if_nametoindex(nameOrAddress.c_str()); index != 0)
        return index;
    CNetAddress wanted;
    if (!ParseHost(nameOrAddress, wanted))
        return 0;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
        return 0;
    unsigned index = 0;
    for (const ifaddrs* a = list; a != nullptr && index == 0; a = a->ifa_next)
    {
        if (a->ifa_addr == nullptr || a->ifa_addr->sa_family != wanted.Family())
            continue;
        CNetAddress have;
        std::memcpy(&have.m_storage, a->ifa_addr, wanted.Length());
        have.SetPort(0);
        have.SetScopeId(wanted.ScopeId());
        if (have == wanted)
            index = if_nametoindex(a->ifa_name);
    }
    freeifaddrs(list);
    return index;
}
