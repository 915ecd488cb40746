#include "platform/LocalInterfaces.h"

#include "support/PrivateLoopback.h"
#include "support/TestNetwork.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

namespace {

// In a network of its own with a loopback interface that is up and one other interface: exactly the
// other interface's address, and the loopback address among all up addresses.
TEST(LocalIPv4Addresses, ListsTheUpInterfacesWithoutLoopback)
{
    std::vector<std::string> listed;
    std::vector<platform::InterfaceAddress> all;
    bool ready = false;
    const std::string unavailable = RunInPrivateLoopbackNetwork([&] {
        ForeignInterface other;
        ready = other.Ready();
        listed = platform::LocalIPv4Addresses();
        all = platform::UpInterfaceAddresses();
    });
    if (!unavailable.empty())
        GTEST_SKIP() << unavailable;
    ASSERT_TRUE(ready);
    EXPECT_EQ(listed, std::vector<std::string> { "10.9.9.1" });
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0].device, "lo");
    EXPECT_EQ(all[0].address, inet_addr("127.0.0.1"));
    EXPECT_TRUE(all[0].loopback);
    EXPECT_EQ(all[1].device, "tvforeign0");
    EXPECT_FALSE(all[1].loopback);
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
