#pragma once
// Jobs 0..count-1 on up to `parallel` threads of their own, while the calling thread hears of each
// job's end in the order they end. The command line's rollouts and version queries run on it.

#include <cstddef>
#include <functional>

struct TWorkerPoolHooks {
    // On the calling thread, once per job, as it ends.
    std::function<void(size_t job)> Ended;
    // On the calling thread after every wake: a job ended, or about 100 ms passed.
    std::function<void()> Tick;
    // On the calling thread before the first job and at every wake; once true, no further job starts
    // (the running ones go on to their end).
    std::function<bool()> StartNoMore;
};

// Runs job(i) on the pool's threads (each index once) and returns when every started job has ended
// and every thread is joined: jobs [0, returned) ran, the rest never started.
size_t RunWorkerPool(size_t count, int parallel, const std::function<void(size_t job)>& job,
    const TWorkerPoolHooks& hooks);
