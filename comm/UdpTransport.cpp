// The Udp transport: one socket bound to a local address and port, datagrams in bursts, sends to
// an address or as broadcasts.

#include "comm/SocketHelpers.h"
#include "comm/WorkerTransport.h"
#include "text/Strtools.h"

#include <arpa/inet.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

namespace {

constexpr int ReceiveAreaSize = 1600; // one datagram as read from the socket
constexpr int DatagramsPerRead = 256;
// After a read that found a burst under way, the worker lets the socket gather more for this long
// before it reads again: one wake-up and one batch per millisecond instead of one per datagram,
// which at a hundred thousand replies a second is most of the cost. The socket's buffer holds many
// times what arrives meanwhile, and a reply reaches its row at most this much later.
constexpr int GatherMs = 1;
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

class UdpTransport final : public WorkerTransport {
public:
    UdpTransport(UniqueFd socket, int port, in_addr_t localAddress, unsigned interfaceIndex)
        : FSocket(std::move(socket))
        , FPort(port)
        , FLocalAddress(localAddress)
        , FInterfaceIndex(interfaceIndex)
    {
    }

    void Run(WorkerCore& core) override;
    int Send(WorkerCore& core, const char* address, const void* data, int length) override;
    void Close() override
    {
        std::lock_guard lock(FMutex);
        FSocket.reset();
    }
    bool DisconnectsOnStop() const override { return true; }
    int LocalPort() const override
    {
        std::lock_guard lock(FMutex);
        return BoundPortOf(FSocket.get());
    }

private:
    int SendDatagram(WorkerCore& core, const sockaddr_in& target, const void* data, int length);

    mutable std::mutex FMutex; // sends and Close; the loop's own reads need none
    UniqueFd FSocket;
    const int FPort;
    const in_addr_t FLocalAddress;
    const unsigned FInterfaceIndex; // non-zero: datagrams arriving elsewhere are dropped
};

// Replies come in bursts of thousands right after a hello. Whatever is queued after a wait is taken
// in one call and handed over as one batch (see WorkerCore::HandOverReceived), whose datagrams
// reach OnReceive one by one in order until a handler stops the worker.
// A zero-length datagram is skipped: any host on the network could otherwise end discovery.
// A datagram longer than the chunk limit is cut to it.
void UdpTransport::Run(WorkerCore& core)
{
    // Not zeroed: only the parts a receive has written are read.
    const auto slots = std::make_unique_for_overwrite<ReceiveSlot[]>(DatagramsPerRead);
    std::vector<iovec> vectors(DatagramsPerRead);
    std::vector<mmsghdr> headers(DatagramsPerRead);
    auto batch = std::make_unique<ReceivedBatch>();
    const int socket = FSocket.get();
    bool inBurst = false;

    while (!core.Stopped()) {
        // Only Stop ends the gathering early.
        if (inBurst && WaitReadable(core.WakeFd(), -1, GatherMs) != WaitResult::TimedOut)
            continue;
        const WaitResult wait = WaitReadable(socket, core.WakeFd(), -1);
        if (wait == WaitResult::Woken || wait == WaitResult::TimedOut)
            continue;
        if (wait == WaitResult::Failed) {
            core.NotifyChannelLost();
            return;
        }
        for (int i = 0; i < DatagramsPerRead; ++i) {
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
        const int count = recvmmsg(socket, headers.data(), DatagramsPerRead, MSG_DONTWAIT, nullptr);
        if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
            continue;
        if (count < 0) {
            core.NotifyChannelLost();
            return;
        }
        // A full read means more is waiting: read again at once.
        inBurst = count > 0 && count < DatagramsPerRead;
        for (int i = 0; i < count; ++i) {
            const int length = static_cast<int>(std::min<unsigned>(headers[i].msg_len, MaxChunk));
            if (length == 0)
                continue;
            if (FInterfaceIndex != 0 && ArrivalInterface(headers[i].msg_hdr) != FInterfaceIndex)
                continue;
            batch->Add(slots[i].data, length, slots[i].from);
        }
        core.HandOverReceived(batch);
    }
}

int UdpTransport::Send(WorkerCore& core, const char* address, const void* data, int length)
{
    std::string host;
    int port = FPort;
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
    return SendDatagram(core, to, data, length);
}

int UdpTransport::SendDatagram(WorkerCore& core, const sockaddr_in& target, const void* data, int length)
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
    if (FInterfaceIndex != 0) {
        header.msg_control = control;
        header.msg_controllen = sizeof control;
        cmsghdr* c = CMSG_FIRSTHDR(&header);
        c->cmsg_level = IPPROTO_IP;
        c->cmsg_type = IP_PKTINFO;
        c->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
        in_pktinfo info {};
        info.ipi_ifindex = static_cast<int>(FInterfaceIndex);
        info.ipi_spec_dst.s_addr = FLocalAddress;
        std::memcpy(CMSG_DATA(c), &info, sizeof info);
    }
    std::lock_guard lock(FMutex);
    if (!FSocket || core.Stopped())
        return 0;
    return sendmsg(FSocket.get(), &header, MSG_NOSIGNAL) == static_cast<ssize_t>(length) ? 1 : 0;
}

} // namespace

std::unique_ptr<WorkerTransport> OpenUdpTransport(const TChannelAddress& address, std::string& error)
{
    std::string status;
    UniqueFd socket(OpenUdpSocket(address.port, address.first, status));
    if (!socket) {
        error = status;
        return nullptr;
    }
    in_addr_t localAddress = 0;
    LocalInterface device;
    if (!address.first.empty() && ParseDottedAddress(address.first, localAddress)
        && FindInterfaceOwning(localAddress, device))
        return std::make_unique<UdpTransport>(std::move(socket), address.port, localAddress, device.index);
    return std::make_unique<UdpTransport>(std::move(socket), address.port, localAddress, 0u);
}
