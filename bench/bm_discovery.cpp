// Cost of the discovery work on the GUI thread per hello round: reading every reply, refreshing its
// row, and the expiry pass, for N amplifiers.
#include "finder/Discovery.h"

#include "BenchReplies.h"

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

namespace {

// Counts what a view would have to redraw.
struct CountingObserver : AmplifierList::Observer {
    long viewUpdates = 0;
    void RowAppended(int) override { ++viewUpdates; }
    void RowChanged(int) override { ++viewUpdates; }
    void RowsRemoved(const std::vector<int>& rows) override { viewUpdates += static_cast<long>(rows.size()); }
    void SelectionChanged(int) override { }
};

void BM_ParseReply(benchmark::State& state)
{
    const auto replies = Replies(static_cast<int>(state.range(0)));
    TTovrinData record;
    for (auto _ : state) {
        for (const auto& reply : replies)
            benchmark::DoNotOptimize(ParseTovrinReply(reply.c_str(), record));
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

// One hello round once the list is full: every amplifier answers unchanged, then the expiry pass.
void BM_RefreshRound(benchmark::State& state)
{
    const auto replies = Replies(static_cast<int>(state.range(0)));
    AmplifierList list;
    CountingObserver observer;
    list.SetObserver(&observer);
    uint32_t now = 0xFFFFF000u;
    TTovrinData record;
    for (const auto& reply : replies) {
        ParseTovrinReply(reply.c_str(), record);
        list.UpdateAmplifier(record, now);
    }
    observer.viewUpdates = 0;
    for (auto _ : state) {
        now += 500;
        for (const auto& reply : replies) {
            ParseTovrinReply(reply.c_str(), record);
            list.UpdateAmplifier(record, now);
        }
        benchmark::DoNotOptimize(list.RemoveStale(MaxSilenceMs, now));
    }
    state.counters["view_updates"] = static_cast<double>(observer.viewUpdates);
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

// All N amplifiers appear, then all fall silent and expire in one pass.
void BM_AppearAndExpire(benchmark::State& state)
{
    const auto replies = Replies(static_cast<int>(state.range(0)));
    TTovrinData record;
    for (auto _ : state) {
        AmplifierList list;
        for (const auto& reply : replies) {
            ParseTovrinReply(reply.c_str(), record);
            list.UpdateAmplifier(record, 1000);
        }
        benchmark::DoNotOptimize(list.RemoveStale(MaxSilenceMs, 3001));
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

// The expiry pass alone when nothing is stale: what every hello tick costs.
void BM_RemoveStaleNothingDue(benchmark::State& state)
{
    const auto replies = Replies(static_cast<int>(state.range(0)));
    AmplifierList list;
    TTovrinData record;
    for (const auto& reply : replies) {
        ParseTovrinReply(reply.c_str(), record);
        list.UpdateAmplifier(record, 1000);
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(list.RemoveStale(MaxSilenceMs, 2000));
}

} // namespace

BENCHMARK(BM_ParseReply)->Arg(100)->Arg(1000)->Arg(5000);
BENCHMARK(BM_RefreshRound)->Arg(100)->Arg(1000)->Arg(5000);
BENCHMARK(BM_AppearAndExpire)->Arg(100)->Arg(1000)->Arg(5000);
BENCHMARK(BM_RemoveStaleNothingDue)->Arg(100)->Arg(1000)->Arg(5000);

BENCHMARK_MAIN();
