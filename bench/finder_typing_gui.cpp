// Typing into the real project finder (offscreen) on a large drive: per keystroke, the time from
// the key to the complete list, cold (a new dialog, nothing listed yet) and warm (the same dialog
// again, two seconds later, when its listings are kept), next to `find DIRS -maxdepth 1 -type d -iname '*P*'`
// over the same five folders and to the plain search the dialog replaced. Also how long the window thread was
// held at most while typing: the longest single event the window thread handled (wall and that thread's CPU
// time; the difference is time the machine gave to others) and the longest gap of a 1 ms heartbeat timer; and
// whether every list equalled the plain search's entries.
//
//   QT_QPA_PLATFORM=offscreen finder_typing_gui DRIVE [ROUNDS]      (bench/finder_typing.sh)

#include "BenchStats.h"
#include "gotoproj/Fgotoprojdlg.h"
#include "gotoproj/ProjectSearch.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLineEdit>
#include <QTest>
#include <QTimer>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

double ThreadCpuMs()
{
    timespec now {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

// Times every event the window thread handles from the event loop (nested ones count in theirs).
class TimedApplication : public QApplication {
public:
    using QApplication::QApplication;
    bool notify(QObject* receiver, QEvent* event) override
    {
        if (!measuring || depth > 0)
            return QApplication::notify(receiver, event);
        ++depth;
        const auto start = Clock::now();
        const double cpuStart = ThreadCpuMs();
        const bool handled = QApplication::notify(receiver, event);
        const double wall = Ms(Clock::now() - start);
        const double cpu = ThreadCpuMs() - cpuStart;
        --depth;
        if (wall > longestWall) {
            longestWall = wall;
            longestWallCpu = cpu;
        }
        longestCpu = std::max(longestCpu, cpu);
        return handled;
    }
    bool measuring = false;
    int depth = 0;
    double longestWall = 0, longestWallCpu = 0, longestCpu = 0;
};

// The keystrokes: "1", "13", "139", "1395", then "14*QT" typed over it.
struct Keystroke {
    char key;
    bool replaceAll;
    std::string pattern;
};
const std::vector<Keystroke> Keys = { { '1', true, "1" }, { '3', false, "13" }, { '9', false, "139" },
    { '5', false, "1395" }, { '1', true, "1" }, { '4', false, "14" }, { '*', false, "14*" },
    { 'Q', false, "14*Q" }, { 'T', false, "14*QT" } };

// Longest time the window thread did not get round to a 1 ms timer.
class Heartbeat {
public:
    Heartbeat()
    {
        timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer, &QTimer::timeout, [this] {
            const auto now = Clock::now();
            longest = std::max(longest, now - last);
            last = now;
        });
    }
    void Start()
    {
        last = Clock::now();
        longest = {};
        timer.start(1);
    }
    double Stop()
    {
        timer.stop();
        return Ms(longest);
    }

private:
    QTimer timer;
    Clock::time_point last;
    Clock::duration longest {};
};

double TimeFind(const std::string& pattern, const std::string& drive)
{
    std::vector<std::string> args = { "find" };
    for (const ProjectSearchMask& mask : ProjectSearchMasks(pattern, drive))
        args.push_back(mask.folder);
    for (const char* more : { "-maxdepth", "1", "-type", "d", "-iname" })
        args.emplace_back(more);
    args.push_back("*" + pattern + "*");
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const auto start = Clock::now();
    pid_t pid = 0;
    double took = -1;
    if (posix_spawnp(&pid, "find", &actions, nullptr, argv.data(), environ) == 0) {
        int status = 0;
        waitpid(pid, &status, 0);
        took = Ms(Clock::now() - start);
    }
    posix_spawn_file_actions_destroy(&actions);
    return took;
}

struct Figures {
    std::vector<double> cold, warm, find, plain;
    size_t entries = 0;
};

} // namespace

