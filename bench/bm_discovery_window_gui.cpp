// Cost of the amplifier list in the real main window (offscreen) for N amplifiers: all appearing,
// and a hello round of unchanged replies.
#include "finder/Ftovrin.h"

#include "BenchReplies.h"

#include <QApplication>
#include <QTreeView>

#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

namespace {

void Deliver(TFormTovrin& window, const std::vector<std::string>& replies)
{
    for (const auto& reply : replies)
        window.DatagramReceived("198.18.1.1:8001", reply.c_str(), static_cast<int>(reply.size()));
}

// N amplifiers appear in an empty list (each new row is selected, as the user sees it). No worker is
// started: the window is shown with its activation suppressed.
void BM_WindowAppear(benchmark::State& state)
{
    const auto replies = Replies(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        state.PauseTiming();
        auto window = std::make_unique<TFormTovrin>();
        window->SuppressActivation();
        window->show();
        QCoreApplication::processEvents();
        state.ResumeTiming();
        Deliver(*window, replies);
        QCoreApplication::processEvents();
        state.PauseTiming();
        window.reset();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

// One hello round once the list is full: every amplifier answers unchanged.
void BM_WindowRefreshUnchanged(benchmark::State& state)
{
    const auto replies = Replies(static_cast<int>(state.range(0)));
    uint32_t now = 1000;
    TFormTovrin window;
    window.SetClock([&] { return now; });
    window.SuppressActivation();
    window.show();
    Deliver(window, replies);
    QCoreApplication::processEvents();
    for (auto _ : state) {
        now += 500;
        Deliver(window, replies);
        QCoreApplication::processEvents();
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

} // namespace

BENCHMARK(BM_WindowAppear)->Arg(100)->Arg(1000)->Arg(5000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WindowRefreshUnchanged)->Arg(100)->Arg(1000)->Arg(5000)->Unit(benchmark::kMicrosecond);

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
