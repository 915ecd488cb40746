#include "ctl/DiscoveryScan.h"

#include "platform/HostInfo.h"

#include <algorithm>
#include <chrono>
#include <iterator>
#include <vector>

TDiscoveryScan::~TDiscoveryScan()
{
    if (FWorker)
        FWorker->Stop();
}

void TDiscoveryScan::Close()
{
    if (FWorker)
        FWorker->Stop();
    FWorker.reset();
    std::lock_guard lock(FMutex);
    FReplies.clear();
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
        if (FReplies.size() >= MaxQueuedReplies) {
            ++FOverflowed;
            return;
        }
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
    return { FHellos.load(), FReceived.load(), FIgnored.load(), FOverflowed.load() };
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
        // A batch at a time, so that a stop and the next hello are never far behind a flood.
        constexpr size_t Batch = 1024;
        std::vector<TTovrinData> replies;
        {
            std::unique_lock lock(FMutex);
            FArrived.wait_until(lock, until, [this] { return !FReplies.empty(); });
            const size_t taken = std::min(Batch, FReplies.size());
            replies.assign(std::make_move_iterator(FReplies.begin()),
                std::make_move_iterator(FReplies.begin() + static_cast<std::ptrdiff_t>(taken)));
            FReplies.erase(FReplies.begin(), FReplies.begin() + static_cast<std::ptrdiff_t>(taken));
        }
        for (const TTovrinData& record : replies) {
            FList.UpdateAmplifier(record, platform::TickCount());
            if (onReply)
                onReply(record);
        }
    }
}
