// Discovery on a real (private) network: N simulated amplifiers (the ampsim program, in the
// amplifier side of a private test network) answer every hello; this process plays the program's
// part with the real worker and amplifier list, driven the way the main window drives them: a
// "window thread" that sends the hello and expires rows every 500 ms and runs the worker's posted
// batches of datagrams (and any synchronous delivery).
//
//   discovery_net N SECONDS [JITTER_MS]
//
// Prints one line: rows seen, flicker (rows removed although every amplifier keeps answering),
// replies per round, latency percentiles from each reply leaving its amplifier (the simulator
// writes when each left, on the steady clock every namespace shares) and from the hello to the
// row's update, and the CPU this process used.
// Needs root (network namespaces); prints the reason and exits 77 otherwise.

#include "BenchStats.h"
#include "comm/Recvthread.h"
#include "finder/Discovery.h"
#include "platform/HostInfo.h"
#include "support/TestNetwork.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <sys/resource.h>
#include <thread>
#include <unordered_map>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// The window thread: runs posted calls, and delivered ones while the poster waits.
class WindowThreadModel {
public:
    void Post(std::function<void()> call)
    {
        std::lock_guard lock(FMutex);
        if (FClosed)
            return;
        FPosted.push_back(std::move(call));
        FChanged.notify_all();
    }

    void Deliver(const std::function<void()>& call)
    {
        std::unique_lock lock(FMutex);
        if (FClosed)
            return;
        FPending = &call;
        FDone = false;
        FChanged.notify_all();
        FChanged.wait(lock, [&] { return FDone || FClosed; });
        FPending = nullptr;
    }

    // The window is gone: deliveries from now on run nothing and return at once.
    void Close()
    {
        std::lock_guard lock(FMutex);
        FClosed = true;
        FPosted.clear();
        FChanged.notify_all();
    }

    // Runs deliveries until the deadline.
    void RunUntil(Clock::time_point deadline)
    {
        std::unique_lock lock(FMutex);
        for (;;) {
            if (!FChanged.wait_until(lock, deadline, [&] { return FPending != nullptr || !FPosted.empty(); }))
                return;
            if (!FPosted.empty()) {
                auto posted = std::move(FPosted.front());
                FPosted.pop_front();
                lock.unlock();
                posted();
                lock.lock();
                continue;
            }
            const auto* call = FPending;
            lock.unlock();
            (*call)();
            lock.lock();
            FPending = nullptr;
            FDone = true;
            FChanged.notify_all();
        }
    }

private:
    std::mutex FMutex;
    std::condition_variable FChanged;
    const std::function<void()>* FPending = nullptr;
    std::deque<std::function<void()>> FPosted;
    bool FDone = true;
    bool FClosed = false;
};

struct RemovalCounter : AmplifierList::Observer {
    long removed = 0;
    void RowAppended(int) override { }
    void RowChanged(int) override { }
    void RowsRemoved(const std::vector<int>& rows) override { removed += static_cast<long>(rows.size()); }
    void SelectionChanged(int) override { }
};

