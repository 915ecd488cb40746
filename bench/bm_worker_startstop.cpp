// Udp worker life cycles on loopback: Create + Open + Start + Stop, with and without waiting for
// the worker to release itself.

#include "comm/Recvthread.h"

#include <benchmark/benchmark.h>

#include <thread>
#include <vector>

namespace {

void WaitReleased(const std::weak_ptr<TRecvThread>& worker)
{
    while (!worker.expired())
        std::this_thread::yield();
}

// A Udp worker on a free loopback port, started; null when the channel cannot be opened.
std::shared_ptr<TRecvThread> StartLoopbackWorker()
{
    auto worker = TRecvThread::Create();
    if (!worker->Open("udp:127.0.0.1:0"))
        return nullptr;
    worker->Start();
    return worker;
}

void BM_UdpWorkerStartStop(benchmark::State& state)
{
    for (auto _ : state) {
        auto worker = StartLoopbackWorker();
        if (!worker) {
            state.SkipWithError("cannot open a loopback Udp channel");
            break;
        }
        worker->Stop();
        std::weak_ptr<TRecvThread> watch = worker;
        worker.reset();
        WaitReleased(watch);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_UdpWorkerStartStop)->UseRealTime();

// What the owner waits for: Stop returns without waiting for the worker thread to end.
void BM_UdpWorkerStartStopOwnerSide(benchmark::State& state)
{
    std::vector<std::weak_ptr<TRecvThread>> ended;
    for (auto _ : state) {
        auto worker = StartLoopbackWorker();
        if (!worker) {
            state.SkipWithError("cannot open a loopback Udp channel");
            break;
        }
        worker->Stop();
        ended.push_back(worker);
        worker.reset();
        if (ended.size() == 256) {
            state.PauseTiming();
            for (const auto& done : ended)
                WaitReleased(done);
            ended.clear();
            state.ResumeTiming();
        }
    }
    for (const auto& done : ended)
        WaitReleased(done);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_UdpWorkerStartStopOwnerSide)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
