// Signals sent to a running tovrinctl from outside: the stray ones are ignored (or, for a hang-up,
// end it as Ctrl+C does), and Ctrl+C and SIGTERM end it in order afterwards. The program runs a
// discovery in the private test network, where nothing answers, until a signal ends it.

#include "support/PrivateNetworkTest.h"
#include "support/ProgramRun.h"

#include <gtest/gtest.h>

#include <csignal>

#include <chrono>
#include <fstream>
#include <thread>

namespace {

const std::string Program = TOVRIN_BINARY_DIR "/tovrinctl";

// The value of a line of /proc/PID/status ("SigBlk:\t0000000000004002"); empty once it has ended.
std::string Status(pid_t pid, const std::string& field)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind(field + ":\t", 0) == 0)
            return line.substr(field.size() + 2);
    return {};
}

// Whether signal is in a mask of its status: "SigBlk" (blocked) or "SigIgn" (ignored).
bool InMask(pid_t pid, const std::string& mask, int signal)
{
    const std::string bits = Status(pid, mask);
    return !bits.empty() && (std::stoull(bits, nullptr, 16) >> (signal - 1) & 1) != 0;
}

using TovrinctlSignalsTest = PrivateNetworkTest<1>;

TEST_F(TovrinctlSignalsTest, StraySignalsNeverStopCtrlCAndTermFromEndingIt)
{
    const std::vector<int> stray { SIGUSR1, SIGUSR2, SIGPIPE, SIGALRM, SIGUSR1 };
    const struct {
        bool nohup; // started ignoring SIGHUP
        std::vector<int> first; // sent while it runs: it must go on
        int last; // must end it, as Ctrl+C does
    } cases[] = {
        { false, stray, SIGINT },
        { false, stray, SIGTERM },
        { false, { SIGUSR1 }, SIGHUP }, // the terminal went away
        { true, { SIGHUP, SIGUSR2 }, SIGTERM },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "nohup " << c.nohup << ", ended by " << strsignal(c.last));
        std::vector<std::string> argv { Program, "discover", "--interface", TestNetwork::AppAddress(),
            "--seconds", "60" };
        if (c.nohup)
            argv.insert(argv.begin(), "/usr/bin/nohup");
        RunningProgram program(argv, net->NamespacePath(NetSide::App));
        ASSERT_TRUE(program.Started());
        // Ready once it ignores the stray ones and its main thread blocks Ctrl+C for the waiting
        // thread (a sanitizer's runtime may block signals for a moment before).
        const auto ready = [&] {
            return InMask(program.Pid(), "SigIgn", SIGUSR2) && InMask(program.Pid(), "SigBlk", SIGINT);
        };
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!ready() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ASSERT_TRUE(ready());
        for (const int signal : c.first) {
            ASSERT_EQ(::kill(program.Pid(), signal), 0);
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        const std::string state = Status(program.Pid(), "State"); // "Z (zombie)" once it has ended
        EXPECT_TRUE(!state.empty() && state[0] != 'Z' && state[0] != 'X') << "ended by a stray signal";
        ASSERT_EQ(::kill(program.Pid(), c.last), 0);
        const ProgramResult r = program.Finish(15000);
        // 130 with the (empty) table printed: it ended through its own way out, not by the signal.
        EXPECT_EQ(r.Status, 130) << r.Err;
        EXPECT_EQ(r.Out.rfind("MAC", 0), 0u) << r.Out;
    }
}

} // namespace
