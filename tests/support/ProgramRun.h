#pragma once
// Runs a program of the build as a child process with its standard output and error kept apart,
// optionally inside a network namespace (a side of the private test network).
//
//   RunningProgram p({ TOVRIN_BINARY_DIR "/tovrinctl", "version", "127.0.0.1" });
//   ProgramResult r = p.Finish(10000);   // r.Status, r.Out, r.Err

#include "support/TestNetwork.h"

#include <string>
#include <vector>

struct ProgramResult {
    int Status = -1; // exit status, 128 + signal, or -1 when it did not end in time (then killed)
    std::string Out;
    std::string Err;
};

class RunningProgram {
public:
    explicit RunningProgram(const std::vector<std::string>& argv, const std::string& namespacePath = {});
    ~RunningProgram();
    RunningProgram(const RunningProgram&) = delete;
    RunningProgram& operator=(const RunningProgram&) = delete;

    bool Started() const { return static_cast<bool>(FProcess); }
    pid_t Pid() const { return FProcess.Pid(); }
    // What it wrote to standard output so far.
    std::string OutSoFar() const;
    // What it wrote to standard error so far.
    std::string ErrSoFar() const;
    // Waits up to ms for the end (terminating it then) and collects its output.
    ProgramResult Finish(int ms);

private:
    std::string FFolder;
    TestProcess FProcess;
};

// Runs it to its end (at most ms) and returns what it did.
ProgramResult RunProgram(
    const std::vector<std::string>& argv, int ms = 20000, const std::string& namespacePath = {});
