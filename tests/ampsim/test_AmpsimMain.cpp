// The ampsim program as the demo runs it: in the amplifier side of a private network.

#include "platform/UniqueFd.h"
#include "support/PrivateNetworkTest.h"
#include "support/TestSockets.h"
#include "tools/ampsim/Ampsim.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <set>
#include <sstream>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

namespace {

const std::string Program = std::string(TOVRIN_BINARY_DIR) + "/ampsim";

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class AmpsimProgram : public PrivateNetworkTest<3> {
protected:
    void SetUp() override
    {
        PrivateNetworkTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        output = std::string(TOVRIN_BINARY_DIR) + "/ampsim_main_" + std::to_string(::getpid()) + ".txt";
    }

    void TearDown() override { ::unlink(output.c_str()); }

    bool WaitForOutput(const std::string& text)
    {
        return ampsim::Simulator::WaitUntil(
            [&] { return ReadFile(output).find(text) != std::string::npos; }, 5000);
    }

    std::string output;
};

TEST_F(AmpsimProgram, ServesNamedAmplifiersAppliesSettingsAndEndsCleanlyOnSigterm)
{
    auto program = net->Spawn(NetSide::Amp,
        { Program, "--count", "3", "--names", "Stage-Left,FOH-Rack-2", "--reboot", "100", "--fault-amps", "2",
            "--silent" },
        output);
    ASSERT_TRUE(program);
    ASSERT_TRUE(WaitForOutput("ampsim: 3 amplifier(s)")) << ReadFile(output);

    UniqueFd app;
    net->RunInApp([&] { app = BoundUdpSocket("0.0.0.0", 8001); });
    ASSERT_GE(app.get(), 0);
    auto send = [&](const std::string& text) { SendDatagram(app.get(), text, "255.255.255.255", 8001); };
    send(ampsim::Hello);

    std::set<std::string> replies;
    for (;;) {
        pollfd p { app.get(), POLLIN, 0 };
        if (::poll(&p, 1, 1000) != 1)
            break;
        char buffer[256];
        auto n = ::recv(app.get(), buffer, sizeof buffer, 0);
        std::string text(buffer, static_cast<size_t>(n));
        if (text != ampsim::Hello)
            replies.insert(text);
    }
    // The second amplifier is silent; the names are cycled.
    EXPECT_EQ(replies,
        (std::set<std::string> { "0050C2A10001 0 198.18.1.1 255.255.0.0 0.0.0.0 Stage-Left",
            "0050C2A10003 0 198.18.1.3 255.255.0.0 0.0.0.0 Stage-Left-2" }));

    send("0050C2A10003 5 0 198.18.1.2 255.255.0.0 198.18.0.1");
    EXPECT_TRUE(WaitForOutput("0050C2A10003 applies \"0050C2A10003 5 0 198.18.1.2 255.255.0.0 198.18.0.1\""));
    EXPECT_TRUE(
        WaitForOutput("0050C2A10003 is back: 0050C2A10003 0 198.18.1.2 255.255.0.0 198.18.0.1 Stage-Left-2"));
    app.reset();

    EXPECT_EQ(program.Terminate(), 0);
    EXPECT_NE(ReadFile(output).find("ampsim: stopped by SIGTERM; 1 hello(s) received, 2 repl(ies) sent"),
        std::string::npos)
        << ReadFile(output);
}

TEST_F(AmpsimProgram, WritesWhenEachReplyLeftOnExit)
{
    const std::string times = output + ".times";
    auto program = net->Spawn(NetSide::Amp,
        { Program, "--count", "3", "--fault-amps", "2", "--silent", "--jitter", "50", "--reply-times",
            times },
        output);
    ASSERT_TRUE(program);
    ASSERT_TRUE(WaitForOutput("ampsim: 3 amplifier(s)")) << ReadFile(output);
    UniqueFd app;
    net->RunInApp([&] { app = BoundUdpSocket("0.0.0.0", 8001); });
    ASSERT_GE(app.get(), 0);

    // Each reply must have left after its hello and before it arrived here, on the same clock.
    using Clock = std::chrono::steady_clock;
    auto nanoseconds = [](Clock::time_point t) {
        return std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count();
    };
    struct Window {
        std::string Mac;
        long long After, Before;
    };
    std::vector<Window> arrivals;
    for (int round = 0; round < 2; ++round) {
        const long long hello = nanoseconds(Clock::now());
        SendDatagram(app.get(), ampsim::Hello, "255.255.255.255", 8001);
        pollfd p { app.get(), POLLIN, 0 };
        while (::poll(&p, 1, 500) == 1) {
            char buffer[256];
            auto n = ::recv(app.get(), buffer, sizeof buffer, 0);
            std::string text(buffer, static_cast<size_t>(n));
            if (text != ampsim::Hello)
                arrivals.push_back(Window { text.substr(0, 12), hello, nanoseconds(Clock::now()) });
        }
    }
    EXPECT_EQ(program.Terminate(), 0);

    std::ifstream in(times);
    std::vector<std::pair<std::string, long long>> sent;
    std::string mac;
    for (long long at = 0; in >> mac >> at;)
        sent.emplace_back(mac, at);
    ::unlink(times.c_str());
    // The silent one sends nothing, so records nothing; sent and arrived in the same order.
    ASSERT_EQ(arrivals.size(), 4u);
    ASSERT_EQ(sent.size(), arrivals.size());
    for (size_t i = 0; i < sent.size(); ++i) {
        EXPECT_EQ(sent[i].first, arrivals[i].Mac);
        EXPECT_GE(sent[i].second, arrivals[i].After);
        EXPECT_LE(sent[i].second, arrivals[i].Before);
    }
}

TEST_F(AmpsimProgram, RefusesUnknownOptionsAndHelps)
{
    auto wrong = net->Spawn(NetSide::Amp, { Program, "--count" }, output);
    EXPECT_EQ(wrong.Wait(5000), 2);
    EXPECT_NE(ReadFile(output).find("unknown or incomplete option --count"), std::string::npos);
    auto help = net->Spawn(NetSide::Amp, { Program, "--help" }, output);
    EXPECT_EQ(help.Wait(5000), 0);
    EXPECT_NE(ReadFile(output).find("usage: ampsim"), std::string::npos);
}

} // namespace
