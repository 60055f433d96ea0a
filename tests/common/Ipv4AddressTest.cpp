#include "common/Ipv4Address.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

TEST(Ipv4AddressTest, ParsesDottedDecimalMostSignificantFirst)
{
    const struct
    {
        const char* text;
        std::uint32_t value;
    } good[] = {
        {"192.168.1.10", 0xC0A8010Au},
        {"0.0.0.0", 0u},
        {"255.255.255.255", 0xFFFFFFFFu},
        {"239.1.2.3", 0xEF010203u},
    };
    for (const auto& c : good)
    {
        std::uint32_t address = 1;
        EXPECT_TRUE(ParseIpv4(c.text, address)) << c.text;
        EXPECT_EQ(address, c.value) << c.text;
        EXPECT_EQ(FormatIpv4(c.value), c.text);
    }
}

TEST(Ipv4AddressTest, RefusesEverythingElseAndKeepsTheValue)
{
    for (const char* bad : {"", "10.0.0.256", "10.0.0.5 ", " 10.0.0.5", "10.0.0.5.1", "10.0.5", "10.0.0.05",
                            "0x0A.0.0.5", "-1.0.0.0", "10.0.0.", "localhost", "1.2.3.4:80", "1000.0.0.0"})
    {
        std::uint32_t address = 0x01020304u;
        EXPECT_FALSE(ParseIpv4(bad, address)) << bad;
        EXPECT_EQ(address, 0x01020304u) << bad;
    }
    // A view is not cut at a zero byte: "10.0.0.5" followed by junk stays refused.
    const std::string withZero("10.0.0.5\0junk", 13);
    std::uint32_t address = 0;
    EXPECT_FALSE(ParseIpv4(withZero, address));
    // A view into a longer text parses only its own characters.
    const std::string destination = "10.0.0.5:1234";
    EXPECT_TRUE(ParseIpv4(std::string_view(destination).substr(0, 8), address));
    EXPECT_EQ(address, 0x0A000005u);
}
