#include "support/TestNetwork.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sched.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

std::vector<char*> ArgvPointers(const std::vector<std::string>& args)
{
    std::vector<char*> pointers;
    for (const auto& a : args)
        pointers.push_back(const_cast<char*>(a.c_str()));
    pointers.push_back(nullptr);
    return pointers;
}

// Runs the network script and collects what it prints; returns its exit status (-1 when it
// could not be started).
int RunScript(const std::vector<std::string>& args, std::string& output)
{
    std::vector<std::string> argv { "bash", TestNetwork::ScriptPath() };
    argv.insert(argv.end(), args.begin(), args.end());
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0)
        return -1;
    UniqueFd readEnd(pipeFds[0]);
    UniqueFd writeEnd(pipeFds[1]);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, writeEnd.get(), 1);
    posix_spawn_file_actions_adddup2(&actions, writeEnd.get(), 2);
    auto pointers = ArgvPointers(argv);
    pid_t pid = -1;
    int rc = ::posix_spawnp(&pid, "bash", &actions, nullptr, pointers.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    // Only the child may hold the write end, or the read below never sees the end.
    writeEnd.reset();
    if (rc != 0)
        return -1;
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(readEnd.get(), buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR))
        if (n > 0)
            output.append(buffer, static_cast<size_t>(n));
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) { }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

bool ProgramInPath(const char* name)
{
    for (const char* dir : { "/usr/sbin", "/sbin", "/usr/bin", "/bin" })
        if (::access((std::string(dir) + "/" + name).c_str(), X_OK) == 0)
            return true;
    return false;
}

std::string ProbeUnavailable()
{
    if (::geteuid() != 0)
        return "private test network needs root (network namespaces); run the tests as root";
    if (!ProgramInPath("ip"))
        return "private test network needs the 'ip' command (Debian package iproute2)";
    if (::access(TestNetwork::ScriptPath().c_str(), R_OK) != 0)
        return "private test network script missing: " + TestNetwork::ScriptPath();
    // A child tries to make a namespace of its own, so this process stays where it is.
    pid_t pid = ::fork();
    if (pid == 0)
        ::_exit(::unshare(CLONE_NEWNET) == 0 ? 0 : 1);
    if (pid < 0)
        return std::string("cannot fork to probe network namespaces: ") + std::strerror(errno);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) { }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return "this machine does not allow new network namespaces (unshare(CLONE_NEWNET) denied)";
    return {};
}

bool EnterNamespace(const std::string& path)
{
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    return fd && ::setns(fd.get(), CLONE_NEWNET) == 0;
}

} // namespace

TestProcess::~TestProcess()
{
    Terminate();
}

TestProcess::TestProcess(TestProcess&& other) noexcept
    : FPid(other.FPid)
    , FStatus(other.FStatus)
{
    other.FPid = -1;
}

TestProcess& TestProcess::operator=(TestProcess&& other) noexcept
{
    if (this != &other) {
        Terminate();
        FPid = other.FPid;
        FStatus = other.FStatus;
        other.FPid = -1;
    }
    return *this;
}

bool TestProcess::Running()
{
    return Wait(0) < 0 && FPid > 0;
}

int TestProcess::Wait(int ms)
{
    if (FPid <= 0)
        return FStatus;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        int status = 0;
        pid_t r = ::waitpid(FPid, &status, WNOHANG);
        if (r == FPid) {
            FStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            FPid = -1;
            return FStatus;
        }
        if (r < 0 && errno != EINTR) {
            FPid = -1;
            return FStatus;
        }
        if (std::chrono::steady_clock::now() >= deadline)
            return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

int TestProcess::Terminate(int graceMs)
{
    if (FPid <= 0)
        return FStatus;
    ::kill(FPid, SIGTERM);
    if (Wait(graceMs) >= 0)
        return FStatus;
    ::kill(FPid, SIGKILL);
    return Wait(10000);
}

ScopedNamespace::ScopedNamespace(const std::string& namespacePath)
{
    FPrevious.reset(::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC));
    FEntered = FPrevious && EnterNamespace(namespacePath);
}

