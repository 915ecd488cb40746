#include "gotoproj/ProjectSearchWorker.h"

#include "gotoproj/DriveListing.h"
#include "gotoproj/ProjectSearch.h"

#include <chrono>

ProjectSearchWorker::ProjectSearchWorker(
    std::string driveRoot, Deliver deliver, FolderListingCache::Access folderAccess)
    : FShared(std::make_shared<Shared>())
{
    FShared->deliver = std::move(deliver);
    FThread = std::thread(&ProjectSearchWorker::Run, FShared, std::move(driveRoot), std::move(folderAccess));
}

ProjectSearchWorker::~ProjectSearchWorker()
{
    std::unique_lock<std::mutex> guard(FShared->lock);
    FShared->stop = true;
    FShared->deliver = nullptr;
    FShared->wake.notify_all();
    const bool ended
        = FShared->ended.wait_for(guard, std::chrono::milliseconds(500), [this] { return FShared->done; });
    guard.unlock();
    // The thread holds its own reference to the shared state, so it may finish a hung read later.
    if (ended)
        FThread.join();
    else
        FThread.detach();
}

uint64_t ProjectSearchWorker::Search(const std::string& pattern)
{
    std::lock_guard<std::mutex> guard(FShared->lock);
    FShared->pattern = pattern;
    FShared->wake.notify_all();
    return ++FShared->requested;
}

void ProjectSearchWorker::Run(const std::shared_ptr<Shared>& shared, const std::string& driveRoot,
    FolderListingCache::Access folderAccess)
{
    FolderListingCache cache(std::move(folderAccess));
    std::vector<std::string> found;
    for (;;) {
        std::string pattern;
        uint64_t search = 0;
        {
            std::unique_lock<std::mutex> guard(shared->lock);
            shared->wake.wait(guard, [&] { return shared->stop || shared->requested != shared->started; });
            if (shared->stop)
                break;
            pattern = shared->pattern;
            search = shared->started = shared->requested;
        }
        const auto superseded = [&] {
            std::lock_guard<std::mutex> guard(shared->lock);
            return shared->stop || shared->requested != search;
        };
        if (!SearchProjectFolders(pattern, driveRoot, cache, found, superseded))
            continue;
        std::lock_guard<std::mutex> guard(shared->lock);
        // Delivered under the lock, so that no delivery runs once the owner has stopped the worker.
        if (!shared->stop && shared->requested == search && shared->deliver)
            shared->deliver(search, std::move(found));
        found.clear();
    }
    std::lock_guard<std::mutex> guard(shared->lock);
    shared->done = true;
    shared->ended.notify_all();
}
