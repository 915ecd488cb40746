#include "ctl/MonitorState.h"

#include "ctl/CtlOutput.h"
#include "platform/WriteFiles.h"
#include "text/Strtools.h"

#include <cerrno>
#include <ostream>

TMonitorState::TMonitorState(std::string path, TAmplifierMetrics& metrics, std::ostream& log,
    std::function<Clock::time_point()> clock)
    : FPath(std::move(path))
    , FMetrics(metrics)
    , FLog(log)
    , FClock(std::move(clock))
{
    FSavedAt = FClock();
}

double TMonitorState::WallNow()
{
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

void TMonitorState::Load()
{
    const std::string where = TerminalSafe(FPath);
    std::string text;
    if (const int error = LoadRegularFile(FPath.c_str(), MaxFileBytes, text)) {
        if (error == ENOENT)
            FLog << "tovrinctl: no saved list at " << where << " yet: starting with an empty list\n";
        else
            FLog << "tovrinctl: cannot read the saved list " << where << ": " << LoadErrorText(error)
                 << "; starting with an empty list\n";
        FLog << std::flush;
        return;
    }
    std::string error;
    size_t taken = 0;
    if (!FMetrics.LoadState(text, WallNow(), error, taken))
        FLog << "tovrinctl: the saved list " << where << " is not sound (" << TerminalSafe(error)
             << "): starting with an empty list\n";
    else
        FLog << "tovrinctl: " << taken << " amplifiers from the saved list " << where
             << ", listed with up 0 until they answer\n";
    FLog << std::flush;
    FSavedChanges = FMetrics.Changes();
}

void TMonitorState::Tick()
{
    const auto since = FClock() - FSavedAt;
    if (since >= RefreshEvery || (since >= SaveEvery && FMetrics.Changes() != FSavedChanges))
        Save();
}

bool TMonitorState::Save()
{
    FSavedAt = FClock();
    const uint64_t changes = FMetrics.Changes();
    const int error = platform::ReplaceFileBytes(FPath, FMetrics.SaveState(WallNow()), platform::TStreamTarget::Refuse);
    if (error != 0) {
        if (!FFailing)
            FLog << "tovrinctl: cannot save the list to " << TerminalSafe(FPath) << ": " << LoadErrorText(error)
                 << "\n"
                 << std::flush;
        FFailing = true;
        return false;
    }
    if (FFailing)
        FLog << "tovrinctl: the list is saved to " << TerminalSafe(FPath) << " again\n" << std::flush;
    FFailing = false;
    FSavedChanges = changes;
    return true;
}
