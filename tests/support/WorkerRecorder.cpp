#include "support/WorkerRecorder.h"

#include <dirent.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <future>

void Recorder::Bind(TRecvThread& worker)
{
    worker.OnReceive = [this](const std::string& peer, const char* data, int length) {
        Add({ 'R', peer, std::string(data, static_cast<size_t>(length)), data[length] == '\0', {} });
    };
    worker.OnConnected = [this](const std::string& peer) { Add({ 'C', peer, {}, false, {} }); };
    worker.OnDisconnected = [this](const std::string& peer) { Add({ 'D', peer, {}, false, {} }); };
}

bool Recorder::WaitFor(size_t count, char kind)
{
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, WorkerHangLimit, [&] { return Count(kind) >= count; });
}

size_t Recorder::CountOf(char kind)
{
    std::lock_guard lock(mutex);
    return Count(kind);
}

std::vector<WorkerEvent> Recorder::Events()
{
    std::lock_guard lock(mutex);
    return events;
}

void Recorder::Clear()
{
    std::lock_guard lock(mutex);
    events.clear();
}

std::string Recorder::ReceivedFrom(const std::string& peer)
{
    std::lock_guard lock(mutex);
    std::string joined;
    for (const WorkerEvent& e : events) {
        if (e.kind == 'R' && e.peer == peer)
            joined += e.data;
    }
    return joined;
}

void Recorder::Add(WorkerEvent event)
{
    event.thread = std::this_thread::get_id();
    std::lock_guard lock(mutex);
    events.push_back(std::move(event));
    changed.notify_all();
}

size_t Recorder::Count(char kind) const
{
    size_t n = 0;
    for (const WorkerEvent& e : events)
        n += kind == 0 || e.kind == kind;
    return n;
}

OwnerLoop::OwnerLoop()
    : thread([this] { Run(); })
{
}

OwnerLoop::~OwnerLoop()
{
    {
        std::lock_guard lock(mutex);
        quit = true;
    }
    wake.notify_all();
    thread.join();
}

void OwnerLoop::RunAndWait(const std::function<void()>& call)
{
    if (std::this_thread::get_id() == thread.get_id()) {
        call();
        return;
    }
    std::promise<void> done;
    {
        std::lock_guard lock(mutex);
        calls.push_back([&] {
            call();
            done.set_value();
        });
        wake.notify_all();
    }
    if (done.get_future().wait_for(WorkerHangLimit) != std::future_status::ready) {
        // The posted call refers to this frame, so the wait cannot simply be given up.
        std::fprintf(
            stderr, "A call to the owner's thread did not finish within the limit: the test hangs.\n");
        std::abort();
    }
}

TRecvThread::Delivery OwnerLoop::Delivery()
{
    return [this](const std::function<void()>& call) { RunAndWait(call); };
}

void OwnerLoop::Post(std::function<void()> call)
{
    std::lock_guard lock(mutex);
    calls.push_back(std::move(call));
    wake.notify_all();
}

TRecvThread::Posting OwnerLoop::Posting()
{
    return [this](std::function<void()> call) { Post(std::move(call)); };
}

void OwnerLoop::Run()
{
    std::unique_lock lock(mutex);
    for (;;) {
        wake.wait(lock, [&] { return quit || !calls.empty(); });
        if (calls.empty())
            return;
        auto call = std::move(calls.front());
        calls.pop_front();
        lock.unlock();
        call();
        lock.lock();
    }
}

bool WaitReleased(const std::weak_ptr<TRecvThread>& worker)
{
    const auto limit = std::chrono::steady_clock::now() + WorkerHangLimit;
    while (!worker.expired()) {
        if (std::chrono::steady_clock::now() > limit)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

bool StopAndRelease(OwnerLoop& owner, std::shared_ptr<TRecvThread>& worker)
{
    const std::weak_ptr<TRecvThread> watch = worker;
    if (worker)
        owner.RunAndWait([&] { worker->Stop(); });
    worker.reset();
    return WaitReleased(watch);
}

int OpenFdCount()
{
    int count = 0;
    if (DIR* dir = opendir("/proc/self/fd")) {
        while (readdir(dir) != nullptr)
            ++count;
        closedir(dir);
    }
    return count;
}

int FdsLeftAfterOpenStopCycles(
    const std::string& address, int cycles, bool oneAtATime, const std::function<void(TRecvThread&)>& prepare)
{
    const int before = OpenFdCount();
    std::vector<std::weak_ptr<TRecvThread>> workers;
    for (int i = 0; i < cycles; ++i) {
        auto worker = TRecvThread::Create();
        if (prepare)
            prepare(*worker);
        if (!worker->Open(address)) {
            ADD_FAILURE() << address << " did not open in cycle " << i;
            break;
        }
        worker->Start();
        worker->Stop();
        workers.push_back(worker);
        worker.reset();
        if (oneAtATime && !WaitReleased(workers.back())) {
            ADD_FAILURE() << "the worker of cycle " << i << " was not released";
            break;
        }
    }
    for (const auto& worker : workers)
        if (!WaitReleased(worker))
            ADD_FAILURE() << "a worker on " << address << " was not released";
    return OpenFdCount() - before;
}
