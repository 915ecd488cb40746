#include "ipsettings/CommandTest.h"

#include "comm/Recvthread.h"
#include "comm/SocketHelpers.h"
#include "platform/UniqueFd.h"
#include "support/CommandSimulator.h"
#include "support/TestNetwork.h"
#include "support/TestSockets.h"
#include "tools/ampsim/Ampsim.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <future>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

int ElapsedMs(Clock::time_point since)
{
    return static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
}

// One simulated amplifier serving only its command port on loopback, at a free port.
class CommandTestOnSimulator : public ::testing::Test {
protected:
    void Start(const std::function<void(ampsim::Amplifier&)>& change = {})
    {
        sim = LoopbackCommandSimulator(change);
        mac = sim->Amp(0).Mac;
        std::string error;
        ASSERT_TRUE(sim->Start(error)) << error;
        port = sim->CommandPort();
    }

    std::string Where() const { return "127.0.0.1:" + std::to_string(port); }

    std::unique_ptr<ampsim::Simulator> sim;
    std::string mac;
    int port = 0;
};

TEST_F(CommandTestOnSimulator, VersionQueryGivesTheThreeLineReport)
{
    Start();
    const auto result = RunCommandTest("127.0.0.1", port, "$$$VER?");
    ASSERT_TRUE(result.Connected) << result.Text;
    EXPECT_EQ(result.Text, "Connected to " + Where() + " ...\r\n$$$VER?\r\nAMPSIM V1.0 " + mac + "\r\n");
    EXPECT_EQ(sim->Connections(), 1u);
}

TEST_F(CommandTestOnSimulator, HostNamesAreConnectedToAsTyped)
{
    Start();
    const auto result = RunCommandTest("localhost", port, "$$$VER?");
    ASSERT_TRUE(result.Connected) << result.Text;
    EXPECT_EQ(result.Text.rfind("Connected to localhost:" + std::to_string(port) + " ...\r\n", 0), 0u)
        << result.Text;
}

TEST_F(CommandTestOnSimulator, CarriageReturnBeforeTheLineFeedStaysInTheReply)
{
    Start([](ampsim::Amplifier& amp) { amp.CommandCrLf = true; });
    const auto result = RunCommandTest("127.0.0.1", port, "$$$VER?");
    EXPECT_EQ(result.Text, "Connected to " + Where() + " ...\r\n$$$VER?\r\nAMPSIM V1.0 " + mac + "\r\r\n");
}

TEST_F(CommandTestOnSimulator, EmptyCommandSendsALoneLineAndLeavesTheSecondLineEmpty)
{
    Start();
    const auto result = RunCommandTest("127.0.0.1", port, "");
    ASSERT_TRUE(result.Connected);
    EXPECT_EQ(result.Text, "Connected to " + Where() + " ...\r\n\r\nERROR unknown command\r\n")
        << "the amplifier saw one (empty) line";
}

TEST_F(CommandTestOnSimulator, SilentAmplifierGivesAnEmptyThirdLineAfterTheTimeOut)
{
    ASSERT_NO_FATAL_FAILURE(Start([](ampsim::Amplifier& amp) { amp.CommandSilent = true; }));
    const auto started = Clock::now();
    const auto result = RunCommandTest("127.0.0.1", port, "$$$VER?");
    const int elapsed = ElapsedMs(started);
    ASSERT_TRUE(result.Connected);
    EXPECT_EQ(result.Text, "Connected to " + Where() + " ...\r\n$$$VER?\r\n\r\n");
    EXPECT_GE(elapsed, 1000) << "waited for the reply";
    EXPECT_LT(elapsed, 2500) << "a 1000 ms wait, with room for a loaded machine";
}

TEST(CommandTest, NothingListeningGivesTheErrorTextAndNoReport)
{
    const int port = UnusedLoopbackPort();
    ASSERT_GT(port, 0);

    const auto result = RunCommandTest("127.0.0.1", port, "$$$VER?");
    EXPECT_FALSE(result.Connected);
    EXPECT_EQ(result.Text, "Connecting to 127.0.0.1:" + std::to_string(port) + " failed.");
}

TEST(CommandTest, SendsTheCommandWithASingleLineFeedAndNothingElse)
{
    std::string status;
    const UniqueFd listener(OpenListenSocket("127.0.0.1", 0, status));
    ASSERT_NE(listener.get(), -1) << status;
    const int port = LocalPortOf(listener.get());

    // The peer keeps everything it receives until the tester closes, and answers nothing. It gives
    // up after 5 s without a connection or a byte, so a tester that never connects or never closes
    // fails the test instead of hanging it.
    auto received = std::async(std::launch::async, [listener = listener.get()] {
        std::string peer, ignored, bytes;
        if (!(WaitReadable(listener, -1, 5000) == WaitResult::Readable))
            return std::string("no connection");
        const UniqueFd s(AcceptPeer(listener, peer, ignored));
        char buffer[256];
        ssize_t n = 0;
        while (s && WaitReadable(s.get(), -1, 5000) == WaitResult::Readable
            && (n = ::recv(s.get(), buffer, sizeof buffer, 0)) > 0)
            bytes.append(buffer, static_cast<size_t>(n));
        return n == 0 ? bytes : "never closed: " + bytes;
    });
    RunCommandTest("127.0.0.1", port, "A B\tC", 200);
    ASSERT_EQ(received.wait_for(std::chrono::seconds(15)), std::future_status::ready);
    EXPECT_EQ(received.get(), "A B\tC\n");
}

// In the private network no name server answers: a host name must not hold the test up longer
// than the 1000 ms limit (the resolver itself would wait 5 s per try).
TEST(CommandTest, HostNameThatNoServerAnswersFailsWithinTheTimeLimit)
{
    if (auto reason = TestNetwork::Unavailable(); !reason.empty())
        GTEST_SKIP() << reason;
    TestNetwork net(0);
    ASSERT_TRUE(net.Up()) << net.Error();
    TCommandTestResult result;
    int elapsed = 0;
    net.RunInApp([&] {
        const auto started = Clock::now();
        result = RunCommandTest("amplifier-that-no-server-knows.invalid", 2500, "$$$VER?");
        elapsed = ElapsedMs(started);
    });
    EXPECT_FALSE(result.Connected);
    EXPECT_EQ(result.Text, "Connecting to amplifier-that-no-server-knows.invalid:2500 failed.");
    EXPECT_LT(elapsed, 2500);
}

} // namespace
