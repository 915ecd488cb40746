// One redraw of `tovrinctl discover --watch` at the largest list (a /16: 64,516 amplifiers): the
// filter over every row, the order of the screenful shown, the table text fitted to 200 x 50.
//   build/dev/bench/bm_ctl_watch

#include "ctl/WatchScreen.h"

#include <benchmark/benchmark.h>

#include <cstdio>

namespace {

constexpr int Amplifiers = 64516;

const AmplifierList& LargeList()
{
    static const AmplifierList list = [] {
        AmplifierList made;
        for (int i = 0; i < Amplifiers; ++i) {
            TTovrinData a;
            char text[64];
            std::snprintf(text, sizeof text, "0050C2%06X", 0xA10001 + i);
            a.Mac = a.MacKey = text;
            // Replies arrive out of address order, as they do from a real network.
            const int shuffled = (i * 7919) % Amplifiers;
            std::snprintf(text, sizeof text, "10.%d.%d.%d", 1 + shuffled / 64516, 1 + shuffled / 254 % 254,
                1 + shuffled % 254);
            a.IP = text;
            std::snprintf(text, sizeof text, "Amp-%d", shuffled + 1);
            a.Name = text;
            a.NetMask = "255.255.0.0";
            a.Gateway = "0.0.0.0";
            made.UpdateAmplifier(a, 0);
        }
        return made;
    }();
    return list;
}

void Redraw(benchmark::State& state, TListSort sort, const char* filter)
{
    const AmplifierList& list = LargeList();
    TWatchView view;
    view.Sort = sort;
    view.Filter = filter;
    for (auto _ : state)
        benchmark::DoNotOptimize(WatchScreenText(list, view, 200, 50));
    state.SetLabel(std::to_string(SelectRows(list, filter, sort, 0).Matching) + " of 64516 shown");
}

} // namespace

BENCHMARK_CAPTURE(Redraw, seen_all, TListSort::Seen, "")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Redraw, ip_all, TListSort::Ip, "")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Redraw, mac_all, TListSort::Mac, "")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Redraw, name_all, TListSort::Name, "")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Redraw, name_filter_amp6, TListSort::Name, "amp-6")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Redraw, ip_filter_nothing, TListSort::Ip, "no such amplifier")
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
