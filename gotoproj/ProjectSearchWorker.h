#pragma once
// Runs the project folder search off the window thread: the newest pattern replaces any that is
// still waiting, a running search gives up between folders once a newer one is asked for, and
// folder listings are kept between searches until their folder changes.

#include "gotoproj/DriveListing.h"

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class ProjectSearchWorker {
public:
    // Called on the worker's thread with the number Search returned and the found entries; only
    // for the newest search. It must not block on the window thread (post, don't wait).
    using Deliver = std::function<void(uint64_t search, std::vector<std::string> entries)>;

    // folderAccess: how the worker's listing cache reaches the drive (FolderListingCache).
    ProjectSearchWorker(std::string driveRoot, Deliver deliver,
        FolderListingCache::Access folderAccess = FolderListingCache::RealAccess());
    // After it returns, deliver is never called again. A folder read that hangs (an unreachable
    // share) is left to end on its own rather than hold the caller.
    ~ProjectSearchWorker();
    ProjectSearchWorker(const ProjectSearchWorker&) = delete;
    ProjectSearchWorker& operator=(const ProjectSearchWorker&) = delete;

    // Starts a search for pattern; the result is the number its delivery will carry.
    uint64_t Search(const std::string& pattern);

private:
    struct Shared {
        std::mutex lock;
        std::condition_variable wake;
        std::condition_variable ended;
        std::string pattern;
        uint64_t requested = 0; // newest search asked for
        uint64_t started = 0; // newest search taken up by the thread
        bool stop = false;
        bool done = false;
        Deliver deliver;
    };
    static void Run(const std::shared_ptr<Shared>& shared, const std::string& driveRoot,
        FolderListingCache::Access folderAccess);

    std::shared_ptr<Shared> FShared;
    std::thread FThread;
};
