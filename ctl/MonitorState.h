#pragma once
// The monitor's amplifiers kept in a file (--state), so that a restart still reports those that
// vanished before it: read once at the start, written through the project's file writer after a
// change at most every SaveEvery (the times of replies move on without one, so a list that stays
// the same is written every RefreshEvery) and when the monitor ends.

#include "ctl/AmplifierMetrics.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>

class TMonitorState {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::seconds SaveEvery { 5 };
    static constexpr std::chrono::seconds RefreshEvery { 60 };
    // A saved list of 65,536 amplifiers takes about 15 MB; a far larger file is no saved list.
    static constexpr size_t MaxFileBytes = 64u << 20;

    TMonitorState(std::string path, TAmplifierMetrics& metrics, std::ostream& log,
        std::function<Clock::time_point()> clock = Clock::now);

    // Takes up the saved amplifiers. A missing, unreadable or unsound file gets one line in the
    // log and the list starts empty; the file is then replaced at the first save.
    void Load();
    // At each tick: saves when it is time to.
    void Tick();
    // Saves now; a failure is logged (once until a save succeeds again).
    bool Save();

private:
    static double WallNow();

    const std::string FPath;
    TAmplifierMetrics& FMetrics;
    std::ostream& FLog;
    std::function<Clock::time_point()> FClock;
    Clock::time_point FSavedAt {};
    uint64_t FSavedChanges = 0;
    bool FFailing = false;
};
