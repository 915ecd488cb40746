// The communication worker: its life (open, start, stop, release), the deliveries to its owner and
// the rules all transports share. Each transport's loop and sends live in a file of its own.

#include "comm/Recvthread.h"

#include "comm/ChannelAddress.h"
#include "comm/WorkerTransport.h"

#include <arpa/inet.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <system_error>
#include <thread>

void WorkerCore::Deliver(const std::function<void()>& call)
{
    if (FStopped)
        return;
    const std::function<void()> guarded = [&] {
        std::lock_guard lock(FHandlerMutex);
        if (!FStopped)
            call();
    };
    if (FDelivery)
        FDelivery(guarded);
    else
        guarded();
}

void ReceivedBatch::Add(const char* data, int length, const sockaddr_in& from)
{
    const auto offset = static_cast<uint32_t>(FBytes.size());
    FBytes.insert(FBytes.end(), data, data + length);
    FBytes.push_back('\0');
    FDatagrams.push_back({ offset, length, from });
}

void ReceivedBatch::Clear()
{
    FBytes.clear();
    FDatagrams.clear();
}

void WorkerCore::HandOverReceived(std::unique_ptr<ReceivedBatch>& batch)
{
    if (batch->Empty() || FStopped)
        return;
    if (!FPosting) {
        Deliver([&] { HandToOwner(*batch); });
        batch->Clear();
        return;
    }
    bool post = false;
    {
        std::unique_lock lock(FQueueMutex);
        FQueueRoom.wait(lock, [&] { return FStopped || FQueuedWeight < FHandOverLimit; });
        if (FStopped)
            return;
        FQueuedWeight += batch->Weight();
        FQueued.push_back(std::move(batch));
        if (!FSpare.empty()) {
            batch = std::move(FSpare.back());
            FSpare.pop_back();
        } else {
            batch = std::make_unique<ReceivedBatch>();
        }
        post = !FDrainPosted;
        FDrainPosted = true;
    }
    if (post)
        PostDrain();
}

void WorkerCore::PostDrain()
{
    // The posted call keeps the worker alive until it has run or has been dropped.
    FPosting([self = FOwner.shared_from_this(), this] { DrainQueued(); });
}

std::unique_ptr<ReceivedBatch> WorkerCore::TakeQueued()
{
    std::unique_ptr<ReceivedBatch> batch;
    {
        std::lock_guard lock(FQueueMutex);
        if (FQueued.empty())
            return batch;
        batch = std::move(FQueued.front());
        FQueued.pop_front();
        FQueuedWeight -= batch->Weight();
    }
    FQueueRoom.notify_one();
    return batch;
}

void WorkerCore::Recycle(std::unique_ptr<ReceivedBatch> batch)
{
    constexpr size_t KeptSpares = 8;
    batch->Clear();
    std::lock_guard lock(FQueueMutex);
    if (FSpare.size() < KeptSpares)
        FSpare.push_back(std::move(batch));
}

void WorkerCore::DrainQueued()
{
    std::lock_guard handlers(FHandlerMutex);
    size_t waiting = 0;
    {
        std::lock_guard lock(FQueueMutex);
        waiting = FQueued.size();
    }
    for (; waiting > 0 && !FStopped; --waiting) {
        auto batch = TakeQueued();
        if (!batch)
            break;
        HandToOwner(*batch);
        Recycle(std::move(batch));
    }
    bool again = false;
    {
        std::lock_guard lock(FQueueMutex);
        again = !FQueued.empty() && !FStopped;
        FDrainPosted = again;
    }
    if (again)
        PostDrain();
}

void WorkerCore::DrainAllQueued()
{
    while (!FStopped) {
        auto batch = TakeQueued();
        if (!batch)
            return;
        HandToOwner(*batch);
        Recycle(std::move(batch));
    }
}

void WorkerCore::HandToOwner(const ReceivedBatch& batch)
{
    for (const ReceivedBatch::Datagram& d : batch.Datagrams()) {
        if (FStopped)
            return;
        FormatPeerText(d.from, FLastPeer);
        if (FOwner.OnReceive)
            FOwner.OnReceive(FLastPeer, batch.Data(d), d.length);
    }
}

void WorkerCore::NotifyConnected(const std::string& peer)
{
    Deliver([&] {
        if (FOwner.OnConnected)
            FOwner.OnConnected(peer);
    });
}

void WorkerCore::NotifyReceived(const std::string& peer, const char* data, int length)
{
    Deliver([&] {
        if (FOwner.OnReceive)
            FOwner.OnReceive(peer, data, length);
    });
}

void WorkerCore::NotifyChannelLost(const std::string& peer)
{
    GiveChannelLost(&peer);
}

void WorkerCore::NotifyChannelLost()
{
    GiveChannelLost(nullptr);
}

void WorkerCore::GiveChannelLost(const std::string* peer)
{
    Deliver([&] {
        // Datagrams read before the channel ended come first.
        DrainAllQueued();
        if (FStopped || FDisconnectNotified)
            return;
        FDisconnectNotified = true;
        if (FOwner.OnDisconnected)
            FOwner.OnDisconnected(peer != nullptr ? *peer : FLastPeer);
    });
}

