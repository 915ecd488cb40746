#include "ctl/DiscoveryScan.h"

#include "platform/HostInfo.h"

#include <algorithm>
#include <chrono>

TDiscoveryScan::~TDiscoveryScan()
{
    if (FWorker)
        FWorker->Stop();
}

bool TDiscoveryScan::Open(const std::string& localAddress, std::string& error, int port)
{
    auto worker = TRecvThread::Create();
    // Delivered on the worker's thread: only queued here, read by Run on the caller's.
    worker->OnReceive = [this](const std::string& peer, const char* data, int length) {
        TTovrinData record;
        ++FReceived;
        if (IsOwnDatagram(FOwnPeers, peer) || length <= 0
            || !ParseTovrinReply(data, static_cast<size_t>(length), record)) {
            ++FIgnored;
            return;
        }
        std::lock_guard lock(FMutex);
        FReplies.push_back(std::move(record));
        FArrived.notify_one();
    };
    if (!worker->Open("udp:" + localAddress + ":" + std::to_string(port), error))
        return false;
    FOwnPeers = OwnDatagramPeers(localAddress, worker->LocalPort());
    worker->Start();
    FWorker = std::move(worker);
    return true;
}

bool TDiscoveryScan::Broadcast(const std::string& datagram)
{
    return FWorker && FWorker->SendString(nullptr, datagram) == 1;
}

TDiscoveryTraffic TDiscoveryScan::Traffic() const
{
    return { FHellos.load(), FReceived.load(), FIgnored.load() };
}

void TDiscoveryScan::Run(int ms, bool hello, const ReplyHandler& onReply, const std::function<bool()>& stop)
{
    using Clock = std::chrono::steady_clock;
    const auto end = Clock::now() + std::chrono::milliseconds(ms);
    auto nextHello = Clock::now();
    for (;;) {
        if (stop && stop())
            return;
        const auto now = Clock::now();
        if (now >= end)
            return;
        if (hello && now >= nextHello) {
            if (Broadcast(DiscoveryHello))
                ++FHellos;
            nextHello += std::chrono::milliseconds(HelloIntervalMs);
        }
        auto until = std::min(end, now + std::chrono::milliseconds(100));
        if (hello)
            until = std::min(until, nextHello);
        std::deque<TTovrinData> replies;
        {
            std::unique_lock lock(FMutex);
            FArrived.wait_until(lock, until, [this] { return !FReplies.empty(); });
            replies.swap(FReplies);
        }
        for (const TTovrinData& record : replies) {
            FList.UpdateAmplifier(record, platform::TickCount());
            if (onReply)
                onReply(record);
        }
    }
}
