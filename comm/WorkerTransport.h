#pragma once
// Inside the communication worker: the rules every transport shares (deliveries to the owner, the
// stop state and its wake-up) and the interface that each transport implements in a file of its own
// (UdpTransport, TcpClientTransport, TcpServerTransport, SerialPortTransport).

#include "comm/ChannelAddress.h"
#include "comm/Recvthread.h"
#include "platform/UniqueFd.h"

#include <netinet/in.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// Data bytes handed to OnReceive at most; a NUL follows them.
constexpr int MaxChunk = 1023;

// Datagrams read in one go, kept back to back (each followed by a NUL) until the owner takes them.
class ReceivedBatch {
public:
    struct Datagram {
        uint32_t offset;
        int length;
        sockaddr_in from;
    };

    void Add(const char* data, int length, const sockaddr_in& from);
    void Clear();
    bool Empty() const { return FDatagrams.empty(); }
    const std::vector<Datagram>& Datagrams() const { return FDatagrams; }
    const char* Data(const Datagram& d) const { return FBytes.data() + d.offset; }
    // What the batch counts against the hand-over limit: its bytes and its bookkeeping.
    size_t Weight() const { return FBytes.size() + FDatagrams.size() * sizeof(Datagram); }

private:
    std::vector<char> FBytes;
    std::vector<Datagram> FDatagrams;
};

// The part of a worker that its transport talks to. Handlers run only through Deliver (or, for the
// cases the worker documents, directly) and never once the worker has been stopped.
class WorkerCore {
public:
    explicit WorkerCore(TRecvThread& owner)
        : FOwner(owner)
    {
    }

    bool Stopped() const { return FStopped; }
    // Signalled by Stop: loops wait on it beside their own handles. -1 before Open.
    int WakeFd() const { return FWakeFd.get(); }
    void SetWakeFd(UniqueFd fd) { FWakeFd = std::move(fd); }
    void SetDelivery(TRecvThread::Delivery delivery) { FDelivery = std::move(delivery); }
    void SetPosting(TRecvThread::Posting posting) { FPosting = std::move(posting); }
    void SetHandOverLimit(size_t bytes) { FHandOverLimit = bytes == 0 ? 1 : bytes; }

    // Worker thread: hands a batch of datagrams to OnReceive, one call per datagram in order. With
    // a posting the batch joins the queue the owner's thread empties, the worker waiting only while
    // the queue holds the hand-over limit; batch is then swapped for an empty one. Without a
    // posting it goes through the delivery at once. A batch left when the worker stops is dropped.
    void HandOverReceived(std::unique_ptr<ReceivedBatch>& batch);

    // Runs call on the owner's thread through the delivery, holding the handler lock, unless the
    // worker is stopped by then. A handler may call Stop (the lock is recursive).
    void Deliver(const std::function<void()>& call);
    void NotifyConnected(const std::string& peer);
    void NotifyReceived(const std::string& peer, const char* data, int length);
    // The channel's one OnDisconnected: later calls do nothing.
    void NotifyChannelLost(const std::string& peer);
    // The same with the last peer (Udp: the sender of the last datagram handed over).
    void NotifyChannelLost();
    // OnDisconnected for one of several connections (TcpServer clients); the caller makes sure it
    // comes once per connection.
    void NotifyPeerLost(const std::string& peer);
    TRecvThread& Owner() { return FOwner; }

    // Marks the worker stopped and wakes its loop and any wait on the wake fd. With
    // giveDisconnect, the channel's OnDisconnected (if not given yet) runs first, on this thread.
    void Stop(bool giveDisconnect);

private:
    void GiveChannelLost(const std::string* peer); // null: the last peer
    // Owner's thread, handler lock held.
    void HandToOwner(const ReceivedBatch& batch);
    // Owner's thread: the batches queued when it starts, then again later if more came meanwhile,
    // so that a flood cannot keep the owner's other work waiting.
    void DrainQueued();
    // Everything still queued, at once (before the channel's end is reported).
    void DrainAllQueued();
    std::unique_ptr<ReceivedBatch> TakeQueued();
    void Recycle(std::unique_ptr<ReceivedBatch> batch);
    void PostDrain();

    TRecvThread& FOwner;
    TRecvThread::Delivery FDelivery;
    TRecvThread::Posting FPosting;
    size_t FHandOverLimit = 4 * 1024 * 1024;
    std::mutex FQueueMutex; // the queue, its weight, the spares and whether a drain is posted
    std::condition_variable FQueueRoom;
    std::deque<std::unique_ptr<ReceivedBatch>> FQueued;
    std::vector<std::unique_ptr<ReceivedBatch>> FSpare;
    size_t FQueuedWeight = 0;
    bool FDrainPosted = false;
    std::recursive_mutex FHandlerMutex; // held while handlers run and while Stop decides
    std::atomic<bool> FStopped { false };
    UniqueFd FWakeFd; // set by Open before the thread starts; closed only with the worker
    bool FDisconnectNotified = false; // under FHandlerMutex
    std::string FLastPeer; // under FHandlerMutex
};

// One transport of the worker. Its handles are closed by Close on the worker thread when the loop
// has ended (or with the worker); sends from other threads use them under the transport's own lock.
class WorkerTransport {
public:
    virtual ~WorkerTransport() = default;
    // The receive loop, on the worker thread; returns when the channel ends or the worker stops.
    virtual void Run(WorkerCore& core) = 0;
    virtual int Send(WorkerCore& core, const char* address, const void* data, int length) = 0;
    virtual void Close() = 0;
    // Whether Stop itself gives the channel's OnDisconnected (Udp, whose loop only Stop ends).
    virtual bool DisconnectsOnStop() const { return false; }
    // The local port a Udp or TcpServer channel is bound to; 0 when none.
    virtual int LocalPort() const { return 0; }
};

// Each opens its channel from a parsed address, or gives null and says why in error.
std::unique_ptr<WorkerTransport> OpenUdpTransport(const TChannelAddress& address, std::string& error);
std::unique_ptr<WorkerTransport> OpenTcpClientTransport(const TChannelAddress& address, std::string& error);
std::unique_ptr<WorkerTransport> OpenTcpServerTransport(const TChannelAddress& address, std::string& error);
std::unique_ptr<WorkerTransport> OpenSerialPortTransport(const TChannelAddress& address, std::string& error);

// The local port of a bound socket; 0 when there is none.
int BoundPortOf(int socket);
