#pragma once
// The private test network for tests and benchmarks that broadcast: an app side and an amplifier
// side in network namespaces of their own, joined by a veth pair (scripts/testnet.sh). Nothing
// sent inside ever reaches this machine's real interfaces.
//
//   if (auto reason = TestNetwork::Unavailable(); !reason.empty()) GTEST_SKIP() << reason;
//   TestNetwork net(3);                 // 198.18.0.1 on the app side, 198.18.1.1..3 on the other
//   ASSERT_TRUE(net.Up()) << net.Error();
//   net.RunInAmp([&] { simulator.Start(); });   // sockets made there stay there
//   net.RunInApp([&] { worker->Open("udp:" + net.AppAddress() + ":8001"); });

#include "platform/UniqueFd.h"

#include <functional>
#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

enum class NetSide { App, Amp };

// A child process started inside one side; terminated and reaped when it goes out of scope.
class TestProcess {
public:
    TestProcess() = default;
    explicit TestProcess(pid_t pid)
        : FPid(pid)
    {
    }
    ~TestProcess();
    TestProcess(TestProcess&& other) noexcept;
    TestProcess& operator=(TestProcess&& other) noexcept;
    TestProcess(const TestProcess&) = delete;
    TestProcess& operator=(const TestProcess&) = delete;

    explicit operator bool() const { return FPid > 0; }
    pid_t Pid() const { return FPid; }
    bool Running();
    // Exit status (or 128 + signal) once the child ended within ms; -1 when it still runs.
    int Wait(int ms);
    // SIGTERM, and SIGKILL if it has not ended after graceMs; returns the exit status.
    int Terminate(int graceMs = 2000);

private:
    pid_t FPid = -1;
    int FStatus = -1;
};

// Moves the calling thread into a network namespace and back to where it was when destroyed.
class ScopedNamespace {
public:
    explicit ScopedNamespace(const std::string& namespacePath);
    ~ScopedNamespace();
    ScopedNamespace(const ScopedNamespace&) = delete;
    ScopedNamespace& operator=(const ScopedNamespace&) = delete;
    bool Entered() const { return FEntered; }

private:
    UniqueFd FPrevious;
    bool FEntered = false;
};

class TestNetwork {
public:
    // Makes the network with ampCount amplifier addresses. Check Up() afterwards.
    explicit TestNetwork(int ampCount = 1);
    ~TestNetwork();
    TestNetwork(const TestNetwork&) = delete;
    TestNetwork& operator=(const TestNetwork&) = delete;

    // Why private networks cannot be made on this machine; empty when they can.
    static std::string Unavailable();
    // For a test program whose own thread lives on the app side: makes a network and moves the
    // calling thread there for good. Null, with the reason, when that cannot be done.
    static std::unique_ptr<TestNetwork> EnterAppSideOfNew(int ampCount, std::string& reason);

    bool Up() const { return FUp; }
    const std::string& Error() const { return FError; }
    const std::string& Name() const { return FName; }
    int AmpCount() const { return FAmpCount; }
    static std::string AppAddress() { return "198.18.0.1"; }
    // Amplifier i (from 0) lives at 198.18.(1 + i/254).(1 + i%254).
    static std::string AmpAddress(int i);
    std::string NamespacePath(NetSide side) const;

    // Moves the calling thread into a side for good: sockets it makes afterwards live there.
    bool EnterApp() { return Enter(NetSide::App); }
    bool EnterAmp() { return Enter(NetSide::Amp); }
    bool Enter(NetSide side);
    // Deletes the veth pair, as if the app side's network adapter was pulled out, and makes it
    // again (same names and addresses, new interface indexes), as if it was plugged in again.
    bool Unplug();
    bool Plug();
    // Runs fn on a fresh thread inside a side and waits for it.
    void RunInApp(const std::function<void()>& fn) { RunIn(NetSide::App, fn); }
    void RunInAmp(const std::function<void()>& fn) { RunIn(NetSide::Amp, fn); }
    void RunIn(NetSide side, const std::function<void()>& fn);
    // Starts argv[0] (searched in PATH) inside a side; its output goes to outputPath when given.
    TestProcess Spawn(NetSide side, const std::vector<std::string>& argv, const std::string& outputPath = {});

    static std::string ScriptPath();

private:
    std::string FName;
    int FAmpCount = 0;
    bool FUp = false;
    std::string FError;
};
