#include "platform/UniqueFd.h"
#include "support/TestNetwork.h"
#include "support/TestSockets.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fstream>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sstream>
#include <sys/socket.h>
#include <unistd.h>

namespace {

bool NamespaceExists(const std::string& path)
{
    return ::access(path.c_str(), F_OK) == 0;
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(TestNetwork, AmplifierAddressesCountAcrossTheThirdOctet)
{
    EXPECT_EQ(TestNetwork::AmpAddress(0), "198.18.1.1");
    EXPECT_EQ(TestNetwork::AmpAddress(253), "198.18.1.254");
    EXPECT_EQ(TestNetwork::AmpAddress(254), "198.18.2.1");
    EXPECT_EQ(TestNetwork::AmpAddress(4999), "198.18.20.174");
}

TEST(TestNetwork, BroadcastFromAppSideReachesAmpSideOnly)
{
    if (auto reason = TestNetwork::Unavailable(); !reason.empty())
        GTEST_SKIP() << reason;
    TestNetwork net(3);
    ASSERT_TRUE(net.Up()) << net.Error();

    UniqueFd ampSocket;
    net.RunInAmp([&] { ampSocket = BoundUdpSocket("0.0.0.0", 48001); });
    ASSERT_GE(ampSocket.get(), 0);
    net.RunInApp([&] {
        const UniqueFd fd = BoundUdpSocket("0.0.0.0", 0);
        sockaddr_in to {};
        to.sin_family = AF_INET;
        to.sin_port = htons(48001);
        to.sin_addr.s_addr = htonl(INADDR_BROADCAST);
        EXPECT_EQ(::sendto(fd.get(), "0 1 A", 5, 0, reinterpret_cast<sockaddr*>(&to), sizeof to), 5);
    });
    pollfd p { ampSocket.get(), POLLIN, 0 };
    ASSERT_EQ(::poll(&p, 1, 5000), 1);
    char buffer[64];
    sockaddr_in from {};
    socklen_t fromLength = sizeof from;
    auto n = ::recvfrom(
        ampSocket.get(), buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
    EXPECT_EQ(std::string(buffer, static_cast<size_t>(n)), "0 1 A");
    char text[INET_ADDRSTRLEN];
    EXPECT_STREQ(::inet_ntop(AF_INET, &from.sin_addr, text, sizeof text), "198.18.0.1");
    ampSocket.reset();

    // The test's own thread never left the machine's namespace.
    EXPECT_EQ(ReadFile("/proc/thread-self/net/fib_trie").find("198.18.0.1"), std::string::npos);
}

TEST(TestNetwork, SpawnedProcessSeesOnlyItsSideAndIsReapedOnScopeEnd)
{
    if (auto reason = TestNetwork::Unavailable(); !reason.empty())
        GTEST_SKIP() << reason;
    TestNetwork net(2);
    ASSERT_TRUE(net.Up()) << net.Error();
    std::string out
        = std::string(TOVRIN_BINARY_DIR) + "/testnet_spawn_" + std::to_string(::getpid()) + ".txt";
    {
        auto listing = net.Spawn(NetSide::Amp, { "ip", "-o", "-4", "addr", "show" }, out);
        ASSERT_TRUE(listing);
        EXPECT_EQ(listing.Wait(10000), 0);
    }
    std::string addresses = ReadFile(out);
    ::unlink(out.c_str());
    EXPECT_NE(addresses.find("198.18.1.2/16"), std::string::npos) << addresses;
    EXPECT_EQ(addresses.find("198.18.0.1"), std::string::npos) << addresses;

    pid_t pid = -1;
    {
        auto sleeper = net.Spawn(NetSide::App, { "sleep", "60" });
        ASSERT_TRUE(sleeper);
        pid = sleeper.Pid();
        EXPECT_TRUE(sleeper.Running());
    }
    EXPECT_NE(::kill(pid, 0), 0);
}

TEST(TestNetwork, ReplugGivesTheSameNameAndAddressesUnderANewIndex)
{
    if (auto reason = TestNetwork::Unavailable(); !reason.empty())
        GTEST_SKIP() << reason;
    TestNetwork net(2);
    ASSERT_TRUE(net.Up()) << net.Error();
    ScopedNamespace app(net.NamespacePath(NetSide::App));
    ASSERT_TRUE(app.Entered());
    const unsigned before = ::if_nametoindex("tvapp");
    ASSERT_NE(before, 0u);

    ASSERT_TRUE(net.Unplug()) << net.Error();
    EXPECT_EQ(::if_nametoindex("tvapp"), 0u);
    EXPECT_EQ(ReadFile("/proc/thread-self/net/fib_trie").find("198.18.0.1"), std::string::npos);

    ASSERT_TRUE(net.Plug()) << net.Error();
    const unsigned after = ::if_nametoindex("tvapp");
    EXPECT_NE(after, 0u);
    EXPECT_NE(after, before);
    EXPECT_NE(ReadFile("/proc/thread-self/net/fib_trie").find("198.18.0.1"), std::string::npos);
    std::string amp;
    net.RunInAmp([&] { amp = ReadFile("/proc/thread-self/net/fib_trie"); });
    EXPECT_NE(amp.find("198.18.1.2"), std::string::npos) << amp;
}

TEST(TestNetwork, ScopedNamespaceReturnsAndDestructorRemovesNetwork)
{
    if (auto reason = TestNetwork::Unavailable(); !reason.empty())
        GTEST_SKIP() << reason;
    std::string appPath;
    {
        TestNetwork net(1);
        ASSERT_TRUE(net.Up()) << net.Error();
        appPath = net.NamespacePath(NetSide::App);
        EXPECT_TRUE(NamespaceExists(appPath));
        {
            ScopedNamespace inside(appPath);
            ASSERT_TRUE(inside.Entered());
            EXPECT_NE(ReadFile("/proc/thread-self/net/fib_trie").find("198.18.0.1"), std::string::npos);
        }
        EXPECT_EQ(ReadFile("/proc/thread-self/net/fib_trie").find("198.18.0.1"), std::string::npos);
    }
    EXPECT_FALSE(NamespaceExists(appPath));
    EXPECT_FALSE(NamespaceExists(appPath.substr(0, appPath.size() - 3) + "amp"));
}

} // namespace
