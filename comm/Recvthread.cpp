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
        if (FDisconnectNotified)
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
