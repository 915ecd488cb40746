// The TcpServer transport on loopback: three client slots, a fourth client refused, slots freed by
// clients closing and by failed sends, and sends racing with accepts and closes.

#include "comm/Recvthread.h"
#include "platform/UniqueFd.h"
#include "support/TestSockets.h"
#include "support/WorkerRecorder.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>

#include <atomic>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

namespace {

struct Client {
    UniqueFd socket;
    std::string peer; // as the server sees it
};

Client Connect(int port, int ms = 1000)
{
    std::string status;
    std::string server;
    Client client { UniqueFd(ConnectWithTimeout("127.0.0.1", port, status, server, ms)), {} };
    if (client.socket)
        client.peer = "127.0.0.1:" + std::to_string(LocalPortOf(client.socket.get()));
    return client;
}

// True when the other side closed the connection within the limit.
bool ClosedByServer(int socket)
{
    pollfd readable { socket, POLLIN, 0 };
    if (poll(&readable, 1, 2500) != 1)
        return false;
    char byte;
    return recv(socket, &byte, 1, 0) <= 0;
}

class TcpServerWorker : public ::testing::Test {
protected:
    void SetUp() override
    {
        worker = TRecvThread::Create();
        recorder.Bind(*worker);
        worker->SetDelivery(owner.Delivery());
        std::string error;
        ASSERT_TRUE(worker->Open("tcpserver::0", error)) << error;
        EXPECT_EQ(worker->Transport(), TRecvThread::TcpServer);
        port = worker->LocalPort();
        ASSERT_NE(port, 0);
        worker->Start();
    }
    void TearDown() override { EXPECT_TRUE(StopAndRelease(owner, worker)); }

    // Connects a client and waits until the server has told its owner.
    Client Served()
    {
        const size_t connected = recorder.CountOf('C');
        Client client = Connect(port);
        EXPECT_TRUE(client.socket);
        EXPECT_TRUE(recorder.WaitFor(connected + 1, 'C'));
        return client;
    }
    // Sends a line from the owner's thread; what Send returned.
    int SendLine(const std::string& peer, const std::string& line)
    {
        int result = 0;
        owner.RunAndWait([&] { result = worker->SendString(peer.c_str(), line + "\n"); });
        return result;
    }
    // The line a client reads; "<nothing>" when none came.
    static std::string LineOf(const Client& client)
    {
        std::string line;
        return ReadUntil(client.socket.get(), line, 2000, '\n') ? line : "<nothing>";
    }
    // Both ways for each client: it is served, and by its own slot.
    void ExpectServed(const std::vector<const Client*>& clients)
    {
        for (const Client* client : clients) {
            const std::string hello = "from " + client->peer;
            ASSERT_TRUE(SocketSendString(client->socket.get(), hello));
            const auto limit = std::chrono::steady_clock::now() + WorkerHangLimit;
            while (recorder.ReceivedFrom(client->peer).find(hello) == std::string::npos
                && std::chrono::steady_clock::now() < limit)
                std::this_thread::sleep_for(1ms);
            EXPECT_NE(recorder.ReceivedFrom(client->peer).find(hello), std::string::npos) << client->peer;
            EXPECT_EQ(
                SendLine(client->peer, "to " + client->peer), static_cast<int>(client->peer.size()) + 4);
            EXPECT_EQ(LineOf(*client), "to " + client->peer);
        }
    }

