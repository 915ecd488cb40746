#pragma once
// A desktop made of recording stand-ins for tests that start programs: a folder whose bin/ comes
// first on PATH, a terminal and an opener that record what they were given (the terminal also
// runs it), and programs of any name that record their arguments. Everything is undone at the end.

#include "platform/DesktopLaunch.h"
#include "support/RecordedRuns.h"

#include <string>
#include <vector>

class StandInDesktop {
public:
    StandInDesktop();
    ~StandInDesktop();
    StandInDesktop(const StandInDesktop&) = delete;
    StandInDesktop& operator=(const StandInDesktop&) = delete;

    // Puts a program of that name on the stand-in PATH (the recording program by default).
    std::string AddProgram(const std::string& name, const std::string& target = RecordArgsProgram());
    // Puts a copy of the recording program of that name on the stand-in PATH: a program whose own
    // name is that, not a link that leads to another.
    std::string CopyProgram(const std::string& name);
    // Waits for count recorded runs and returns all of them.
    std::vector<RecordedRun> Runs(size_t count) const { return WaitForRecordedRuns(Records, count); }
    std::vector<RecordedRun> RunsSoFar() const { return ReadRecordedRuns(Records); }
    // What the programs run in the stand-in terminal printed.
    std::string TerminalOutput() const;

    std::string Folder; // a fresh folder; also this process's working folder meanwhile
    std::string Bin; // first on PATH
    std::string Records; // where the runs are recorded
    platform::TDesktopPrograms Programs;

private:
    std::string FOldPath;
    std::string FOldFolder;
};
