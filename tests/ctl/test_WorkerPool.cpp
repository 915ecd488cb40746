// The pool the rollouts and version queries run on, with real threads: how many jobs run at once,
// that each runs once and is heard of once on the calling thread, and how a stop ends starting.

#include "ctl/WorkerPool.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

namespace {

struct PoolRun {
    size_t started = 0;
    int mostAtOnce = 0;
    std::vector<size_t> ran; // in the order the jobs ran
    std::vector<size_t> heard; // in the order the calling thread heard of them
    bool heardOnCaller = true;
};

PoolRun RunJobs(size_t count, int parallel, const std::function<bool(size_t heard)>& stopAfter = {})
{
    PoolRun run;
    std::atomic<int> running { 0 };
    std::mutex mutex;
    const auto caller = std::this_thread::get_id();
    TWorkerPoolHooks hooks;
    hooks.Ended = [&](size_t job) {
        run.heardOnCaller = run.heardOnCaller && std::this_thread::get_id() == caller;
        run.heard.push_back(job);
    };
    if (stopAfter)
        hooks.StartNoMore = [&] { return stopAfter(run.heard.size()); };
    run.started = RunWorkerPool(count, parallel, [&](size_t job) {
        const int now = ++running;
        {
            std::lock_guard lock(mutex);
            run.mostAtOnce = std::max(run.mostAtOnce, now);
            run.ran.push_back(job);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(job % 3 == 0 ? 20 : 5));
        --running;
    }, hooks);
    return run;
}

TEST(WorkerPool, EveryJobRunsOnceWithinTheBoundAndIsHeardOnceOnTheCallingThread)
{
    struct Case {
        size_t count;
        int parallel;
        int mostAtOnce; // at most this many at once
    };
    for (const Case c : { Case { 0, 4, 0 }, Case { 1, 4, 1 }, Case { 12, 1, 1 }, Case { 40, 8, 8 },
             Case { 5, 0, 1 }, Case { 5, -3, 1 }, Case { 3, 50, 3 } }) {
        const PoolRun run = RunJobs(c.count, c.parallel);
        SCOPED_TRACE(testing::Message() << c.count << " jobs, " << c.parallel << " at once");
        EXPECT_EQ(run.started, c.count);
        EXPECT_LE(run.mostAtOnce, c.mostAtOnce);
        EXPECT_EQ(std::set<size_t>(run.ran.begin(), run.ran.end()).size(), c.count);
        EXPECT_EQ(run.ran.size(), c.count);
        EXPECT_EQ(std::set<size_t>(run.heard.begin(), run.heard.end()).size(), c.count);
        EXPECT_EQ(run.heard.size(), c.count);
        EXPECT_TRUE(run.heardOnCaller);
    }
    // With room for all, they do run side by side.
    EXPECT_GE(RunJobs(40, 8).mostAtOnce, 2);
}

TEST(WorkerPool, AStopStartsNoFurtherJobAndTheStartedOnesAreHeardToTheirEnd)
{
    // Asked before the start: nothing runs.
    const PoolRun none = RunJobs(10, 2, [](size_t) { return true; });
    EXPECT_EQ(none.started, 0u);
    EXPECT_TRUE(none.ran.empty());

    // Asked once three ended: the jobs started by then end and are heard of, no others start.
    const PoolRun some = RunJobs(60, 2, [](size_t heard) { return heard >= 3; });
    EXPECT_GE(some.started, 3u);
    EXPECT_LT(some.started, 60u);
    EXPECT_EQ(some.ran.size(), some.started);
    EXPECT_EQ(some.heard.size(), some.started);
    // Jobs start in index order: the ones that ran are [0, started).
    EXPECT_EQ(std::set<size_t>(some.ran.begin(), some.ran.end()).size(), some.started);
    EXPECT_EQ(*std::max_element(some.ran.begin(), some.ran.end()), some.started - 1);
}

} // namespace
