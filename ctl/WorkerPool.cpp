#include "ctl/WorkerPool.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

size_t RunWorkerPool(size_t count, int parallel, const std::function<void(size_t job)>& job,
    const TWorkerPoolHooks& hooks)
{
    if (count == 0)
        return 0;
    const auto askedToStop = [&] { return hooks.StartNoMore && hooks.StartNoMore(); };
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<size_t> ended; // guarded by mutex
    size_t next = 0; // guarded by mutex: the next job to start
    bool startNoMore = askedToStop(); // guarded by mutex

    const auto work = [&] {
        for (;;) {
            size_t i = 0;
            {
                std::lock_guard lock(mutex);
                if (startNoMore || next >= count)
                    return;
                i = next++;
            }
            job(i);
            std::lock_guard lock(mutex);
            ended.push_back(i);
            changed.notify_one();
        }
    };
    std::vector<std::jthread> workers;
    const size_t threads = std::min(count, static_cast<size_t>(std::max(parallel, 1)));
    for (size_t w = 0; w < threads; ++w)
        workers.emplace_back(work);

    size_t endedCount = 0;
    size_t started = 0;
    for (bool allStartedEnded = false; !allStartedEnded;) {
        std::deque<size_t> now;
        {
            std::unique_lock lock(mutex);
            changed.wait_for(lock, std::chrono::milliseconds(100), [&] { return !ended.empty(); });
            now.swap(ended);
        }
        const bool stopAsked = askedToStop(); // outside the lock: the hook may act on the running jobs
        {
            std::lock_guard lock(mutex);
            startNoMore = startNoMore || stopAsked;
            endedCount += now.size();
            started = next;
            allStartedEnded = endedCount == count || (startNoMore && endedCount == next);
        }
        if (hooks.Ended)
            for (const size_t i : now)
                hooks.Ended(i);
        if (hooks.Tick)
            hooks.Tick();
    }
    workers.clear(); // joins
    return started;
}
