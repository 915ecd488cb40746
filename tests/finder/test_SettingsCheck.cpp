#include "finder/SettingsCheck.h"

#include <gtest/gtest.h>

TEST(SettingsCheck, DottedAddressesAreFourPlainDecimalNumbersUpTo255)
{
    for (const char* good : { "0.0.0.0", "255.255.255.255", "192.168.1.50", "10.255.252.180" })
        EXPECT_TRUE(IsDottedIPv4(good)) << good;
    for (const char* bad : { "", "192.168.1", "192.168.1.256", "192.168.1.1.", ".1.1.1", "1..1.1", "1.1.1.1 ",
             " 1.1.1.1", "01.1.1.1", "1.1.1.00", "a.b.c.d", "1234.1.1.1", "-1.1.1.1", "+1.1.1.1",
             "1.1.1.1/24", "1.1.1.1.1", "192,168,1,1", "amp.example" })
        EXPECT_FALSE(IsDottedIPv4(bad)) << '"' << bad << '"';

    uint32_t value = 0;
    ASSERT_TRUE(ParseDottedIPv4("10.255.252.180", value));
    EXPECT_EQ(value, 0x0AFFFCB4u);
}

TEST(SettingsCheck, NetmasksNeedContiguousOnesFromTheTop)
{
    for (const char* good :
        { "255.255.255.0", "255.255.248.0", "255.0.0.0", "128.0.0.0", "255.255.255.252", "255.255.255.255" })
        EXPECT_TRUE(IsValidNetmask(good)) << good;
    for (const char* bad :
        { "0.0.0.0", "255.0.255.0", "255.255.255.1", "0.255.255.255", "255.255.253.0", "255.255.255", "24" })
        EXPECT_FALSE(IsValidNetmask(bad)) << bad;
}

TEST(SettingsCheck, ProblemsNameEachWrongFieldAndAllowAnEmptyGateway)
{
    EXPECT_EQ(FindSettingsProblems("192.168.1.50", "255.255.255.0", "192.168.1.1"), "");
    EXPECT_EQ(FindSettingsProblems("192.168.1.50", "255.255.255.0", ""), "");

    const std::string ip = FindSettingsProblems("192.168.1.", "255.255.255.0", "0.0.0.0");
    EXPECT_NE(ip.find("IP Address \"192.168.1.\""), std::string::npos) << ip;
    EXPECT_EQ(ip.find("Netmask"), std::string::npos);

    const std::string mask = FindSettingsProblems("192.168.1.5", "255.255.0.255", "0.0.0.0");
    EXPECT_NE(mask.find("Netmask \"255.255.0.255\""), std::string::npos) << mask;
    EXPECT_NE(mask.find("contiguous"), std::string::npos) << mask;

    const std::string notDotted = FindSettingsProblems("192.168.1.5", "/24", "0.0.0.0");
    EXPECT_NE(notDotted.find("Netmask \"/24\" is not a dotted"), std::string::npos) << notDotted;
    EXPECT_EQ(notDotted.find("contiguous"), std::string::npos) << "one complaint per field";

    const std::string all = FindSettingsProblems("", "", "gw");
    EXPECT_NE(all.find("IP Address"), std::string::npos);
    EXPECT_NE(all.find("Netmask"), std::string::npos);
    EXPECT_NE(all.find("Default Gateway \"gw\""), std::string::npos);
}
