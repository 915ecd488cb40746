#include "support/ProgramRun.h"

#include "platform/UniqueFd.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

std::string ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

} // namespace

RunningProgram::RunningProgram(const std::vector<std::string>& argv, const std::string& namespacePath)
{
    std::string pattern = (std::filesystem::temp_directory_path() / "tovrin-program-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr || argv.empty())
        return;
    FFolder = pattern;
    UniqueFd out(::open((FFolder + "/out").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    UniqueFd err(::open((FFolder + "/err").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    UniqueFd ns(namespacePath.empty() ? -1 : ::open(namespacePath.c_str(), O_RDONLY | O_CLOEXEC));
    if (!out || !err || (!namespacePath.empty() && !ns))
        return;
    std::vector<char*> pointers;
    for (const auto& a : argv)
        pointers.push_back(const_cast<char*>(a.c_str()));
    pointers.push_back(nullptr);
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0) {
        // Only async-signal-safe calls between fork and exec.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            ::_exit(127);
        if (ns && ::setns(ns.get(), CLONE_NEWNET) != 0)
            ::_exit(126);
        ::dup2(out.get(), 1);
        ::dup2(err.get(), 2);
        ::execv(pointers[0], pointers.data());
        ::_exit(127);
    }
    FProcess = TestProcess(pid);
}

RunningProgram::~RunningProgram()
{
    if (FProcess)
        FProcess.Terminate(500);
    std::error_code ignored;
    if (!FFolder.empty())
        std::filesystem::remove_all(FFolder, ignored);
}

std::string RunningProgram::OutSoFar() const
{
    return ReadAll(FFolder + "/out");
}

std::string RunningProgram::ErrSoFar() const
{
    return ReadAll(FFolder + "/err");
}

ProgramResult RunningProgram::Finish(int ms)
{
    ProgramResult result;
    result.Status = FProcess.Wait(ms);
    if (result.Status < 0) {
        FProcess.Terminate(500);
        result.Status = -1;
    }
    result.Out = ReadAll(FFolder + "/out");
    result.Err = ReadAll(FFolder + "/err");
    return result;
}

ProgramResult RunProgram(const std::vector<std::string>& argv, int ms, const std::string& namespacePath)
{
    RunningProgram program(argv, namespacePath);
    return program.Finish(ms);
}
