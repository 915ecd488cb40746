#include "finder/Discovery.h"

#include <gtest/gtest.h>

TEST(SettingsDatagram, FixedAddressFormJoinsTheFieldsWithSingleBlanks)
{
    const std::string text
        = BuildSettingsDatagram("0A1B2C", false, "192.168.1.50", "255.255.255.0", "192.168.1.1");
    EXPECT_EQ(text, "0A1B2C 5 0 192.168.1.50 255.255.255.0 192.168.1.1");
    EXPECT_EQ(text.size(), 49u);
}

TEST(SettingsDatagram, DhcpFormIgnoresTheAddressFields)
{
    EXPECT_EQ(
        BuildSettingsDatagram("0A1B2C", true, "192.168.1.50", "255.255.255.0", "192.168.1.1"), "0A1B2C 5 1");
    EXPECT_EQ(BuildSettingsDatagram("0A1B2C", true, "", "", ""), "0A1B2C 5 1");
}

TEST(SettingsDatagram, TextsGoOutUncheckedAndAnEmptyGatewayLeavesTheTrailingBlank)
{
    EXPECT_EQ(BuildSettingsDatagram("0A1B2C", false, "10.0.0.9", "255.0.0.0", ""),
        "0A1B2C 5 0 10.0.0.9 255.0.0.0 ");
    EXPECT_EQ(BuildSettingsDatagram("AB", false, " x ", "", "y"), "AB 5 0  x   y");
}
