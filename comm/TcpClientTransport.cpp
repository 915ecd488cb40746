// The TcpClient transport: connects on the worker thread, then receives until the peer closes.

#include "comm/SocketHelpers.h"
#include "comm/WorkerTransport.h"

#include <sys/socket.h>

#include <cerrno>

namespace {

constexpr int ConnectTimeoutMs = 500;
constexpr int PollMs = 500;

class TcpClientTransport final : public WorkerTransport {
public:
    TcpClientTransport(std::string host, int port)
        : FHost(std::move(host))
        , FPort(port)
    {
    }

    void Run(WorkerCore& core) override;
    int Send(WorkerCore& core, const char*, const void* data, int length) override
    {
        std::lock_guard lock(FMutex);
        if (!FSocket || core.Stopped())
            return -1;
        return static_cast<int>(send(FSocket.get(), data, static_cast<size_t>(length), MSG_NOSIGNAL));
    }
    void Close() override
    {
        std::lock_guard lock(FMutex);
        FSocket.reset();
    }

private:
    const std::string FHost;
    const int FPort;
    std::mutex FMutex; // sends and the two changes of FSocket (connected, closed)
    UniqueFd FSocket;
};

void TcpClientTransport::Run(WorkerCore& core)
{
    std::string status;
    std::string peer;
    const int connected = ConnectWithTimeout(FHost, FPort, status, peer, ConnectTimeoutMs);
    if (connected == -1) {
        core.NotifyChannelLost(std::string());
        return;
    }
    {
        std::lock_guard lock(FMutex);
        FSocket.reset(connected);
    }
    core.NotifyConnected(peer);
    char buffer[MaxChunk + 1];
    while (!core.Stopped()) {
        const WaitResult wait = WaitReadable(connected, core.WakeFd(), PollMs);
        if (wait == WaitResult::TimedOut)
            continue;
        if (wait != WaitResult::Readable)
            return;
        const ssize_t got = recv(connected, buffer, MaxChunk, 0);
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
            continue;
        if (got <= 0) {
            core.NotifyChannelLost(peer);
            return;
        }
        buffer[got] = '\0';
        core.NotifyReceived(peer, buffer, static_cast<int>(got));
    }
}

} // namespace

std::unique_ptr<WorkerTransport> OpenTcpClientTransport(const TChannelAddress& address, std::string&)
{
    return std::make_unique<TcpClientTransport>(address.first, address.port);
}