void WorkerCore::NotifyPeerLost(const std::string& peer)
{
    Deliver([&] {
        if (FOwner.OnDisconnected)
            FOwner.OnDisconnected(peer);
    });
}

void WorkerCore::Stop(bool giveDisconnect)
{
    {
        std::lock_guard lock(FHandlerMutex);
        if (FStopped)
            return;
        if (giveDisconnect && !FDisconnectNotified) {
            FDisconnectNotified = true;
            if (FOwner.OnDisconnected)
                FOwner.OnDisconnected(FLastPeer);
        }
        FStopped = true;
    }
    {
        // Taken so that a worker between its check and its wait cannot miss the wake-up.
        std::lock_guard lock(FQueueMutex);
    }
    FQueueRoom.notify_all();
    if (FWakeFd) {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = write(FWakeFd.get(), &one, sizeof one);
    }
}

int BoundPortOf(int socket)
{
    sockaddr_in bound {};
    socklen_t size = sizeof bound;
    if (socket < 0 || getsockname(socket, reinterpret_cast<sockaddr*>(&bound), &size) != 0)
        return 0;
    return ntohs(bound.sin_port);
}

struct TRecvThread::Impl {
    explicit Impl(TRecvThread& owner)
        : core(owner)
    {
    }
    WorkerCore core;
    std::unique_ptr<WorkerTransport> transport;
    bool started = false;
    bool running = false;
};

std::shared_ptr<TRecvThread> TRecvThread::Create()
{
    return std::make_shared<TRecvThread>(CreateKey());
}

TRecvThread::TRecvThread(CreateKey)
    : impl(std::make_unique<Impl>(*this))
{
}

TRecvThread::~TRecvThread()
{
    if (impl->transport)
        impl->transport->Close();
}

void TRecvThread::SetDelivery(Delivery delivery)
{
    impl->core.SetDelivery(std::move(delivery));
}

void TRecvThread::SetPosting(Posting posting)
{
    impl->core.SetPosting(std::move(posting));
}

void TRecvThread::SetHandOverLimit(size_t bytes)
{
    impl->core.SetHandOverLimit(bytes);
}

bool TRecvThread::Open(const std::string& address)
{
    std::string error;
    return Open(address, error);
}

bool TRecvThread::Open(const std::string& address, std::string& error)
{
    error.clear();
    if (impl->transport || impl->started) {
        error = "The channel is already open.";
        return false;
    }
    TChannelAddress parsed;
    const bool valid = ParseChannelAddress(address, parsed, error);
    if (parsed.knownKeyword)
        FTransport = parsed.transport;
    if (!valid)
        return false;

    UniqueFd wakeFd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!wakeFd) {
        error = "eventfd() failed: " + WsaErrorText();
        return false;
    }
    std::unique_ptr<WorkerTransport> transport;
    switch (parsed.transport) {
    case Udp:
        FUdpPort = parsed.port;
        transport = OpenUdpTransport(parsed, error);
        break;
    case TcpClient:
        transport = OpenTcpClientTransport(parsed, error);
        break;
    case TcpServer:
        transport = OpenTcpServerTransport(parsed, error);
        break;
    case SerialPort:
        transport = OpenSerialPortTransport(parsed, error);
        break;
    }
    if (!transport)
        return false;
    impl->core.SetWakeFd(std::move(wakeFd));
    impl->transport = std::move(transport);
    // A serial port tells its owner at once, on the opening thread, with the name it was given.
    if (parsed.transport == SerialPort && OnConnected)
        OnConnected(parsed.first);
    return true;
}

void TRecvThread::Start()
{
    if (impl->started)
        return;
    impl->started = true;
    if (!impl->transport || impl->core.Stopped())
        return;
    impl->running = true;
    try {
        std::thread([self = shared_from_this()] { self->Execute(); }).detach();
    } catch (const std::system_error&) {
        impl->running = false;
    }
}

void TRecvThread::Execute()
{
    impl->transport->Run(impl->core);
    impl->transport->Close();
}

bool TRecvThread::Stop()
{
    impl->core.Stop(impl->running && impl->transport && impl->transport->DisconnectsOnStop());
    return true;
}

int TRecvThread::LocalPort() const
{
    return impl->transport ? impl->transport->LocalPort() : 0;
}

int TRecvThread::Send(const char* address, const void* data, int length)
{
    if (!impl->transport || length < 0 || (data == nullptr && length > 0))
        return FTransport == Udp ? 0 : -1;
    return impl->transport->Send(impl->core, address, data, length);
}

int TRecvThread::SendText(const char* address, const char* text)
{
    if (text == nullptr)
        text = "";
    return Send(address, text, static_cast<int>(std::strlen(text)));
}

int TRecvThread::SendString(const char* address, const std::string& text)
{
    return SendText(address, text.c_str());
}
