// The version exchange against real servers on loopback: answering, refusing, silent, trickling,
// over-long and closing amplifiers, one at a time and many at once.

#include "ctl/VersionQuery.h"
#include "platform/UniqueFd.h"
#include "support/PrivateLoopback.h"
#include "support/TestSockets.h"
#include "tools/ampsim/Ampsim.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <thread>

namespace {

TVersionParams Quick(int port)
{
    TVersionParams params;
    params.Port = port;
    params.ConnectTimeoutMs = 500;
    params.ReplyTimeoutMs = 300;
    return params;
}

// Accepts one connection, reads the command, and closes it without a word.
TEST(AskVersion, AnAmplifierThatClosesGivesNoVersion)
{
    UniqueFd listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const sockaddr_in address = LoopbackAddress(0);
    ASSERT_EQ(::bind(listener.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener.get(), 1), 0);
    std::thread server([&] {
        UniqueFd peer(::accept(listener.get(), nullptr, nullptr));
        char command[16];
        (void)::recv(peer.get(), command, sizeof command, 0);
        (void)::send(peer.get(), "V1", 2, MSG_NOSIGNAL);
    });
    const TVersionAnswer answer = AskVersion("127.0.0.1", Quick(LocalPortOf(listener.get())));
    server.join();
    EXPECT_EQ(answer.Error, TVersionError::Closed);
    EXPECT_EQ(answer.Version, "");
}

TEST(AskVersion, RefusedAndUnansweredConnectionsSayWhich)
{
    const UniqueFd refusing = RefusingLoopbackSocket();
    EXPECT_EQ(AskVersion("127.0.0.1", Quick(LocalPortOf(refusing.get()))).Error, TVersionError::Refused);
    const UnansweredPort unanswered = UnansweredLoopbackPort();
    EXPECT_EQ(AskVersion("127.0.0.1", Quick(unanswered.port)).Error, TVersionError::ConnectTimedOut);
    EXPECT_EQ(AskVersion("no-such-host.invalid", Quick(1)).Error, TVersionError::UnknownHost);
}

// Each amplifier on its own loopback address, all at one port, as the command port is; asked all
// at once and one at a time, so that a trickling or silent one holding its slot shows.
TEST(AskVersions, EachAmplifierGetsItsOwnAnswerAndNoneHoldsUpTheRun)
{
    const std::string hostile = std::string("V2 \x1b[2J\r", 8) + "\xff,\"";
    const struct {
        const char* ip;
        std::function<void(ampsim::Amplifier&)> setUp;
        TVersionError error;
        std::string version;
    } cases[] = {
        { "127.0.0.11", [](ampsim::Amplifier& a) { a.Version = "FW 1.2.3"; }, TVersionError::None,
            "FW 1.2.3" },
        { "127.0.0.12", [&](ampsim::Amplifier& a) { a.Version = hostile; }, TVersionError::None, hostile },
        { "127.0.0.13", [](ampsim::Amplifier& a) { a.CommandSilent = true; }, TVersionError::TimedOut, "" },
        // One byte every 20 ms and never a line feed: only a deadline for the whole line ends it.
        { "127.0.0.14", [](ampsim::Amplifier& a) { a.CommandTrickleMs = 20; }, TVersionError::TimedOut, "" },
        { "127.0.0.15", [](ampsim::Amplifier& a) { a.Version = std::string(MaxVersionLine, 'x'); },
            TVersionError::None, std::string(MaxVersionLine, 'x') },
        { "127.0.0.16", [](ampsim::Amplifier& a) { a.Version = std::string(MaxVersionLine + 1, 'y'); },
            TVersionError::TooLong, std::string(MaxVersionLine, 'y') },
        // The line's ending, CR LF here, is no part of the version; the CR inside hostile is.
        { "127.0.0.17", [](ampsim::Amplifier& a) { a.CommandCrLf = true; }, TVersionError::None,
            "AMPSIM V1.0 0050C2A10007" },
    };
    std::vector<std::vector<TVersionAnswer>> runs;
    std::vector<std::vector<size_t>> told;
    const std::string unavailable = RunInPrivateLoopbackNetwork([&] {
        ampsim::Options options;
        options.Discovery = false;
        options.CommandPort = 0;
        std::vector<ampsim::Amplifier> amps = ampsim::MakeAmplifiers(7, "127.0.0.11");
        for (size_t i = 0; i < amps.size(); ++i)
            cases[i].setUp(amps[i]);
        ampsim::Simulator simulator(options, amps);
        std::string error;
        ASSERT_TRUE(simulator.Start(error)) << error;
        std::vector<std::string> hosts;
        for (const auto& c : cases)
            hosts.push_back(c.ip);
        for (const int parallel : { 20, 1 }) {
            told.emplace_back();
            runs.push_back(AskVersions(hosts, Quick(simulator.CommandPort()), parallel,
                [&](size_t index, const TVersionAnswer&) { told.back().push_back(index); }));
        }
    });
    if (!unavailable.empty())
        GTEST_SKIP() << unavailable;
    ASSERT_EQ(runs.size(), 2u);
    for (size_t run = 0; run < runs.size(); ++run) {
        ASSERT_EQ(runs[run].size(), std::size(cases));
        for (size_t i = 0; i < std::size(cases); ++i) {
            EXPECT_EQ(runs[run][i].Error, cases[i].error) << cases[i].ip << " run " << run;
            EXPECT_EQ(runs[run][i].Version, cases[i].version) << cases[i].ip << " run " << run;
        }
        std::sort(told[run].begin(), told[run].end());
        EXPECT_EQ(told[run].size(), std::size(cases));
        EXPECT_EQ(std::unique(told[run].begin(), told[run].end()), told[run].end());
    }
}

TEST(AskVersions, AStopStartsNoFurtherExchange)
{
    const UniqueFd refusing = RefusingLoopbackSocket();
    const std::vector<std::string> hosts(50, "127.0.0.1");
    size_t told = 0;
    const auto answers = AskVersions(
        hosts, Quick(LocalPortOf(refusing.get())), 1, [&](size_t, const TVersionAnswer&) { ++told; },
        [] { return true; });
    ASSERT_EQ(answers.size(), hosts.size());
    const auto notAsked = std::count_if(answers.begin(), answers.end(),
        [](const TVersionAnswer& a) { return a.Error == TVersionError::NotAsked; });
    EXPECT_GE(notAsked, 48);
    EXPECT_EQ(told + static_cast<size_t>(notAsked), hosts.size());
    EXPECT_STREQ(VersionErrorText(TVersionError::NotAsked), "not asked");
}

} // namespace
