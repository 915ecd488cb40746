#pragma once
// What the worker tests share: a recorder of the worker's notifications, a thread that stands in
// for the window thread, and waits that give up instead of hanging.

#include "comm/Recvthread.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// How long a test waits for something that should come at once before it fails.
constexpr std::chrono::seconds WorkerHangLimit { 10 };

struct WorkerEvent {
    char kind; // 'R'eceive, 'C'onnected, 'D'isconnected
    std::string peer;
    std::string data;
    bool terminated = false; // a NUL follows the data
    std::thread::id thread;
};

// Records the worker's notifications; safe to read from the test thread.
class Recorder {
public:
    void Bind(TRecvThread& worker);
    // Until count events of kind (0: any) were recorded; false after WorkerHangLimit.
    bool WaitFor(size_t count, char kind = 0);
    size_t CountOf(char kind);
    std::vector<WorkerEvent> Events();
    void Clear();
    // The bytes of all receive events from peer, joined in order.
    std::string ReceivedFrom(const std::string& peer);

private:
    void Add(WorkerEvent event);
    size_t Count(char kind) const;
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<WorkerEvent> events;
};

// Stands in for the window thread: runs posted calls one after another on its own thread.
class OwnerLoop {
public:
    OwnerLoop();
    ~OwnerLoop();
    OwnerLoop(const OwnerLoop&) = delete;
    OwnerLoop& operator=(const OwnerLoop&) = delete;
    // Runs call on the loop's thread and returns when it has run. A call that has not run after
    // WorkerHangLimit ends the test program with a message instead of hanging it.
    void RunAndWait(const std::function<void()>& call);
    TRecvThread::Delivery Delivery();
    // Runs call later on the loop's thread without waiting.
    void Post(std::function<void()> call);
    TRecvThread::Posting Posting();
    std::thread::id Id() const { return thread.get_id(); }

private:
    void Run();
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::function<void()>> calls;
    bool quit = false;
    std::thread thread;
};

// True once nothing keeps the worker alive any more; false after WorkerHangLimit.
bool WaitReleased(const std::weak_ptr<TRecvThread>& worker);
// Stops the worker on the owner's thread, drops the test's reference and waits for its release.
bool StopAndRelease(OwnerLoop& owner, std::shared_ptr<TRecvThread>& worker);
// The number of file descriptors this process holds.
int OpenFdCount();
// Opens, starts and stops a new worker on address cycles times (prepare runs on each before Open)
// and returns how many more file descriptors the process holds once every worker is released: 0
// when nothing leaked. A port only one worker may hold at a time needs oneAtATime, which waits for
// each release before the next Open. A failed Open or release fails the test.
int FdsLeftAfterOpenStopCycles(const std::string& address, int cycles, bool oneAtATime,
    const std::function<void(TRecvThread&)>& prepare = {});
