#include "platform/LocalInterfaces.h"

#include "support/TestNetwork.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

namespace {

TEST(LocalIPv4Addresses, ListsDottedAddressesWithoutLoopback)
{
    for (const auto& address : platform::LocalIPv4Addresses()) {
        in_addr parsed {};
        EXPECT_EQ(inet_pton(AF_INET, address.c_str(), &parsed), 1) << address;
        EXPECT_NE(address.rfind("127.", 0), 0u) << address;
    }
}

TEST(LocalIPv4Addresses, InAPrivateNetworkListsExactlyItsInterfaceAddress)
{
    if (auto reason = TestNetwork::Unavailable(); !reason.empty())
        GTEST_SKIP() << reason;
    TestNetwork network(0);
    ASSERT_TRUE(network.Up()) << network.Error();
    std::vector<std::string> app, amp;
    network.RunInApp([&] { app = platform::LocalIPv4Addresses(); });
    EXPECT_EQ(app, std::vector<std::string> { TestNetwork::AppAddress() });
    // The amplifier side's interface has no address when there are no amplifiers.
    network.RunInAmp([&] { amp = platform::LocalIPv4Addresses(); });
    EXPECT_TRUE(amp.empty());
}

} // namespace