ScopedNamespace::~ScopedNamespace()
{
    if (FEntered)
        ::setns(FPrevious.get(), CLONE_NEWNET);
}

TestNetwork::TestNetwork(int ampCount)
    : FAmpCount(ampCount)
{
    static std::atomic<int> counter { 0 };
    FName = "tvn" + std::to_string(::getpid()) + "x" + std::to_string(counter++);
    if (auto reason = Unavailable(); !reason.empty()) {
        FError = reason;
        return;
    }
    std::string output;
    int rc = RunScript({ "up", FName, std::to_string(ampCount) }, output);
    FUp = rc == 0;
    if (!FUp)
        FError = "testnet.sh up " + FName + " failed (" + std::to_string(rc) + "): " + output;
}

TestNetwork::~TestNetwork()
{
    if (!FUp)
        return;
    std::string output;
    RunScript({ "down", FName }, output);
}

bool TestNetwork::Unplug()
{
    std::string output;
    if (!FUp || RunScript({ "unplug", FName }, output) != 0) {
        FError = "testnet.sh unplug " + FName + " failed: " + output;
        return false;
    }
    return true;
}

bool TestNetwork::Plug()
{
    std::string output;
    if (!FUp || RunScript({ "plug", FName, std::to_string(FAmpCount) }, output) != 0) {
        FError = "testnet.sh plug " + FName + " failed: " + output;
        return false;
    }
    return true;
}

std::string TestNetwork::Unavailable()
{
    static std::once_flag once;
    static std::string reason;
    std::call_once(once, [] { reason = ProbeUnavailable(); });
    return reason;
}

std::string TestNetwork::AmpAddress(int i)
{
    return "198.18." + std::to_string(1 + i / 254) + "." + std::to_string(1 + i % 254);
}

std::string TestNetwork::NamespacePath(NetSide side) const
{
    return "/var/run/netns/" + FName + (side == NetSide::App ? "-app" : "-amp");
}

std::string TestNetwork::ScriptPath()
{
    return std::string(TOVRIN_SOURCE_DIR) + "/scripts/testnet.sh";
}

bool TestNetwork::Enter(NetSide side)
{
    return FUp && EnterNamespace(NamespacePath(side));
}

void TestNetwork::RunIn(NetSide side, const std::function<void()>& fn)
{
    std::thread thread([&] {
        if (Enter(side))
            fn();
        else
            ADD_FAILURE() << "cannot enter " << NamespacePath(side) << (FUp ? "" : ": the network is not up");
    });
    thread.join();
}

std::unique_ptr<TestNetwork> TestNetwork::EnterAppSideOfNew(int ampCount, std::string& reason)
{
    reason = Unavailable();
    if (!reason.empty())
        return nullptr;
    auto network = std::make_unique<TestNetwork>(ampCount);
    if (!network->Up())
        reason = "private test network failed: " + network->Error();
    else if (!network->EnterApp())
        reason = "cannot enter the private test network";
    return network;
}

TestProcess TestNetwork::Spawn(
    NetSide side, const std::vector<std::string>& argv, const std::string& outputPath)
{
    if (!FUp || argv.empty())
        return {};
    UniqueFd ns(::open(NamespacePath(side).c_str(), O_RDONLY | O_CLOEXEC));
    if (!ns)
        return {};
    UniqueFd output(
        outputPath.empty() ? -1 : ::open(outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    auto pointers = ArgvPointers(argv);
    pid_t parent = ::getpid();
    pid_t pid = ::fork();
    if (pid == 0) {
        // Only async-signal-safe calls between fork and exec.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            ::_exit(127);
        if (::setns(ns.get(), CLONE_NEWNET) != 0)
            ::_exit(126);
        if (output) {
            ::dup2(output.get(), 1);
            ::dup2(output.get(), 2);
        }
        ::execvp(pointers[0], pointers.data());
        ::_exit(127);
    }
    return TestProcess(pid);
}
