// The communication worker: opens one channel, receives on its own thread, and hands what it
// receives to the owner through the owner's delivery function.

#include "comm/Recvthread.h"

#include "comm/ChannelAddress.h"
#include "comm/SocketHelpers.h"
#include "comm/UniqueFd.h"
#include "text/Strtools.h"

#include <arpa/inet.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

namespace {

constexpr int MaxChunk = 1023; // data bytes handed to OnReceive; a NUL follows them
constexpr int ReceiveAreaSize = 1600; // one datagram as read from the socket
constexpr int DatagramsPerDelivery = 256;
constexpr int ConnectTimeoutMs = 500;
constexpr int TcpPollMs = 500;
constexpr size_t MaxSendAddress = 63;

struct ReceiveSlot {
    char data[ReceiveAreaSize];
    sockaddr_in from;
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))];
};

unsigned ArrivalInterface(const msghdr& header)
{
    for (const cmsghdr* c = CMSG_FIRSTHDR(&header); c != nullptr;
         c = CMSG_NXTHDR(const_cast<msghdr*>(&header), const_cast<cmsghdr*>(c))) {
        if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
            in_pktinfo info {};
            std::memcpy(&info, CMSG_DATA(c), sizeof info);
            return static_cast<unsigned>(info.ipi_ifindex);
        }
    }
    return 0;
}

} // namespace

struct TRecvThread::Impl {
    // The channel's handles. They do not change while the worker thread runs, except that the
    // TcpClient worker sets Socket once connected, and the worker closes both at its end. Sends
    // and the wake-up of Stop use them under fdMutex, so they never reach a closed or reused fd.
    std::mutex fdMutex;
    UniqueFd socket;
    UniqueFd wakeFd;

    bool opened = false;
    bool started = false;
    bool running = false;
    std::atomic<bool> stopped { false };

    std::string host;
    int tcpPort = 1234;
    in_addr_t localAddress = 0;
    unsigned interfaceIndex = 0; // non-zero: datagrams arriving elsewhere are dropped

    Delivery delivery;
    // Held while handlers run and while Stop decides; recursive so a handler may call Stop.
    std::recursive_mutex handlerMutex;
    bool disconnectNotified = false; // under handlerMutex
    std::string lastPeer; // sender of the last delivered datagram, under handlerMutex

    void Deliver(const std::function<void()>& call)
    {
        if (stopped)
            return;
        if (delivery)
            delivery(call);
        else
            call();
    }

    void CloseHandles()
    {
        std::lock_guard lock(fdMutex);
        socket.reset();
        wakeFd.reset();
    }

    void DeliverConnected(TRecvThread& owner, const std::string& peer)
    {
        Deliver([&] {
            std::lock_guard lock(handlerMutex);
            if (!stopped && owner.OnConnected)
                owner.OnConnected(peer);
        });
    }

    void DeliverReceived(TRecvThread& owner, const std::string& peer, const char* data, int length)
    {
        Deliver([&] {
            std::lock_guard lock(handlerMutex);
            if (!stopped && owner.OnReceive)
                owner.OnReceive(peer, data, length);
        });
    }

    // No peer given: the sender of the last datagram, as for a Udp channel.
    void DeliverDisconnected(TRecvThread& owner, const std::optional<std::string>& peer)
    {
        Deliver([&] {
            std::lock_guard lock(handlerMutex);
            if (stopped || disconnectNotified)
                return;
            disconnectNotified = true;
            if (owner.OnDisconnected)
                owner.OnDisconnected(peer ? *peer : lastPeer);
        });
    }

    void RunTcpClient(TRecvThread& owner);
    void RunUdp(TRecvThread& owner);
    int SendDatagram(const sockaddr_in& target, const void* data, int length);
};

void TRecvThread::Impl::RunTcpClient(TRecvThread& owner)
{
    std::string status;
    std::string peer;
    const int connected = ConnectWithTimeout(host, tcpPort, status, peer, ConnectTimeoutMs);
    if (connected == -1) {
        DeliverDisconnected(owner, std::string());
        return;
    }
    {
        std::lock_guard lock(fdMutex);
        socket.reset(connected);
    }
    DeliverConnected(owner, peer);
    char buffer[MaxChunk + 1];
    while (!stopped) {
        const WaitResult wait = WaitReadable(connected, wakeFd.get(), TcpPollMs);
        if (wait == WaitResult::TimedOut)
            continue;
        if (wait != WaitResult::Readable)
            return;
        const ssize_t got = recv(connected, buffer, MaxChunk, 0);
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
            continue;
        if (got <= 0) {
            DeliverDisconnected(owner, peer);
            return;
        }
        buffer[got] = '\0';
        DeliverReceived(owner, peer, buffer, static_cast<int>(got));
    }
}