    OwnerLoop owner;
    Recorder recorder;
    std::shared_ptr<TRecvThread> worker;
    int port = 0;
};

TEST_F(TcpServerWorker, ServesThreeClientsAndDisconnectsAFourthAtOnce)
{
    Client first = Served();
    Client second = Served();
    Client third = Served();
    Client fourth = Connect(port);
    ASSERT_TRUE(fourth.socket);
    EXPECT_TRUE(ClosedByServer(fourth.socket.get()));
    ExpectServed({ &first, &second, &third });

    const auto events = recorder.Events();
    ASSERT_GE(events.size(), 3u);
    EXPECT_EQ(events[0].peer, first.peer);
    EXPECT_EQ(events[1].peer, second.peer);
    EXPECT_EQ(events[2].peer, third.peer);
    EXPECT_EQ(recorder.CountOf('C'), 3u);
    EXPECT_EQ(recorder.CountOf('D'), 0u);
    for (const WorkerEvent& e : events) {
        EXPECT_EQ(e.thread, owner.Id());
        EXPECT_NE(e.peer, fourth.peer);
    }
    EXPECT_EQ(SendLine(fourth.peer, "nobody"), -1);
    EXPECT_EQ(SendLine("", "nobody"), -1);
    EXPECT_EQ(worker->SendText(nullptr, "nobody"), -1);
    EXPECT_EQ(worker->Send(first.peer.c_str(), "", 0), 0) << "nothing to send is no failure";
    EXPECT_EQ(recorder.CountOf('D'), 0u);
}

TEST_F(TcpServerWorker, ClosingClientFreesItsSlotForTheNext)
{
    Client first = Served();
    Client second = Served();
    Client third = Served();
    const std::string gone = second.peer;
    second.socket.reset();
    ASSERT_TRUE(recorder.WaitFor(1, 'D'));
    EXPECT_EQ(recorder.Events().back().peer, gone);
    EXPECT_EQ(SendLine(gone, "gone"), -1);

    Client next = Served();
    EXPECT_EQ(recorder.Events().back().peer, next.peer);
    ExpectServed({ &first, &next, &third });
    // The three slots are full again.
    Client refused = Connect(port);
    EXPECT_TRUE(ClosedByServer(refused.socket.get()));
    EXPECT_EQ(recorder.CountOf('D'), 1u);
}

TEST_F(TcpServerWorker, FailedSendDisconnectsThatClientOnceAndFreesItsSlot)
{
    Client reader = Served();
    Client stalled = Served(); // never reads, so its buffers fill up
    Client third = Served();
    const std::string block(64 * 1024, 'b');
    int result = 1;
    for (int i = 0; i < 10000 && result > 0; ++i)
        result = SendLine(stalled.peer, block);
    EXPECT_EQ(result, -1);
    ASSERT_EQ(recorder.CountOf('D'), 1u) << "given on the sending thread before Send returned";
    const WorkerEvent lost = recorder.Events().back();
    EXPECT_EQ(lost.kind, 'D');
    EXPECT_EQ(lost.peer, stalled.peer);
    EXPECT_EQ(lost.thread, owner.Id());
    EXPECT_EQ(SendLine(stalled.peer, "again"), -1);

    Client next = Served();
    ExpectServed({ &reader, &next, &third });
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(recorder.CountOf('D'), 1u) << "the worker freeing the slot tells nobody again";
}

// What a client reads until the server closes or limit bytes came.
std::string ReadToEnd(int socket, size_t limit)
{
    std::string got;
    char buffer[65536];
    pollfd readable { socket, POLLIN, 0 };
    while (got.size() < limit && poll(&readable, 1, 2500) == 1) {
        const ssize_t n = recv(socket, buffer, sizeof buffer, 0);
        if (n <= 0)
            break;
        got.append(buffer, static_cast<size_t>(n));
    }
    return got;
}

// The client reads only once Send has returned. Data it cannot take now in full is not sent in
// part: either all of it arrives, or the client is dropped and gets no more than a prefix.
TEST_F(TcpServerWorker, SendToASlowReaderIsWholeOrDropsTheClient)
{
    const struct {
        size_t size;
        bool whole; // more than the connection can hold drops the client
    } cases[] = { { 1, true }, { 4000, true }, { 16 * 1024 * 1024, false } };
    for (const auto& c : cases) {
        Client client = Served();
        std::string block(c.size, '\0');
        for (size_t i = 0; i < block.size(); ++i)
            block[i] = static_cast<char>(i * 31 % 251);
        const size_t lost = recorder.CountOf('D');
        int result = 0;
        owner.RunAndWait(
            [&] { result = worker->Send(client.peer.c_str(), block.data(), static_cast<int>(c.size)); });
        const std::string got = ReadToEnd(client.socket.get(), c.size);
        if (c.whole) {
            EXPECT_EQ(result, static_cast<int>(c.size));
            EXPECT_EQ(recorder.CountOf('D'), lost) << c.size;
            EXPECT_TRUE(got == block) << c.size << " bytes sent, " << got.size() << " read";
            client.socket.reset();
            ASSERT_TRUE(recorder.WaitFor(lost + 1, 'D'));
        } else {
            EXPECT_EQ(result, -1) << c.size;
            ASSERT_EQ(recorder.CountOf('D'), lost + 1) << c.size;
            EXPECT_EQ(recorder.Events().back().peer, client.peer);
            EXPECT_LT(got.size(), c.size);
            EXPECT_TRUE(block.compare(0, got.size(), got) == 0) << "what came is the start of the data";
        }
    }
}

// The worker has read a client's bytes and waits to hand them over while the owner's send to that
// client fails: the owner has heard OnDisconnected, so the bytes are not handed over after it.
TEST(TcpServerWorkerOrder, NothingIsHandedOverForAClientAfterItsDisconnect)
{
    OwnerLoop owner;
    Recorder recorder;
    auto worker = TRecvThread::Create();
    recorder.Bind(*worker);
    std::atomic<int> deliveriesAsked { 0 };
    worker->SetDelivery([&](const std::function<void()>& call) {
        ++deliveriesAsked;
        owner.RunAndWait(call);
    });
    ASSERT_TRUE(worker->Open("server:127.0.0.1:0"));
    const int port = worker->LocalPort();
    worker->Start();
    Client client = Connect(port);
    ASSERT_TRUE(client.socket);
    ASSERT_TRUE(recorder.WaitFor(1, 'C'));

    owner.RunAndWait([&] {
        const int asked = deliveriesAsked;
        ASSERT_TRUE(SocketSendString(client.socket.get(), "data"));
        const auto limit = std::chrono::steady_clock::now() + WorkerHangLimit;
        while (deliveriesAsked == asked && std::chrono::steady_clock::now() < limit)
            std::this_thread::sleep_for(1ms);
        ASSERT_GT(deliveriesAsked, asked) << "the worker read the bytes and waits for this thread";
        const linger reset { 1, 0 };
        setsockopt(client.socket.get(), SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
        client.socket.reset();
        std::this_thread::sleep_for(20ms);
        EXPECT_EQ(worker->SendString(client.peer.c_str(), "x"), -1);
    });
    EXPECT_TRUE(StopAndRelease(owner, worker));
    const auto events = recorder.Events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].kind, 'C');
    EXPECT_EQ(events[1].kind, 'D');
    EXPECT_EQ(events[1].peer, client.peer);
}

