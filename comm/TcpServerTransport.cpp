// The TcpServer transport: a listening socket and three client slots, filled in order 0, 1, 2.
//
// Sends come from the owner's thread while the worker accepts and frees slots. Only the worker
// thread closes a client's socket, so the sockets it waits on are never closed under it; a send
// that fails marks its connection gone and shuts it down, and the worker frees the slot. Each
// connection carries a number, so a slot that was freed and filled again is never mistaken for the
// connection it held before, and nothing is handed over for a connection after its OnDisconnected.

#include "comm/SocketHelpers.h"
#include "comm/WorkerTransport.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdint>

namespace {

constexpr int ClientSlots = 3;
constexpr int PollMs = 500;

class TcpServerTransport final : public WorkerTransport {
public:
    explicit TcpServerTransport(UniqueFd listener)
        : FListener(std::move(listener))
    {
    }

    void Run(WorkerCore& core) override;
    int Send(WorkerCore& core, const char* address, const void* data, int length) override;
    void Close() override
    {
        std::lock_guard lock(FMutex);
        FListener.reset();
        for (Slot& slot : FSlots)
            slot.Free();
    }
    int LocalPort() const override
    {
        std::lock_guard lock(FMutex);
        return BoundPortOf(FListener.get());
    }

private:
    struct Slot {
        UniqueFd socket; // -1: the slot is free
        std::string peer;
        uint64_t connection = 0;
        bool gone = false; // a send failed: OnDisconnected given, waiting for the worker to free it

        void Free()
        {
            socket.reset();
            peer.clear();
            connection = 0;
            gone = false;
        }
    };

    void FreeGoneSlots();
    void Accept(WorkerCore& core);
    void Receive(WorkerCore& core, int index, uint64_t connection);
    bool IsLive(int index, uint64_t connection) const
    {
        std::lock_guard lock(FMutex);
        return FSlots[index].connection == connection && FSlots[index].socket && !FSlots[index].gone;
    }

    mutable std::mutex FMutex; // the slots; the worker reads its own sockets without it
    UniqueFd FListener;
    Slot FSlots[ClientSlots];
    uint64_t FConnections = 0;
};

void TcpServerTransport::Run(WorkerCore& core)
{
    while (!core.Stopped()) {
        pollfd fds[2 + ClientSlots] = { { FListener.get(), POLLIN, 0 }, { core.WakeFd(), POLLIN, 0 } };
        int slotOf[2 + ClientSlots] = {};
        uint64_t connectionOf[2 + ClientSlots] = {};
        nfds_t count = 2;
        {
            std::lock_guard lock(FMutex);
            for (int i = 0; i < ClientSlots; ++i) {
                if (!FSlots[i].socket)
                    continue;
                fds[count] = { FSlots[i].socket.get(), POLLIN, 0 };
                slotOf[count] = i;
                connectionOf[count] = FSlots[i].connection;
                ++count;
            }
        }
        const int ready = poll(fds, count, PollMs);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0)
            return;
        if (ready == 0 || fds[1].revents != 0)
            continue;
        // A slot whose send failed is free before the next client is placed.
        FreeGoneSlots();
        if (fds[0].revents != 0)
            Accept(core);
        for (nfds_t k = 2; k < count; ++k) {
            if (fds[k].revents != 0)
                Receive(core, slotOf[k], connectionOf[k]);
        }
    }
}

void TcpServerTransport::FreeGoneSlots()
{
    std::lock_guard lock(FMutex);
    for (Slot& slot : FSlots) {
        if (slot.gone)
            slot.Free();
    }
}

// A client beyond the three slots is accepted and closed at once.
void TcpServerTransport::Accept(WorkerCore& core)
{
    int free = -1;
    {
        std::lock_guard lock(FMutex);
        for (int i = 0; i < ClientSlots && free == -1; ++i) {
            if (!FSlots[i].socket)
                free = i;
        }
    }
    std::string peer;
    std::string status;
    UniqueFd accepted(AcceptPeer(FListener.get(), peer, status));
    if (!accepted || free == -1)
        return;
    {
        std::lock_guard lock(FMutex);
        Slot& slot = FSlots[free];
        slot.socket = std::move(accepted);
        slot.peer = peer;
        slot.connection = ++FConnections;
        slot.gone = false;
    }
    core.NotifyConnected(peer);
}

void TcpServerTransport::Receive(WorkerCore& core, int index, uint64_t connection)
{
    int socket = -1;
    std::string peer;
    {
        std::lock_guard lock(FMutex);
        const Slot& slot = FSlots[index];
        if (slot.connection != connection || !slot.socket || slot.gone)
            return;
        socket = slot.socket.get();
        peer = slot.peer;
    }
    char buffer[MaxChunk + 1];
    const ssize_t got = recv(socket, buffer, MaxChunk, MSG_DONTWAIT);
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
        return;
    if (got > 0) {
        buffer[got] = '\0';
        core.Deliver([&] {
            if (IsLive(index, connection) && core.Owner().OnReceive)
                core.Owner().OnReceive(peer, buffer, static_cast<int>(got));
        });
        return;
    }
    bool notify = false;
    {
        std::lock_guard lock(FMutex);
        Slot& slot = FSlots[index];
        if (slot.connection == connection) {
            notify = !slot.gone;
            slot.Free();
        }
    }
    if (notify)
        core.NotifyPeerLost(peer);
}

// Never waits: a client that stops reading until its buffers are full is dropped like a client
// that has gone, rather than holding the sending thread. Part of the data alone would leave the
// client a broken stream, so a send that cannot hand over all of it drops the client too.
int TcpServerTransport::Send(WorkerCore& core, const char* address, const void* data, int length)
{
    if (address == nullptr)
        return -1;
    std::string peer;
    ssize_t sent = -1;
    {
        std::lock_guard lock(FMutex);
        if (core.Stopped())
            return -1;
        Slot* target = nullptr;
        for (Slot& slot : FSlots) {
            if (slot.socket && !slot.gone && slot.peer == address) {
                target = &slot;
                break;
            }
        }
        if (target == nullptr)
            return -1;
        // Nothing to send is no failure of the client.
        if (length == 0)
            return 0;
        const char* bytes = static_cast<const char*>(data);
        int done = 0;
        while (done < length) {
            sent = send(target->socket.get(), bytes + done, static_cast<size_t>(length - done),
                MSG_NOSIGNAL | MSG_DONTWAIT);
            if (sent > 0)
                done += static_cast<int>(sent);
            else if (sent == 0 || errno != EINTR)
                break;
        }
        if (done == length)
            return length;
        target->gone = true;
        shutdown(target->socket.get(), SHUT_RDWR);
        peer = target->peer;
    }
    core.NotifyPeerLost(peer);
    return static_cast<int>(sent);
}

} // namespace

std::unique_ptr<WorkerTransport> OpenTcpServerTransport(const TChannelAddress& address, std::string& error)
{
    std::string status;
    UniqueFd listener(OpenListenSocket(address.first, address.port, status));
    if (!listener) {
        error = status;
        return nullptr;
    }
    // The worker accepts only after poll saw a client, but that client may be gone by then.
    const int flags = fcntl(listener.get(), F_GETFL);
    if (flags == -1 || fcntl(listener.get(), F_SETFL, flags | O_NONBLOCK) == -1) {
        error = "fcntl(O_NONBLOCK) failed: " + WsaErrorText();
        return nullptr;
    }
    return std::make_unique<TcpServerTransport>(std::move(listener));
}