// Replies come in bursts of thousands right after a hello. Whatever is queued after a wait is taken
// in one call and handed over in one delivery, which calls OnReceive per datagram in order.
// A zero-length datagram is skipped: any host on the network could otherwise end discovery.
// A datagram longer than the chunk limit is cut to it.
void TRecvThread::Impl::RunUdp(TRecvThread& owner)
{
    // Not zeroed: only the parts a receive has written are read.
    const auto slots = std::make_unique_for_overwrite<ReceiveSlot[]>(DatagramsPerDelivery);
    std::vector<iovec> vectors(DatagramsPerDelivery);
    std::vector<mmsghdr> headers(DatagramsPerDelivery);
    std::vector<int> accepted;
    std::vector<int> lengths(DatagramsPerDelivery);
    accepted.reserve(DatagramsPerDelivery);

    while (!stopped) {
        const WaitResult wait = WaitReadable(socket.get(), wakeFd.get(), -1);
        if (wait == WaitResult::Woken || wait == WaitResult::TimedOut)
            continue;
        if (wait == WaitResult::Failed) {
            DeliverDisconnected(owner, std::nullopt);
            return;
        }
        for (int i = 0; i < DatagramsPerDelivery; ++i) {
            vectors[i] = { slots[i].data, ReceiveAreaSize };
            headers[i] = {};
            msghdr& header = headers[i].msg_hdr;
            header.msg_name = &slots[i].from;
            header.msg_namelen = sizeof slots[i].from;
            header.msg_iov = &vectors[i];
            header.msg_iovlen = 1;
            header.msg_control = slots[i].control;
            header.msg_controllen = sizeof slots[i].control;
        }
        const int count = recvmmsg(socket.get(), headers.data(), DatagramsPerDelivery, MSG_DONTWAIT, nullptr);
        if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
            continue;
        if (count < 0) {
            DeliverDisconnected(owner, std::nullopt);
            return;
        }
        accepted.clear();
        for (int i = 0; i < count; ++i) {
            const int length = static_cast<int>(std::min<unsigned>(headers[i].msg_len, MaxChunk));
            if (length == 0)
                continue;
            if (interfaceIndex != 0 && ArrivalInterface(headers[i].msg_hdr) != interfaceIndex)
                continue;
            slots[i].data[length] = '\0';
            lengths[i] = length;
            accepted.push_back(i);
        }
        if (accepted.empty())
            continue;
        Deliver([&] {
            std::lock_guard lock(handlerMutex);
            std::string peer;
            for (const int i : accepted) {
                if (stopped)
                    return;
                peer = PeerText(slots[i].from);
                lastPeer = peer;
                if (owner.OnReceive)
                    owner.OnReceive(peer, slots[i].data, lengths[i]);
            }
        });
    }
}

int TRecvThread::Impl::SendDatagram(const sockaddr_in& target, const void* data, int length)
{
    iovec vector { const_cast<void*>(data), static_cast<size_t>(length) };
    msghdr header {};
    header.msg_name = const_cast<sockaddr_in*>(&target);
    header.msg_namelen = sizeof target;
    header.msg_iov = &vector;
    header.msg_iovlen = 1;
    // A channel tied to one interface sends through it, also where SO_BINDTODEVICE was refused,
    // and from its chosen address.
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
    if (interfaceIndex != 0) {
        header.msg_control = control;
        header.msg_controllen = sizeof control;
        cmsghdr* c = CMSG_FIRSTHDR(&header);
        c->cmsg_level = IPPROTO_IP;
        c->cmsg_type = IP_PKTINFO;
        c->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
        in_pktinfo info {};
        info.ipi_ifindex = static_cast<int>(interfaceIndex);
        info.ipi_spec_dst.s_addr = localAddress;
        std::memcpy(CMSG_DATA(c), &info, sizeof info);
    }
    std::lock_guard lock(fdMutex);
    if (!socket || stopped)
        return 0;
    return sendmsg(socket.get(), &header, MSG_NOSIGNAL) == static_cast<ssize_t>(length) ? 1 : 0;
}

std::shared_ptr<TRecvThread> TRecvThread::Create()
{
    return std::make_shared<TRecvThread>(CreateKey());
}

