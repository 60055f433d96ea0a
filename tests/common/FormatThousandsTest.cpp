#include "common/FormatThousands.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

TEST(FormatThousandsTest, GroupsAtMostThreeTimes)
{
    EXPECT_EQ(FormatThousands(12345, '.'), "12.345");
    EXPECT_EQ(FormatThousands(999, '.'), "999");
    EXPECT_EQ(FormatThousands(1000, ','), "1,000");
    // 13 digits: the first four stay together.
    EXPECT_EQ(FormatThousands(1'234'567'890'123, '.'), "1234.567.890.123");
    EXPECT_EQ(FormatThousands(-1234, '.'), "-1.234");
    EXPECT_EQ(FormatThousands(std::numeric_limits<std::int64_t>::min(), '.'), "-9223372036.854.775.808");
    EXPECT_EQ(FormatThousands(4'000'000, std::string_view("\xE2\x80\xAF")), "4\xE2\x80\xAF"
                                                                            "000\xE2\x80\xAF"
                                                                            "000");
    EXPECT_FALSE(LocaleThousandsSeparator().empty());
}
