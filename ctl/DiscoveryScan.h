#pragma once
// Discovery for the command-line program: the communication worker on the chosen interface, the
// hello every 500 ms and the replies read into the amplifier list, all on the calling thread but
// the worker's receive loop.

#include "comm/Recvthread.h"
#include "finder/Discovery.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// What discovery sent and heard so far.
struct TDiscoveryTraffic {
    uint64_t HellosSent = 0;
    uint64_t DatagramsReceived = 0;
    uint64_t DatagramsIgnored = 0; // no reply: the program's own broadcasts, or unreadable
    uint64_t RepliesOverflowed = 0; // replies dropped unread: they came faster than they were listed
};

class TDiscoveryScan {
public:
    // Replies waiting to be listed at most; a flood beyond what the list can take costs no memory.
    static constexpr size_t MaxQueuedReplies = 65536;

    TDiscoveryScan() = default;
    ~TDiscoveryScan();
    TDiscoveryScan(const TDiscoveryScan&) = delete;
    TDiscoveryScan& operator=(const TDiscoveryScan&) = delete;

    // Opens "udp:<localAddress>:<port>" and starts receiving.
    bool Open(const std::string& localAddress, std::string& error, int port = DiscoveryPort);
    // Stops the worker (its interface is gone); Open starts a new one.
    void Close();
    bool IsOpen() const { return FWorker != nullptr; }
    // Broadcasts a datagram (the hello, a settings datagram) on the chosen interface.
    bool Broadcast(const std::string& datagram);

    // Runs for ms: says hello every 500 ms (at once first) when hello is set, reads each reply into
    // List() and tells onReply of it. Ends early once stop holds (checked at least every 100 ms, and
    // between batches of replies however fast they come).
    using ReplyHandler = std::function<void(const TTovrinData& record)>;
    void Run(int ms, bool hello, const ReplyHandler& onReply, const std::function<bool()>& stop = {});

    AmplifierList& List() { return FList; }
    TDiscoveryTraffic Traffic() const;

private:
    std::shared_ptr<TRecvThread> FWorker;
    std::vector<std::string> FOwnPeers; // set before the worker starts, read only by its handler
    std::mutex FMutex;
    std::condition_variable FArrived;
    std::deque<TTovrinData> FReplies;
    AmplifierList FList;
    std::atomic<uint64_t> FHellos { 0 };
    std::atomic<uint64_t> FReceived { 0 };
    std::atomic<uint64_t> FIgnored { 0 };
    std::atomic<uint64_t> FOverflowed { 0 };
};