int main(int argc, char** argv)
{
    TimedApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s DRIVE [ROUNDS]\n", argv[0]);
        return 2;
    }
    const std::string drive = argv[1];
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    const int warmPasses = 4;

    std::map<size_t, Figures> figures; // by keystroke
    std::vector<double> keyHandler;
    double heldMax = 0;
    size_t compared = 0, identical = 0;
    Heartbeat heartbeat;
    std::vector<std::vector<std::string>> shownLists;

    for (int round = 0; round < rounds; ++round) {
        auto dialog = std::make_unique<TFormGotoProj>(nullptr, drive);
        dialog->show();
        QEventLoop settle;
        QObject::connect(dialog.get(), &TFormGotoProj::SearchShown, &settle, &QEventLoop::quit);
        const auto waitShown = [&] {
            if (dialog->SearchPending())
                settle.exec();
        };
        waitShown(); // the search that focusing the field started
        for (int pass = 0; pass <= warmPasses; ++pass) {
            heartbeat.Start();
            app.measuring = true;
            for (size_t k = 0; k < Keys.size(); ++k) {
                const Keystroke& key = Keys[k];
                if (key.replaceAll)
                    dialog->EditAmpSN->selectAll();
                const auto start = Clock::now();
                // Sent as from the event loop, so that the key's handling is timed as one event.
                app.depth = 0;
                QTest::keyClick(dialog->EditAmpSN, key.key);
                keyHandler.push_back(Ms(Clock::now() - start));
                waitShown();
                const double took = Ms(Clock::now() - start);
                (pass == 0 ? figures[k].cold : figures[k].warm).push_back(took);
                figures[k].entries = dialog->Entries().size();
                shownLists.push_back(dialog->Entries());
            }
            app.measuring = false;
            heldMax = std::max(heldMax, heartbeat.Stop());
            // Compared after the pass: the plain search would hold the window thread itself.
            for (size_t k = 0; k < Keys.size(); ++k) {
                ++compared;
                identical += shownLists[k] == SearchProjectFolders(Keys[k].pattern, drive) ? 1 : 0;
            }
            shownLists.clear();
            // Warm is the share as the cache keeps it: a listing is kept once its folder's time
            // stamps have stood two seconds since it was first looked at.
            if (pass == 0)
                QTest::qWait(2100);
        }
        for (size_t k = 0; k < Keys.size(); ++k) {
            figures[k].find.push_back(TimeFind(Keys[k].pattern, drive));
            const auto start = Clock::now();
            SearchProjectFolders(Keys[k].pattern, drive);
            figures[k].plain.push_back(Ms(Clock::now() - start));
        }
    }

    std::printf("drive %s, %d rounds (each: a new dialog typed once cold, then %d times warm)\n\n",
        drive.c_str(), rounds, warmPasses);
    std::printf("| pattern | entries | cold p50 / p95 / max | warm p50 / p95 / max | find p50 / p95 | plain "
                "search p50 |\n");
    std::printf("|---|---|---|---|---|---|\n");
    std::vector<double> allCold, allWarm, allFind;
    for (size_t k = 0; k < Keys.size(); ++k) {
        Figures& f = figures[k];
        std::printf(
            "| %s | %zu | %.2f / %.2f / %.2f ms | %.2f / %.2f / %.2f ms | %.1f / %.1f ms | %.1f ms |\n",
            Keys[k].pattern.c_str(), f.entries, Percentile(f.cold, 0.5), Percentile(f.cold, 0.95),
            Percentile(f.cold, 1.0), Percentile(f.warm, 0.5), Percentile(f.warm, 0.95),
            Percentile(f.warm, 1.0), Percentile(f.find, 0.5), Percentile(f.find, 0.95),
            Percentile(f.plain, 0.5));
        allCold.insert(allCold.end(), f.cold.begin(), f.cold.end());
        allWarm.insert(allWarm.end(), f.warm.begin(), f.warm.end());
        allFind.insert(allFind.end(), f.find.begin(), f.find.end());
    }
    std::printf("\nall keystrokes: cold p50 %.2f p95 %.2f max %.2f ms; warm p50 %.2f p95 %.2f max %.2f ms; "
                "find p50 %.1f p95 %.1f ms\n",
        Percentile(allCold, 0.5), Percentile(allCold, 0.95), Percentile(allCold, 1.0),
        Percentile(allWarm, 0.5), Percentile(allWarm, 0.95), Percentile(allWarm, 1.0),
        Percentile(allFind, 0.5), Percentile(allFind, 0.95));
    std::printf(
        "find / warm (p50): %.0fx\n", Percentile(allFind, 0.5) / std::max(0.001, Percentile(allWarm, 0.5)));
    std::printf(
        "window thread while typing: longest event %.2f ms (of it %.2f ms on its CPU); most CPU in one "
        "event %.2f ms; longest heartbeat gap %.2f ms; key press and release at most %.2f ms\n",
        app.longestWall, app.longestWallCpu, app.longestCpu, heldMax, Percentile(keyHandler, 1.0));
    std::printf("lists equal to the plain search: %zu of %zu\n", identical, compared);
    return identical == compared ? 0 : 1;
}
