#include "support/RecordedRuns.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

std::string RecordArgsProgram()
{
    return TOVRIN_RECORD_ARGS;
}

std::vector<RecordedRun> ReadRecordedRuns(const std::string& file)
{
    std::ifstream in(file, std::ios::binary);
    std::stringstream buffer;
    buffer << in.rdbuf();
    const std::string text = buffer.str();
    std::vector<RecordedRun> runs;
    RecordedRun run;
    size_t at = 0;
    const auto line = [&](std::string& out) {
        const size_t end = text.find('\n', at);
        if (end == std::string::npos)
            return false;
        out = text.substr(at, end - at);
        at = end + 1;
        return true;
    };
    std::string current;
    while (line(current)) {
        if (current.rfind("RUN ", 0) == 0) {
            run = RecordedRun {};
            std::istringstream fields(current.substr(4));
            fields >> run.Pid >> run.ParentPid >> run.SessionId;
        } else if (current.rfind("STDIN ", 0) == 0) {
            run.Stdin = current.substr(6);
        } else if (current.rfind("CWD ", 0) == 0) {
            run.Folder = current.substr(4);
        } else if (current.rfind("ARG ", 0) == 0) {
            // "ARG <length> <bytes>\n", where the bytes may hold line breaks themselves.
            const size_t start = at - current.size() - 1 + 4;
            const size_t blank = text.find(' ', start);
            const size_t length = std::stoul(text.substr(start, blank - start));
            run.Args.push_back(text.substr(blank + 1, length));
            at = blank + 1 + length + 1;
        } else if (current == "END") {
            runs.push_back(run);
        }
    }
    return runs;
}

std::vector<RecordedRun> WaitForRecordedRuns(const std::string& file, size_t count)
{
    std::vector<RecordedRun> runs;
    for (int waited = 0; waited < 10000; waited += 20) {
        runs = ReadRecordedRuns(file);
        if (runs.size() >= count)
            return runs;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ADD_FAILURE() << "only " << runs.size() << " of " << count << " runs were recorded in " << file;
    return runs;
}

std::string RecordArgsWindowProgram()
{
#ifdef TOVRIN_RECORD_ARGS_WINDOW
    return TOVRIN_RECORD_ARGS_WINDOW;
#else
    return {};
#endif
}
