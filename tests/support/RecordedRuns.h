#pragma once
// Reading what the stand-in program tests/support/programs/record_args was started with.

#include <sys/types.h>

#include <string>
#include <vector>

struct RecordedRun {
    pid_t Pid = 0, ParentPid = 0, SessionId = 0;
    std::string Stdin; // what its standard input was
    std::string Folder; // its working folder
    std::vector<std::string> Args;
};

// The recording program's path.
std::string RecordArgsProgram();
// The complete runs recorded in file so far.
std::vector<RecordedRun> ReadRecordedRuns(const std::string& file);
// Waits until file holds at least count runs (they are detached, so they end on their own time);
// the runs found then. Fails the test when they do not come within a few seconds.
std::vector<RecordedRun> WaitForRecordedRuns(const std::string& file, size_t count);
// The same program needing the X client library (a window program); empty where it was not built.
std::string RecordArgsWindowProgram();