TEST_F(TcpServerWorker, StopClosesEveryClientAndNotifiesNothingMore)
{
    Client first = Served();
    Client second = Served();
    const size_t events = recorder.Events().size();
    EXPECT_TRUE(StopAndRelease(owner, worker));
    EXPECT_TRUE(ClosedByServer(first.socket.get()));
    EXPECT_TRUE(ClosedByServer(second.socket.get()));
    EXPECT_EQ(recorder.Events().size(), events);
    UniqueFd late(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const sockaddr_in target = LoopbackAddress(port);
    EXPECT_NE(connect(late.get(), reinterpret_cast<const sockaddr*>(&target), sizeof target), 0)
        << "nobody listens any more";
}

// Clients connect, talk and go (some by reset) as fast as they can while another thread sends to
// every client it has heard of. Per client the owner hears Connected, then receives, then one
// Disconnected, never anything after it.
TEST_F(TcpServerWorker, FloodOfConnectsAndDisconnectsWithConcurrentSends)
{
    std::mutex peersMutex;
    std::vector<std::string> peers;
    const auto record = worker->OnConnected;
    // Handlers are set before Start, so the flood gets a fresh worker with the peer list.
    std::shared_ptr<TRecvThread> flooded = TRecvThread::Create();
    recorder.Bind(*flooded);
    flooded->OnConnected = [&, record](const std::string& peer) {
        record(peer);
        std::lock_guard lock(peersMutex);
        peers.push_back(peer);
    };
    flooded->SetDelivery(owner.Delivery());
    ASSERT_TRUE(flooded->Open("server:127.0.0.1:0"));
    const int floodPort = flooded->LocalPort();
    flooded->Start();
    const int fdsBefore = OpenFdCount();

    std::atomic<bool> running { true };
    std::thread sender([&] {
        while (running) {
            std::vector<std::string> known;
            {
                // The latest clients: the ones that may still be connected.
                std::lock_guard lock(peersMutex);
                known.assign(peers.size() > 8 ? peers.end() - 8 : peers.begin(), peers.end());
            }
            for (const std::string& peer : known)
                flooded->SendString(peer.c_str(), "ping\n");
            std::this_thread::sleep_for(100us);
        }
    });
    std::vector<std::thread> clients;
    for (int t = 0; t < 4; ++t) {
        clients.emplace_back([&, t] {
            for (int i = 0; i < 100; ++i) {
                // Clients come faster than a backlog of 5 is accepted; a connect that finds it
                // full gets no answer and is given up soon.
                Client client = Connect(floodPort, 100);
                if (!client.socket)
                    continue;
                SocketSendString(client.socket.get(), "hello");
                if ((i + t) % 3 == 0) {
                    const linger reset { 1, 0 };
                    setsockopt(client.socket.get(), SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
                }
            }
        });
    }
    for (std::thread& client : clients)
        client.join();
    // A connect given up by its client may still sit in the backlog and be accepted later: wait
    // until every client is gone and no notification came for a while.
    const auto limit = std::chrono::steady_clock::now() + WorkerHangLimit;
    auto quietSince = std::chrono::steady_clock::now();
    for (size_t seen = recorder.Events().size(); std::chrono::steady_clock::now() < limit;) {
        std::this_thread::sleep_for(5ms);
        const size_t now = recorder.Events().size();
        if (now != seen) {
            seen = now;
            quietSince = std::chrono::steady_clock::now();
        } else if (recorder.CountOf('D') == recorder.CountOf('C')
            && std::chrono::steady_clock::now() - quietSince > 300ms) {
            break;
        }
    }
    running = false;
    sender.join();
    std::printf("%zu clients served\n", recorder.CountOf('C'));
    EXPECT_GT(recorder.CountOf('C'), 3u);
    EXPECT_EQ(recorder.CountOf('D'), recorder.CountOf('C'));

    std::map<std::string, char> last; // per peer: the last event's kind
    for (const WorkerEvent& e : recorder.Events()) {
        const char before = last.count(e.peer) != 0 ? last[e.peer] : 'D';
        if (e.kind == 'C')
            EXPECT_EQ(before, 'D') << e.peer;
        else
            EXPECT_NE(before, 'D') << e.kind << " after the disconnect of " << e.peer;
        last[e.peer] = e.kind;
        EXPECT_EQ(e.thread, owner.Id());
    }
    EXPECT_TRUE(StopAndRelease(owner, flooded));
    EXPECT_LE(OpenFdCount(), fdsBefore);
}

// Each client resets its connection while another thread keeps sending to it, so a send fails
// just as the worker finds the connection gone: each connection still ends with one OnDisconnected.
TEST_F(TcpServerWorker, SendFailingWhileTheClientClosesDisconnectsOnce)
{
    std::map<std::string, int> connections;
    std::minstd_rand random(7);
    for (int round = 0; round < 3000; ++round) {
        Client client = Served();
        ++connections[client.peer];
        // The sends begin at varying moments after the reset, so that some fail while the worker
        // is reading the closed connection. They go on after a failed send, as an owner that has
        // not yet heard of the disconnect would.
        std::atomic<bool> reset { false };
        std::atomic<bool> sending { true };
        std::vector<std::thread> senders;
        for (int s = 0; s < 4; ++s) {
            senders.emplace_back([&, delay = random() % 5000] {
                while (!reset)
                    std::this_thread::yield();
                for (unsigned spin = 0; spin < delay; ++spin)
                    std::atomic_signal_fence(std::memory_order_seq_cst);
                while (sending)
                    worker->SendText(client.peer.c_str(), "x");
            });
        }
        const linger abort { 1, 0 };
        setsockopt(client.socket.get(), SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
        client.socket.reset();
        reset = true;
        const bool told = recorder.WaitFor(static_cast<size_t>(round + 1), 'D');
        sending = false;
        for (std::thread& sender : senders)
            sender.join();
        ASSERT_TRUE(told) << client.peer;
    }
    EXPECT_TRUE(StopAndRelease(owner, worker));
    std::map<std::string, int> disconnects;
    for (const WorkerEvent& e : recorder.Events()) {
        if (e.kind == 'D')
            ++disconnects[e.peer];
    }
    EXPECT_EQ(disconnects.size(), connections.size());
    for (const auto& [peer, count] : connections)
        EXPECT_EQ(disconnects[peer], count) << peer;
}

TEST(TcpServerWorkerLife, ThousandOpenStopCyclesLeaveNoFd)
{
    EXPECT_EQ(FdsLeftAfterOpenStopCycles("server:127.0.0.1:0", 1000, false), 0);
}

} // namespace
