// The search off the window thread: same entries as the plain search, only the newest search
// delivered, and no delivery after the worker is gone.

#include "gotoproj/ProjectSearch.h"
#include "gotoproj/ProjectSearchWorker.h"
#include "support/TempTree.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>

namespace {

using namespace std::chrono_literals;

struct Deliveries {
    std::mutex lock;
    std::condition_variable arrived;
    std::vector<std::pair<uint64_t, std::vector<std::string>>> received;

    ProjectSearchWorker::Deliver Function()
    {
        return [this](uint64_t search, std::vector<std::string> entries) {
            std::lock_guard<std::mutex> guard(lock);
            received.emplace_back(search, std::move(entries));
            arrived.notify_all();
        };
    }
    // The entries delivered for search, waiting up to five seconds.
    std::optional<std::vector<std::string>> WaitFor(uint64_t search)
    {
        std::unique_lock<std::mutex> guard(lock);
        const auto has = [&] { return !received.empty() && received.back().first >= search; };
        if (!arrived.wait_for(guard, 5s, has) || received.back().first != search)
            return std::nullopt;
        return received.back().second;
    }
    size_t Count()
    {
        std::lock_guard<std::mutex> guard(lock);
        return received.size();
    }
};

class ProjectSearchWorkerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(drive.Root().empty());
        for (int i = 0; i < 200; ++i) {
            drive.Folder("Produktion/2013/13" + std::to_string(95000 + i * 7) + " Amp");
            drive.Folder("Firmware/Work/13" + std::to_string(95000 + i * 3) + "QTRX");
        }
    }
    TempTree drive { "tovrin-worker" };
    Deliveries deliveries;
};

TEST_F(ProjectSearchWorkerTest, DeliversTheSameEntriesAsThePlainSearch)
{
    ProjectSearchWorker worker(drive.Root(), deliveries.Function());
    for (const char* pattern : { "1", "13", "139", "1395", "13*QT", "1395", "" }) {
        const uint64_t search = worker.Search(pattern);
        const auto found = deliveries.WaitFor(search);
        ASSERT_TRUE(found.has_value()) << pattern;
        EXPECT_EQ(*found, SearchProjectFolders(pattern, drive.Root())) << pattern;
    }
}

TEST_F(ProjectSearchWorkerTest, OnlyTheNewestSearchCountsWhenTypedFast)
{
    ProjectSearchWorker worker(drive.Root(), deliveries.Function());
    uint64_t last = 0;
    for (const char* pattern : { "1", "13", "139", "1395", "13950", "139502" })
        last = worker.Search(pattern);
    const auto found = deliveries.WaitFor(last);
    ASSERT_TRUE(found.has_value());
    EXPECT_EQ(*found, SearchProjectFolders("139502", drive.Root()));
    std::lock_guard<std::mutex> guard(deliveries.lock);
    for (size_t i = 1; i < deliveries.received.size(); ++i)
        EXPECT_LT(deliveries.received[i - 1].first, deliveries.received[i].first)
            << "older results after newer ones";
}

TEST_F(ProjectSearchWorkerTest, NothingIsDeliveredAfterTheWorkerIsGone)
{
    {
        ProjectSearchWorker worker(drive.Root(), deliveries.Function());
        for (int i = 0; i < 50; ++i)
            worker.Search(i % 2 ? "13" : "1");
    }
    const size_t afterStop = deliveries.Count();
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(deliveries.Count(), afterStop);
}

} // namespace
