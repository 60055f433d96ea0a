#include "common/CNetAddress.h"

#include <gtest/gtest.h>

#include <net/if.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <tuple>

TEST(CNetAddressTest, ParsesAddressAndPortOfBothFamiliesAndWritesThemBack)
{
    const struct
    {
        const char* text;
        int family;
        std::uint16_t port;
        bool multicast;
        const char* host;
    } good[] = {
        {"192.168.1.10:5000", AF_INET, 5000, false, "192.168.1.10"},
        {"239.1.2.3:1234", AF_INET, 1234, true, "239.1.2.3"},
        {"[::1]:5000", AF_INET6, 5000, false, "::1"},
        {"[ff15::1]:65535", AF_INET6, 65535, true, "ff15::1"},
        {"[2001:db8::10]:1", AF_INET6, 1, false, "2001:db8::10"},
        {"[ff02::1%lo]:5000", AF_INET6, 5000, true, "ff02::1%lo"},
        {"[::ffff:10.0.0.1]:9", AF_INET6, 9, false, "::ffff:10.0.0.1"},
    };
    for (const auto& c : good)
    {
        CNetAddress a;
        ASSERT_TRUE(CNetAddress::Parse(c.text, a)) << c.text;
        const std::size_t length = c.family == AF_INET ? sizeof(sockaddr_in) : sizeof(sockaddr_in6);
        EXPECT_EQ(std::make_tuple(a.Family(), a.Port(), a.IsMulticast(), a.HostString(), a.ToString(), a.Length()),
                  std::make_tuple(c.family, c.port, c.multicast, std::string(c.host), std::string(c.text), length));
        CNetAddress again;
        ASSERT_TRUE(CNetAddress::Parse(a.ToString(), again));
        EXPECT_TRUE(again == a) << c.text;
    }
}

TEST(CNetAddressTest, RefusesWhatIsNoAddressWithPortAndKeepsTheValue)
{
    const char* bad[] = {
        "",
        "5000",
        ":5000",
        "10.0.0.1",
        "10.0.0.1:",
        "10.0.0.1:0",
        "10.0.0.1:65536",
        "10.0.0.1:50a",
        " 10.0.0.1:5000",
        "10.0.0.1:5000 ",
        "::1:5000", // an IPv6 port needs brackets
        "[::1]",
        "[::1]5000",
        "[10.0.0.1]:5000",
        "[::1:5000",
        "[gg::1]:5000",
        "host.example:5000",
        "[fe80::1%no-such-if9]:5000",
        "[fe80::1%]:5000",
        "10.0.0.05:5000",
    };
    const CNetAddress kept = CNetAddress::FromIpv4(0x0A000001, 7);
    for (const char* text : bad)
    {
        CNetAddress a = kept;
        EXPECT_FALSE(CNetAddress::Parse(text, a)) << text;
        EXPECT_TRUE(a == kept) << text;
    }
}

TEST(CNetAddressTest, SplitsAnyHostFromItsPortAtTheLastColon)
{
    const struct
    {
        const char* text;
        const char* host;
        std::uint16_t port;
    } good[] = {{":5000", "", 5000}, {"host.example:1", "host.example", 1}, {"[::1]:65535", "[::1]", 65535}};
    for (const auto& c : good)
    {
        std::string_view host;
        std::uint16_t port = 0;
        ASSERT_TRUE(CNetAddress::SplitHostPort(c.text, host, port)) << c.text;
        EXPECT_EQ(host, c.host);
        EXPECT_EQ(port, c.port) << c.text;
    }
    for (const char* text : {"5000", "host:", "host:0", "host:65536", "host:+500", "host:123456"})
    {
        std::string_view host = "kept";
        std::uint16_t port = 7;
        EXPECT_FALSE(CNetAddress::SplitHostPort(text, host, port)) << text;
        EXPECT_TRUE(host == "kept" && port == 7) << text;
    }
}

TEST(CNetAddressTest, HostsWithoutPortTakeBracketsOnlyForIpv6)
{
    const struct
    {
        const char* text;
        bool ok;
        int family;
    } cases[] = {
        {"10.0.0.1", true, AF_INET},
        {"ff15::1", true, AF_INET6},
        {"[ff15::1]", true, AF_INET6},
        {"[10.0.0.1]", false, 0},
        {"::1]", false, 0},
        {"eth0", false, 0},
        {"", false, 0},
    };
    for (const auto& c : cases)
    {
        CNetAddress a;
        EXPECT_EQ(CNetAddress::ParseHost(c.text, a, 42), c.ok) << c.text;
        if (c.ok)
        {
            EXPECT_EQ(std::make_pair(a.Family(), a.Port()), std::make_pair(c.family, std::uint16_t{42})) << c.text;
        }
    }
}

TEST(CNetAddressTest, KeepsOrvanesIpv4HostOrderAndTellsGroupsAndAnyApart)
{
    const CNetAddress v4 = CNetAddress::FromIpv4(0xEF010203u, 5000); // 239.1.2.3
    EXPECT_EQ(std::make_tuple(v4.ToString(), v4.Ipv4(), v4.IsMulticast()),
              std::make_tuple(std::string("239.1.2.3:5000"), 0xEF010203u, true));

    CNetAddress v6;
    ASSERT_TRUE(CNetAddress::ParseHost("ff0e::1", v6));
    EXPECT_EQ(v6.Ipv4(), 0u) << "an IPv6 address has no IPv4 form";
    EXPECT_TRUE(v6.IsMulticast());
    v6.SetPort(1234);
    EXPECT_EQ(v6.ToString(), "[ff0e::1]:1234");

    const struct
    {
        const char* host;
        bool multicast;
        bool any;
    } kinds[] = {
        {"224.0.0.0", true, false},  {"239.255.255.255", true, false}, {"223.255.255.255", false, false},
        {"240.0.0.0", false, false}, {"0.0.0.0", false, true},         {"::", false, true},
        {"fe80::1", false, false},   {"ff00::", true, false},          {"feff::1", false, false},
    };
    for (const auto& k : kinds)
    {
        CNetAddress a;
        ASSERT_TRUE(CNetAddress::ParseHost(k.host, a)) << k.host;
        EXPECT_EQ(std::make_pair(a.IsMulticast(), a.IsAny()), std::make_pair(k.multicast, k.any)) << k.host;
    }

    const CNetAddress none;
    EXPECT_EQ(std::make_tuple(none.IsSet(), none.ToString(), none.Length(), none.IsMulticast()),
              std::make_tuple(false, std::string(), std::size_t{0}, false));
}

TEST(CNetAddressTest, FindsTheLoopbackInterfaceByNameAndByEachOfItsAddresses)
{
    const unsigned lo = if_nametoindex("lo");
    ASSERT_NE(lo, 0u);
    EXPECT_EQ(CNetAddress::InterfaceIndex("lo"), lo);
    EXPECT_EQ(CNetAddress::InterfaceIndex("127.0.0.1"), lo);
    EXPECT_EQ(CNetAddress::InterfaceIndex(""), 0u);
    EXPECT_EQ(CNetAddress::InterfaceIndex("no-such-if9"), 0u);
    EXPECT_EQ(CNetAddress::InterfaceIndex("192.0.2.77"), 0u) << "TEST-NET-1 is on no interface here";
    EXPECT_EQ(CNetAddress::InterfaceIndex("2001:db8::77"), 0u);
}