double CpuSeconds()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double Milliseconds(Clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

uint64_t MacNumber(const std::string& mac)
{
    return std::strtoull(mac.c_str(), nullptr, 16);
}

// A reply's row was updated at Shown.
struct RowUpdate {
    uint64_t Mac;
    Clock::time_point Shown;
};

// When each amplifier's replies left, in order, from the simulator's "MAC nanoseconds" lines.
std::unordered_map<uint64_t, std::vector<Clock::time_point>> ReadReplyTimes(const std::string& path)
{
    std::unordered_map<uint64_t, std::vector<Clock::time_point>> sent;
    std::ifstream in(path);
    std::string mac;
    for (long long ns = 0; in >> mac >> ns;)
        sent[MacNumber(mac)].push_back(Clock::time_point(std::chrono::nanoseconds(ns)));
    return sent;
}

// Each update belongs to the latest reply its amplifier sent before it; a reply takes far less
// than the 500 ms between hellos, so an earlier one would be a reply lost on the way. Returns
// the reply-to-row times; unmatched counts updates without a reply before them.
std::vector<double> ReplyToRow(const std::vector<RowUpdate>& updates,
    const std::unordered_map<uint64_t, std::vector<Clock::time_point>>& sent, long& unmatched)
{
    std::vector<double> latencies;
    latencies.reserve(updates.size());
    unmatched = 0;
    for (const auto& update : updates) {
        auto found = sent.find(update.Mac);
        if (found == sent.end()) {
            ++unmatched;
            continue;
        }
        const auto& times = found->second;
        auto after = std::upper_bound(times.begin(), times.end(), update.Shown);
        if (after == times.begin()) {
            ++unmatched;
            continue;
        }
        latencies.push_back(Milliseconds(update.Shown - *(after - 1)));
    }
    return latencies;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: discovery_net N SECONDS [JITTER_MS]\n");
        return 2;
    }
    const int count = std::atoi(argv[1]);
    const int seconds = std::atoi(argv[2]);
    const int jitter = argc > 3 ? std::atoi(argv[3]) : 0;
    if (auto reason = TestNetwork::Unavailable(); !reason.empty()) {
        std::fprintf(stderr, "discovery_net: skipped: %s\n", reason.c_str());
        return 77;
    }
    TestNetwork net(count);
    if (!net.Up()) {
        std::fprintf(stderr, "discovery_net: %s\n", net.Error().c_str());
        return 1;
    }
    const std::string simulatorLog = std::string(TOVRIN_BINARY_DIR) + "/discovery_net_ampsim.log";
    const std::string replyTimes = std::string(TOVRIN_BINARY_DIR) + "/discovery_net_reply_times.txt";
    std::remove(replyTimes.c_str());
    auto simulator = net.Spawn(NetSide::Amp,
        { std::string(TOVRIN_BINARY_DIR) + "/ampsim", "--count", std::to_string(count), "--first-ip",
            TestNetwork::AmpAddress(0), "--jitter", std::to_string(jitter), "--no-command", "--reply-times",
            replyTimes },
        simulatorLog);

    WindowThreadModel window;
    AmplifierList list;
    RemovalCounter removals;
    list.SetObserver(&removals);
    bool measuring = false;
    Clock::time_point lastHello;
    std::vector<double> helloToRow;
    std::vector<RowUpdate> updates;
    updates.reserve(static_cast<size_t>(count) * static_cast<size_t>(seconds) * 2 + 1024);
    long replies = 0;

    auto worker = TRecvThread::Create();
    worker->SetDelivery([&](const std::function<void()>& call) { window.Deliver(call); });
    worker->SetPosting([&](std::function<void()> call) { window.Post(std::move(call)); });
    worker->OnReceive = [&](const std::string&, const char* data, int length) {
        TTovrinData record;
        if (!ParseTovrinReply(data, static_cast<size_t>(length), record))
            return;
        list.UpdateAmplifier(record, platform::TickCount());
        if (measuring) {
            const auto shown = Clock::now();
            ++replies;
            helloToRow.push_back(Milliseconds(shown - lastHello));
            updates.push_back(RowUpdate { MacNumber(record.Mac), shown });
        }
    };
    std::string error;
    bool opened = false;
    net.RunInApp([&] {
        opened = worker->Open("udp:" + TestNetwork::AppAddress() + ":8001", error);
        if (opened)
            worker->Start();
    });
    if (!opened) {
        std::fprintf(stderr, "discovery_net: cannot open the worker: %s\n", error.c_str());
        return 1;
    }

    // Warm-up: the simulator starts and the list fills before anything is counted.
    const int warmupTicks = 6;
    const int ticks = warmupTicks + seconds * 2;
    int minRows = count * 2, maxRows = 0, rounds = 0;
    double cpuAtStart = 0;
    auto next = Clock::now();
    for (int tick = 0; tick < ticks; ++tick) {
        if (tick == warmupTicks) {
            measuring = true;
            removals.removed = 0;
            cpuAtStart = CpuSeconds();
        }
        if (measuring) {
            minRows = std::min(minRows, list.Count());
            maxRows = std::max(maxRows, list.Count());
            ++rounds;
        }
        lastHello = Clock::now();
        worker->SendText(nullptr, DiscoveryHello);
        list.RemoveStale(MaxSilenceMs, platform::TickCount());
        next += std::chrono::milliseconds(HelloIntervalMs);
        window.RunUntil(next);
    }
    const double cpu = CpuSeconds() - cpuAtStart;
    window.Close();
    std::weak_ptr<TRecvThread> running = worker;
    worker->Stop();
    worker.reset();
    // The worker releases itself when its thread ends; the handlers above must outlive it.
    for (int i = 0; i < 500 && !running.expired(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    // The simulator writes when its replies left as it ends.
    simulator.Terminate(20000);
    long unmatched = 0;
    auto replyToRow = ReplyToRow(updates, ReadReplyTimes(replyTimes), unmatched);
    const double replyToRowMax
        = replyToRow.empty() ? 0.0 : *std::max_element(replyToRow.begin(), replyToRow.end());

    std::printf("N=%-5d rows seen min %d max %d | flicker %ld removals | replies/round %.1f (%.1f%%) | "
                "reply->row p50 %.2f ms p99 %.2f ms max %.2f ms (%ld unmatched) | "
                "hello->row p50 %.2f ms p99 %.2f ms | CPU %.1f%% of one core (jitter %d ms, %d s)\n",
        count, minRows, maxRows, removals.removed, rounds ? static_cast<double>(replies) / rounds : 0.0,
        rounds ? 100.0 * static_cast<double>(replies) / rounds / count : 0.0, Percentile(replyToRow, 0.5),
        Percentile(replyToRow, 0.99), replyToRowMax, unmatched, Percentile(helloToRow, 0.5),
        Percentile(helloToRow, 0.99), 100.0 * cpu / seconds, jitter, seconds);
    if (replyToRow.empty() && replies > 0) {
        std::fprintf(stderr, "discovery_net: no reply times in %s (see %s)\n", replyTimes.c_str(),
            simulatorLog.c_str());
        return 1;
    }
    return 0;
}
