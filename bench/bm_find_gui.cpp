// Find at the largest list (64,516 amplifiers): the search over the list alone, and Find Next in
// the real main window (offscreen), which also selects the row found and scrolls to it. One search
// finds its row near the end, starting from the first row; the other finds nothing and so reads
// every row. Each iteration is timed on its own, on the wall clock and in the thread's own CPU time
// (which a loaded machine does not stretch); p50 and p95 are reported as counters (ms).
#include "finder/AmplifierSearch.h"
#include "finder/Ftovrin.h"
#include "gui/UserDialogs.h"

#include "BenchReplies.h"
#include "BenchStats.h"

#include <QApplication>
#include <QTreeView>

#include <benchmark/benchmark.h>

#include <chrono>
#include <ctime>
#include <string>
#include <vector>

namespace {

constexpr int Amplifiers = 64516;
// Amp-64500 is row 64,500: sixteen rows from the end. Nothing has the other text.
const char* const Texts[] = { "amp-64500", "B\xC3\xBChne" };
const int Expected[] = { 64500, -1 };
const char* const Labels[] = { "found near the end", "nothing found" };

double ThreadCpuMs()
{
    timespec now {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

// Wall-clock and CPU milliseconds of one timed search.
class SearchTimer {
public:
    SearchTimer()
        : FWall(std::chrono::steady_clock::now())
        , FCpu(ThreadCpuMs())
    {
    }
    void Stop(std::vector<double>& wall, std::vector<double>& cpu) const
    {
        cpu.push_back(ThreadCpuMs() - FCpu);
        wall.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - FWall).count());
    }

private:
    std::chrono::steady_clock::time_point FWall;
    double FCpu;
};

void Report(benchmark::State& state, const std::vector<double>& ms, const std::vector<double>& cpu)
{
    state.counters["p50_ms"] = Percentile(ms, 0.50);
    state.counters["p95_ms"] = Percentile(ms, 0.95);
    state.counters["cpu_p50_ms"] = Percentile(cpu, 0.50);
    state.counters["cpu_p95_ms"] = Percentile(cpu, 0.95);
    state.counters["rows"] = Amplifiers;
    state.SetLabel(Labels[state.range(0)]);
}

AmplifierList FullList()
{
    AmplifierList list;
    for (const auto& reply : Replies(Amplifiers)) {
        TTovrinData record;
        ParseTovrinReply(reply.c_str(), record);
        list.UpdateAmplifier(record, 1000);
    }
    return list;
}

void BM_FindAmplifier(benchmark::State& state)
{
    static const AmplifierList list = FullList();
    const auto which = static_cast<size_t>(state.range(0));
    std::vector<double> ms;
    std::vector<double> cpu;
    for (auto _ : state) {
        const SearchTimer timer;
        const int found = FindAmplifier(list, Texts[which], 0);
        timer.Stop(ms, cpu);
        if (found != Expected[which])
            state.SkipWithError("wrong row found");
    }
    Report(state, ms, cpu);
}

void BM_WindowFindNext(benchmark::State& state)
{
    const auto which = static_cast<size_t>(state.range(0));
    TFormTovrin window;
    window.SetClock([] { return 1000u; });
    window.SuppressActivation();
    window.show();
    for (const auto& reply : Replies(Amplifiers))
        window.DatagramReceived("198.18.1.1:8001", reply.c_str(), static_cast<int>(reply.size()));
    QCoreApplication::processEvents();
    UserDialogs::SetNextInput(Texts[which]);
    window.MenuItemFind->trigger(); // the text to search again
    std::vector<double> ms;
    std::vector<double> cpu;
    for (auto _ : state) {
        state.PauseTiming();
        window.ListView1->setCurrentIndex(window.ListView1->model()->index(0, 0));
        QCoreApplication::processEvents();
        state.ResumeTiming();
        const SearchTimer timer;
        window.MenuItemFindNext->trigger();
        QCoreApplication::processEvents(); // the view paints the row found
        timer.Stop(ms, cpu);
        if (window.Amplifiers().SelectedRow() != (Expected[which] < 0 ? 0 : Expected[which]))
            state.SkipWithError("wrong row selected");
    }
    Report(state, ms, cpu);
}

} // namespace

BENCHMARK(BM_FindAmplifier)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WindowFindNext)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