TRecvThread::TRecvThread(CreateKey)
    : impl(std::make_unique<Impl>())
{
}

TRecvThread::~TRecvThread()
{
    impl->CloseHandles();
}

void TRecvThread::SetDelivery(Delivery delivery)
{
    impl->delivery = std::move(delivery);
}

bool TRecvThread::Open(const std::string& address)
{
    std::string error;
    return Open(address, error);
}

bool TRecvThread::Open(const std::string& address, std::string& error)
{
    error.clear();
    if (impl->opened || impl->started) {
        error = "The channel is already open.";
        return false;
    }
    TChannelAddress parsed;
    const bool valid = ParseChannelAddress(address, parsed, error);
    if (parsed.knownKeyword)
        FTransport = parsed.transport;
    if (!valid)
        return false;

    if (parsed.transport == SerialPort || parsed.transport == TcpServer) {
        error = "Serial and TCP server channels are not available.";
        return false;
    }
    UniqueFd wakeFd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!wakeFd) {
        error = "eventfd() failed: " + WsaErrorText();
        return false;
    }
    if (parsed.transport == Udp) {
        FUdpPort = parsed.port;
        std::string status;
        UniqueFd socket(OpenUdpSocket(parsed.port, parsed.first, status));
        if (!socket) {
            error = status;
            return false;
        }
        impl->socket = std::move(socket);
        LocalInterface device;
        if (!parsed.first.empty() && ParseDottedAddress(parsed.first, impl->localAddress)
            && FindInterfaceOwning(impl->localAddress, device))
            impl->interfaceIndex = device.index;
    } else {
        impl->host = parsed.first;
        impl->tcpPort = parsed.port;
    }
    impl->wakeFd = std::move(wakeFd);
    impl->opened = true;
    return true;
}

void TRecvThread::Start()
{
    if (impl->started)
        return;
    impl->started = true;
    if (!impl->opened || impl->stopped)
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
    if (FTransport == Udp)
        impl->RunUdp(*this);
    else if (FTransport == TcpClient)
        impl->RunTcpClient(*this);
    impl->CloseHandles();
}

bool TRecvThread::Stop()
{
    {
        std::lock_guard lock(impl->handlerMutex);
        if (impl->stopped)
            return true;
        // The Udp loop blocks until Stop; its one OnDisconnected is given here, on the owner's
        // thread, so that it comes exactly once and before Stop returns, never later when the
        // owner may be gone.
        if (FTransport == Udp && impl->running && !impl->disconnectNotified) {
            impl->disconnectNotified = true;
            if (OnDisconnected)
                OnDisconnected(impl->lastPeer);
        }
        impl->stopped = true;
    }
    std::lock_guard lock(impl->fdMutex);
    if (impl->wakeFd) {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = write(impl->wakeFd.get(), &one, sizeof one);
    }
    return true;
}

int TRecvThread::LocalPort() const
{
    std::lock_guard lock(impl->fdMutex);
    if (FTransport != Udp || !impl->socket)
        return 0;
    sockaddr_in bound {};
    socklen_t size = sizeof bound;
    if (getsockname(impl->socket.get(), reinterpret_cast<sockaddr*>(&bound), &size) != 0)
        return 0;
    return ntohs(bound.sin_port);
}

int TRecvThread::Send(const char* address, const void* data, int length)
{
    if (length < 0 || (data == nullptr && length > 0))
        return FTransport == Udp ? 0 : -1;
    if (FTransport == TcpClient) {
        std::lock_guard lock(impl->fdMutex);
        if (!impl->socket || impl->stopped)
            return -1;
        return static_cast<int>(send(impl->socket.get(), data, static_cast<size_t>(length), MSG_NOSIGNAL));
    }
    if (FTransport != Udp)
        return -1;

    std::string host;
    int port = FUdpPort;
    if (address != nullptr) {
        // A longer address would be cut into a different one; refuse it rather than send there.
        if (std::strlen(address) > MaxSendAddress)
            return 0;
        std::string portText;
        if (SplitAtFirst(address, host, ":", portText))
            port = StrToIntLoose(portText);
    }
    in_addr_t target = htonl(INADDR_BROADCAST);
    if (!host.empty() && !ResolveHost(host, target))
        return 0;
    sockaddr_in to {};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = target;
    to.sin_port = htons(static_cast<uint16_t>(port));
    return impl->SendDatagram(to, data, length);
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
