#pragma once
// Inside the communication worker: the rules every transport shares (deliveries to the owner, the
// stop state and its wake-up) and the interface that each transport implements in a file of its own
// (UdpTransport, TcpClientTransport, TcpServerTransport, SerialPortTransport).

#include "comm/ChannelAddress.h"
#include "comm/Recvthread.h"
#include "platform/UniqueFd.h"

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

// Data bytes handed to OnReceive at most; a NUL follows them.
constexpr int MaxChunk = 1023;

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
    // Udp: the sender of the last datagram handed over, the peer of the channel's OnDisconnected.
    // Only inside a delivery.
    void SetLastPeer(const std::string& peer) { FLastPeer = peer; }
    const std::string& LastPeer() const { return FLastPeer; }
    TRecvThread& Owner() { return FOwner; }

    // Marks the worker stopped and wakes its loop and any wait on the wake fd. With
    // giveDisconnect, the channel's OnDisconnected (if not given yet) runs first, on this thread.
    void Stop(bool giveDisconnect);

private:
    void GiveChannelLost(const std::string* peer); // null: the last peer

    TRecvThread& FOwner;
    TRecvThread::Delivery FDelivery;
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
