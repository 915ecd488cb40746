#include "comm/ChannelAddress.h"
#include "comm/Recvthread.h"
#include "platform/UniqueFd.h"
#include "support/PrivateLoopback.h"
#include "support/TestSockets.h"
#include "support/WorkerRecorder.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <linux/if_tun.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

namespace {

// A plain UDP socket on 127.0.0.1 with an ephemeral port.
struct UdpPeer {
    UniqueFd socket { ::socket(AF_INET, SOCK_DGRAM, 0) };
    UdpPeer()
    {
        const sockaddr_in any = LoopbackAddress(0);
        bind(socket.get(), reinterpret_cast<const sockaddr*>(&any), sizeof any);
        timeval limit { 5, 0 };
        setsockopt(socket.get(), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    }
    int Port() const { return LocalPortOf(socket.get()); }
    std::string PeerText() const { return "127.0.0.1:" + std::to_string(Port()); }
    void SendTo(int port, const std::string& bytes) const
    {
        SendDatagram(socket.get(), bytes, "127.0.0.1", port);
    }
    // To everyone at port on the loopback interface only (used inside a private namespace alone);
    // what sendto returned.
    long BroadcastOnLoopback(int port, const std::string& bytes) const
    {
        const int on = 1;
        setsockopt(socket.get(), SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
        setsockopt(socket.get(), SOL_SOCKET, SO_BINDTODEVICE, "lo", 2);
        return SendDatagram(socket.get(), bytes, "255.255.255.255", port);
    }
    std::string Receive(std::string* from = nullptr) const
    {
        char buffer[2048];
        sockaddr_in sender {};
        socklen_t size = sizeof sender;
        const ssize_t got
            = recvfrom(socket.get(), buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&sender), &size);
        if (from != nullptr)
            *from = got < 0 ? "" : ::PeerText(sender);
        return got < 0 ? "<nothing>" : std::string(buffer, static_cast<size_t>(got));
    }
};

// A port on 127.0.0.1 that was free a moment ago.
int FreeUdpPort()
{
    UdpPeer probe;
    return probe.Port();
}

TEST(StrToIntStrict, AcceptsOnlyAWholeDecimalNumber)
{
    int value = -7;
    EXPECT_TRUE(StrToIntStrict("8001", value));
    EXPECT_EQ(value, 8001);
    EXPECT_TRUE(StrToIntStrict("-12", value));
    EXPECT_EQ(value, -12);
    EXPECT_TRUE(StrToIntStrict("+12", value));
    EXPECT_EQ(value, 12);
    for (const char* bad : { "", " 8001", "8001 ", "80x1", "+", "-", "+-1", "99999999999", "0x10" }) {
        value = -7;
        EXPECT_FALSE(StrToIntStrict(bad, value)) << bad;
        EXPECT_EQ(value, -7) << bad;
    }
}

TEST(ChannelAddress, NetworkFormsAreRecognisedByBothKeywords)
{
    auto worker = TRecvThread::Create();
    EXPECT_TRUE(worker->Open("tcp:example.invalid:2500"));
    EXPECT_EQ(worker->Transport(), TRecvThread::TcpClient);

    worker = TRecvThread::Create();
    EXPECT_TRUE(worker->Open("tcpclient:127.0.0.1:1"));
    EXPECT_EQ(worker->Transport(), TRecvThread::TcpClient);

    worker = TRecvThread::Create();
    std::string error;
    ASSERT_TRUE(worker->Open("udpclient:127.0.0.1:0", error)) << error;
    EXPECT_EQ(worker->Transport(), TRecvThread::Udp);
    EXPECT_NE(worker->LocalPort(), 0);

    // An empty local address binds all interfaces.
    worker = TRecvThread::Create();
    const int port = FreeUdpPort();
    ASSERT_TRUE(worker->Open("udp::" + std::to_string(port), error)) << error;
    EXPECT_EQ(worker->UdpPort(), port);
    EXPECT_EQ(worker->LocalPort(), port);
    EXPECT_FALSE(worker->Open("udp::0")) << "a worker opens one channel only";
}

TEST(ChannelAddress, PortThatIsNotAWholeNumberOpensNothing)
{
    const int before = OpenFdCount();
    for (const std::string port : { "", "80x1", " 8001", "8001 " }) {
        auto worker = TRecvThread::Create();
        std::string error;
        EXPECT_FALSE(worker->Open("udp:127.0.0.1" + (port.empty() ? "" : ":" + port), error)) << port;
        EXPECT_EQ(error, "'" + port + "' is not a valid integer value");
        EXPECT_EQ(worker->LocalPort(), 0);
        error.clear();
        worker = TRecvThread::Create();
        EXPECT_FALSE(worker->Open("tcp:127.0.0.1:" + port, error));
        EXPECT_FALSE(error.empty());
    }
    EXPECT_EQ(OpenFdCount(), before);
}

// Each failed open names its reason, opens nothing, and leaves a worker that is safe to start and
// stop, runs nothing, notifies nothing, and goes with its owner.
TEST(ChannelAddress, UnknownKeywordsAndFailedOpensOpenNothingAndSayWhy)
{
    std::string status;
    const UniqueFd busy(OpenListenSocket("127.0.0.1", 0, status));
    ASSERT_TRUE(busy) << status;
    const std::string busyPort = std::to_string(LocalPortOf(busy.get()));
    char notATerminal[] = "/tmp/tovrin-not-a-tty-XXXXXX";
    const UniqueFd plainFile(mkstemp(notATerminal));
    ASSERT_TRUE(plainFile);
    struct Case {
        std::string address;
        TRecvThread::TTransport transport;
        std::string error;
    };
    const Case cases[] = {
        { "ftp:1.2.3.4:21", TRecvThread::SerialPort, "\"ftp\" is not a known channel type." },
        { "UDP:127.0.0.1:0", TRecvThread::SerialPort, "\"UDP\" is not a known channel type." },
        { "", TRecvThread::SerialPort, "\"\" is not a known channel type." },
        { "server:300.1.1.1:0", TRecvThread::TcpServer, "\"300.1.1.1\" is not an internet address." },
        { "tcpserver:127.0.0.1:" + busyPort, TRecvThread::TcpServer, "bind() failed.\n" },
        { "server:127.0.0.1:x", TRecvThread::TcpServer, "'x' is not a valid integer value" },
        { "com:/dev/tovrin-no-such-port:9600,n,8,1", TRecvThread::SerialPort,
            "Cannot open serial port \"/dev/tovrin-no-such-port\": No such file or directory" },
        { "serial:tovrin-no-such-port", TRecvThread::SerialPort,
            "Cannot open serial port \"/dev/tovrin-no-such-port\": No such file or directory" },
        { std::string("com:") + notATerminal, TRecvThread::SerialPort,
            "\"" + std::string(notATerminal) + "\" is not a serial port: Inappropriate ioctl for device" },
        { "com::9600", TRecvThread::SerialPort, "No serial port is named." },
    };
    const int before = OpenFdCount();
    for (const Case& c : cases) {
        auto worker = TRecvThread::Create();
        Recorder recorder;
        recorder.Bind(*worker);
        std::string error;
        EXPECT_FALSE(worker->Open(c.address, error)) << c.address;
        EXPECT_EQ(error, c.error) << c.address;
        EXPECT_EQ(worker->Transport(), c.transport) << c.address;
        EXPECT_EQ(OpenFdCount(), before) << c.address;

        worker->Start();
        EXPECT_TRUE(worker->Stop());
        EXPECT_EQ(worker->SendText("127.0.0.1:1", "x"), -1);
        std::weak_ptr<TRecvThread> watch = worker;
        worker.reset();
        EXPECT_TRUE(watch.expired()) << c.address;
        EXPECT_TRUE(recorder.Events().empty()) << c.address;
    }
    unlink(notATerminal);
}

// A Udp worker on loopback whose handlers a recorder binds, with an owner's thread and a sender.
class LoopbackUdpWorker : public ::testing::Test {
protected:
    void CreateWorker()
    {
        worker = TRecvThread::Create();
        recorder.Bind(*worker);
    }
    void OpenWorker(bool start = true)
    {
        std::string error;
        ASSERT_TRUE(worker->Open("udp:127.0.0.1:0", error)) << error;
        port = worker->LocalPort();
        if (start)
            worker->Start();
    }

    OwnerLoop owner;
    Recorder recorder;
    std::shared_ptr<TRecvThread> worker;
    int port = 0;
    UdpPeer sender;
};

class UdpWorker : public LoopbackUdpWorker {
protected:
    void SetUp() override
    {
        CreateWorker();
        worker->SetDelivery([this](const std::function<void()>& call) {
            ++deliveries;
            owner.RunAndWait(call);
        });
        OpenWorker();
    }
    void TearDown() override { EXPECT_TRUE(StopAndRelease(owner, worker)); }

    std::atomic<int> deliveries { 0 };
};

TEST_F(UdpWorker, DeliversADatagramWithItsSenderAndATerminatingNul)
{
    sender.SendTo(port, "0123456789");
    ASSERT_TRUE(recorder.WaitFor(1, 'R'));
    const WorkerEvent e = recorder.Events().at(0);
    EXPECT_EQ(e.data, "0123456789");
    EXPECT_TRUE(e.terminated);
    EXPECT_EQ(e.peer, sender.PeerText());
    EXPECT_EQ(e.thread, owner.Id());
}

TEST_F(UdpWorker, ZeroLengthDatagramIsIgnoredAndReceivingGoesOn)
{
    sender.SendTo(port, "");
    sender.SendTo(port, "after");
    ASSERT_TRUE(recorder.WaitFor(1, 'R'));
    const auto events = recorder.Events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].data, "after");
}

TEST_F(UdpWorker, LongDatagramsAreCutTo1023BytesAndTheWorkerLivesOn)
{
    std::string big(1500, 'x');
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>('a' + i % 26);
    sender.SendTo(port, big);
    // Also one beyond the receive area, which a plain receive would report as an error.
    const std::string huge(5000, 'h');
    sender.SendTo(port, huge);
    sender.SendTo(port, "next");
    ASSERT_TRUE(recorder.WaitFor(3, 'R'));
    const auto events = recorder.Events();
    EXPECT_EQ(events[0].data, big.substr(0, 1023));
    EXPECT_TRUE(events[0].terminated);
    EXPECT_EQ(events[1].data, huge.substr(0, 1023));
    EXPECT_TRUE(events[1].terminated);
    EXPECT_EQ(events[2].data, "next");
    EXPECT_EQ(recorder.CountOf('D'), 0u);
}

TEST_F(UdpWorker, BurstIsDeliveredCompletelyAndInOrderOnTheOwnersThread)
{
    constexpr int burst = 3000;
    for (int i = 0; i < burst; ++i)
        sender.SendTo(port, "reply " + std::to_string(i));
    ASSERT_TRUE(recorder.WaitFor(burst, 'R')) << recorder.CountOf('R');
    const auto events = recorder.Events();
    for (int i = 0; i < burst; ++i) {
        ASSERT_EQ(events[i].data, "reply " + std::to_string(i));
        ASSERT_TRUE(events[i].terminated);
        ASSERT_EQ(events[i].peer, sender.PeerText());
        ASSERT_EQ(events[i].thread, owner.Id());
    }
    std::printf("%d datagrams came in %d deliveries\n", burst, deliveries.load());
}

TEST_F(UdpWorker, StopWhileBlockedEndsItAtOnceWithOneDisconnectFromTheLastSender)
{
    sender.SendTo(port, "last");
    ASSERT_TRUE(recorder.WaitFor(1, 'R'));
    std::weak_ptr<TRecvThread> watch = worker;
    size_t disconnectsWhenStopReturned = 0;
    owner.RunAndWait([&] {
        EXPECT_TRUE(worker->Stop());
        disconnectsWhenStopReturned = recorder.CountOf('D');
        EXPECT_TRUE(worker->Stop()) << "a second Stop is harmless";
    });
    worker.reset();
    EXPECT_TRUE(WaitReleased(watch));
    EXPECT_EQ(disconnectsWhenStopReturned, 1u);
    const auto events = recorder.Events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[1].kind, 'D');
    EXPECT_EQ(events[1].peer, sender.PeerText());
    EXPECT_EQ(events[1].thread, owner.Id());
}

TEST_F(UdpWorker, NoHandlerRunsAfterStopEvenWithDeliveriesUnderWay)
{
    // Stop runs on the owner's thread between deliveries of a flood; afterwards nothing may arrive.
    std::atomic<bool> flooding { true };
    std::thread flood([&] {
        for (int i = 0; flooding; ++i)
            sender.SendTo(port, std::to_string(i));
    });
    ASSERT_TRUE(recorder.WaitFor(50, 'R'));
    size_t eventsAtStop = 0;
    owner.RunAndWait([&] {
        worker->Stop();
        eventsAtStop = recorder.Events().size();
    });
    std::weak_ptr<TRecvThread> watch = worker;
    worker.reset();
    EXPECT_TRUE(WaitReleased(watch));
    flooding = false;
    flood.join();
    EXPECT_EQ(recorder.Events().size(), eventsAtStop);
    EXPECT_EQ(recorder.CountOf('D'), 1u);
}

TEST(UdpWorkerLife, HandlerThatStopsInTheMiddleOfABurstGetsNoMoreOfIt)
{
    OwnerLoop owner;
    Recorder recorder;
    auto worker = TRecvThread::Create();
    recorder.Bind(*worker);
    int deliveries = 0;
    worker->SetDelivery([&](const std::function<void()>& call) {
        ++deliveries;
        owner.RunAndWait(call);
    });
    const auto record = worker->OnReceive;
    int calls = 0;
    worker->OnReceive = [&](const std::string& peer, const char* data, int length) {
        record(peer, data, length);
        if (++calls == 3)
            worker->Stop();
    };
    ASSERT_TRUE(worker->Open("udp:127.0.0.1:0"));
    // Queued before the worker starts, so that its first wait hands all ten over in one delivery.
    UdpPeer sender;
    for (int i = 0; i < 10; ++i)
        sender.SendTo(worker->LocalPort(), "datagram " + std::to_string(i));
    std::this_thread::sleep_for(50ms);
    worker->Start();
    ASSERT_TRUE(recorder.WaitFor(1, 'D'));
    EXPECT_TRUE(StopAndRelease(owner, worker));
    EXPECT_EQ(deliveries, 1);
    const auto events = recorder.Events();
    ASSERT_EQ(events.size(), 4u);
    EXPECT_EQ(events[2].data, "datagram 2");
    EXPECT_EQ(events[3].kind, 'D');
}

// A worker that hands datagrams over through a posted queue, as the main window's does.
class QueuedUdpWorker : public LoopbackUdpWorker {
protected:
    void StartWorker(size_t handOverLimit = 0, bool start = true)
    {
        CreateWorker();
        worker->SetDelivery(owner.Delivery());
        worker->SetPosting([this](std::function<void()> call) {
            ++posts;
            owner.Post(std::move(call));
        });
        if (handOverLimit != 0)
            worker->SetHandOverLimit(handOverLimit);
        OpenWorker(start);
    }
    void TearDown() override
    {
        OpenGate();
        EXPECT_TRUE(StopAndRelease(owner, worker));
    }
    // Keeps the owner's thread busy until OpenGate, as a window thread busy elsewhere.
    void BlockOwner()
    {
        owner.Post([this] {
            std::unique_lock lock(gateMutex);
            gate.wait(lock, [this] { return gateOpen; });
        });
    }
    void OpenGate()
    {
        {
            std::lock_guard lock(gateMutex);
            gateOpen = true;
        }
        gate.notify_all();
    }
    void SendNumbered(int count)
    {
        for (int i = 0; i < count; ++i)
            sender.SendTo(port, "reply " + std::to_string(i));
    }
    // Every numbered datagram once, in order, from the sender, on the owner's thread.
    void ExpectNumberedInOrder(int count)
    {
        ASSERT_TRUE(recorder.WaitFor(static_cast<size_t>(count), 'R')) << recorder.CountOf('R');
        const auto events = recorder.Events();
        ASSERT_EQ(events.size(), static_cast<size_t>(count));
        for (int i = 0; i < count; ++i) {
            ASSERT_EQ(events[i].data, "reply " + std::to_string(i));
            ASSERT_TRUE(events[i].terminated);
            ASSERT_EQ(events[i].peer, sender.PeerText());
            ASSERT_EQ(events[i].thread, owner.Id());
        }
    }

    std::atomic<int> posts { 0 };
    std::mutex gateMutex;
    std::condition_variable gate;
    bool gateOpen = false;
};

TEST_F(QueuedUdpWorker, KeepsReadingWhileTheOwnerIsBusyAndWakesItOnceForAllThatWaits)
{
    StartWorker();
    BlockOwner();
    constexpr int count = 2000;
    SendNumbered(count);
    EXPECT_TRUE(WaitUdpQueueEmpty(port)) << "the worker stopped reading while its owner was busy";
    EXPECT_EQ(posts, 1) << "batches that find a call already posted post no other";
    OpenGate();
    ExpectNumberedInOrder(count);
}

TEST_F(QueuedUdpWorker, FullQueueHoldsTheWorkerBackWithoutLosingOrReordering)
{
    // A limit below one datagram lets a single batch wait at a time.
    for (const size_t limit : { size_t { 1 }, size_t { 64 }, size_t { 4096 } }) {
        SCOPED_TRACE(limit);
        StartWorker(limit);
        SendNumbered(1500);
        ExpectNumberedInOrder(1500);
        EXPECT_TRUE(StopAndRelease(owner, worker));
        recorder.Clear();
    }
}

TEST_F(QueuedUdpWorker, StopEndsAWorkerWaitingOnAFullQueueAndDropsWhatWaits)
{
    StartWorker(1);
    BlockOwner();
    SendNumbered(1);
    while (posts == 0)
        std::this_thread::yield();
    // The first batch fills the queue: the worker reads the next one and waits for room.
    SendNumbered(1);
    ASSERT_TRUE(WaitUdpQueueEmpty(port));
    worker->Stop();
    EXPECT_EQ(recorder.CountOf('D'), 1u) << "Stop itself reports the end";
    std::weak_ptr<TRecvThread> watch = worker;
    worker.reset();
    OpenGate();
    EXPECT_TRUE(WaitReleased(watch)) << "the waiting worker did not end";
    owner.RunAndWait([] {});
    EXPECT_EQ(recorder.CountOf('R'), 0u) << "nothing is handed over once Stop has returned";
}

TEST_F(QueuedUdpWorker, HandlerThatStopsInTheMiddleOfQueuedBatchesGetsNoMore)
{
    StartWorker(0, false);
    const auto record = worker->OnReceive;
    int calls = 0;
    worker->OnReceive = [&](const std::string& peer, const char* data, int length) {
        record(peer, data, length);
        if (++calls == 3)
            worker->Stop();
    };
    // Queued before the worker starts, so that its first read takes all ten as one batch.
    SendNumbered(10);
    BlockOwner();
    worker->Start();
    ASSERT_TRUE(WaitUdpQueueEmpty(port));
    OpenGate();
    ASSERT_TRUE(recorder.WaitFor(1, 'D'));
    owner.RunAndWait([] {});
    const auto events = recorder.Events();
    ASSERT_EQ(events.size(), 4u);
    EXPECT_EQ(events[2].data, "reply 2");
    EXPECT_EQ(events[3].kind, 'D');
}

TEST_F(UdpWorker, SendsToHostAndPortAndToTheChannelPortForAHostAlone)
{
    UdpPeer receiver;
    EXPECT_EQ(worker->SendText(("127.0.0.1:" + std::to_string(receiver.Port())).c_str(), "hello"), 1);
    std::string from;
    EXPECT_EQ(receiver.Receive(&from), "hello");
    EXPECT_EQ(from, "127.0.0.1:" + std::to_string(port));

    // "host" alone goes to the channel's own port: here the worker itself.
    auto selfAddressed = TRecvThread::Create();
    Recorder selfRecorder;
    selfRecorder.Bind(*selfAddressed);
    const int ownPort = FreeUdpPort();
    std::string error;
    ASSERT_TRUE(selfAddressed->Open("udp:127.0.0.1:" + std::to_string(ownPort), error)) << error;
    selfAddressed->Start();
    EXPECT_EQ(selfAddressed->SendString("127.0.0.1", std::string("to self")), 1);
    ASSERT_TRUE(selfRecorder.WaitFor(1, 'R'));
    EXPECT_EQ(selfRecorder.Events()[0].data, "to self");
    EXPECT_EQ(selfRecorder.Events()[0].peer, "127.0.0.1:" + std::to_string(ownPort));
    std::weak_ptr<TRecvThread> watch = selfAddressed;
    selfAddressed->Stop();
    selfAddressed.reset();
    EXPECT_TRUE(WaitReleased(watch));
}

TEST_F(UdpWorker, SendFailsForUnresolvableOverlongOrStoppedTargets)
{
    UdpPeer receiver;
    const std::string target = "127.0.0.1:" + std::to_string(receiver.Port());
    EXPECT_EQ(worker->SendText("no-such-host.invalid:9000", "x"), 0);
    // 64 characters: cutting it to 63 would name another port, so nothing is sent.
    const std::string overlong = target + std::string(64 - target.size(), '0');
    ASSERT_EQ(overlong.size(), 64u);
    EXPECT_EQ(worker->SendText(overlong.c_str(), "x"), 0);
    // 63 characters are still taken whole: the port's leading zeros fill the address up.
    const std::string longest
        = "127.0.0.1:" + std::string(63 - target.size(), '0') + std::to_string(receiver.Port());
    ASSERT_EQ(longest.size(), 63u);
    EXPECT_EQ(worker->SendText(longest.c_str(), "longest"), 1);
    EXPECT_EQ(receiver.Receive(), "longest");
    owner.RunAndWait([&] { worker->Stop(); });
    EXPECT_EQ(worker->SendText(target.c_str(), "x"), 0);
    timeval brief { 0, 200000 };
    setsockopt(receiver.socket.get(), SOL_SOCKET, SO_RCVTIMEO, &brief, sizeof brief);
    EXPECT_EQ(receiver.Receive(), "<nothing>");
}

TEST(UdpWorkerLife, ThousandStartStopCyclesLeaveNoFdAndOneDisconnectEach)
{
    std::atomic<int> disconnects { 0 };
    EXPECT_EQ(
        FdsLeftAfterOpenStopCycles("udp:127.0.0.1:0", 1000, false,
            [&](TRecvThread& worker) { worker.OnDisconnected = [&](const std::string&) { ++disconnects; }; }),
        0);
    EXPECT_EQ(disconnects, 1000);
}

TEST(UdpWorkerLife, OpenedButNeverStartedWorkerClosesItsSocketWithItsOwner)
{
    const int before = OpenFdCount();
    auto worker = TRecvThread::Create();
    Recorder recorder;
    recorder.Bind(*worker);
    ASSERT_TRUE(worker->Open("udp:127.0.0.1:0"));
    EXPECT_GT(OpenFdCount(), before);
    EXPECT_TRUE(worker->Stop());
    worker->Start();
    worker.reset();
    EXPECT_EQ(OpenFdCount(), before);
    EXPECT_TRUE(recorder.Events().empty());
}

class TcpClientWorker : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string status;
        listener.reset(OpenListenSocket("127.0.0.1", 0, status));
        ASSERT_NE(listener.get(), -1) << status;
        worker = TRecvThread::Create();
        recorder.Bind(*worker);
        worker->SetDelivery(owner.Delivery());
        watch = worker;
    }
    void TearDown() override
    {
        EXPECT_TRUE(StopAndRelease(owner, worker));
        EXPECT_TRUE(WaitReleased(watch)) << "a worker the test dropped must go too";
    }

    OwnerLoop owner;
    Recorder recorder;
    UniqueFd listener;
    std::shared_ptr<TRecvThread> worker;
    std::weak_ptr<TRecvThread> watch;
};

TEST_F(TcpClientWorker, ConnectsReceivesSendsAndReportsThePeerClosingOnce)
{
    const std::string server = "127.0.0.1:" + std::to_string(LocalPortOf(listener.get()));
    ASSERT_TRUE(worker->Open("tcp:127.0.0.1:" + std::to_string(LocalPortOf(listener.get()))));
    worker->Start();
    std::string peer, status;
    UniqueFd accepted(AcceptPeer(listener.get(), peer, status));
    ASSERT_NE(accepted.get(), -1);
    ASSERT_TRUE(recorder.WaitFor(1, 'C'));
    EXPECT_EQ(recorder.Events()[0].peer, server);

    EXPECT_EQ(worker->SendText(nullptr, "$$$VER?\r\n"), 9);
    std::string line;
    EXPECT_TRUE(ReadUntil(accepted.get(), line, 2000, '\n'));
    EXPECT_EQ(line, "$$$VER?\r");

    const std::string reply(3000, 'r');
    ASSERT_TRUE(SocketSendString(accepted.get(), reply));
    shutdown(accepted.get(), SHUT_RDWR);
    ASSERT_TRUE(recorder.WaitFor(1, 'D'));
    // The loop has ended and closed its connection: sending finds no socket.
    const auto limit = std::chrono::steady_clock::now() + WorkerHangLimit;
    while (worker->SendText(nullptr, "x") != -1 && std::chrono::steady_clock::now() < limit)
        std::this_thread::sleep_for(1ms);
    EXPECT_EQ(worker->SendText(nullptr, "x"), -1);

    std::string received;
    size_t disconnects = 0;
    for (const WorkerEvent& e : recorder.Events()) {
        if (e.kind == 'R') {
            EXPECT_LE(e.data.size(), 1023u);
            EXPECT_TRUE(e.terminated);
            EXPECT_EQ(e.peer, server);
            received += e.data;
        }
        if (e.kind == 'D') {
            ++disconnects;
            EXPECT_EQ(e.peer, server);
        }
        EXPECT_EQ(e.thread, owner.Id());
    }
    EXPECT_EQ(received, reply);
    EXPECT_EQ(disconnects, 1u);
    EXPECT_EQ(recorder.Events().back().kind, 'D');
}

TEST_F(TcpClientWorker, RefusedConnectionReportsDisconnectWithAnEmptyPeer)
{
    const UniqueFd holder = RefusingLoopbackSocket();
    ASSERT_TRUE(worker->Open("tcp:127.0.0.1:" + std::to_string(LocalPortOf(holder.get()))));
    worker->Start();
    ASSERT_TRUE(recorder.WaitFor(1, 'D'));
    const auto events = recorder.Events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].peer, "");
    EXPECT_EQ(worker->SendText(nullptr, "x"), -1);
}

TEST_F(TcpClientWorker, UnansweredConnectGivesUpAfterHalfASecond)
{
    const UnansweredPort silent = UnansweredLoopbackPort();
    ASSERT_NE(silent.port, 0);
    ASSERT_TRUE(worker->Open("tcp:127.0.0.1:" + std::to_string(silent.port)));
    const auto start = std::chrono::steady_clock::now();
    worker->Start();
    ASSERT_TRUE(recorder.WaitFor(1, 'D'));
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, 480ms);
    EXPECT_LT(took, 2500ms);
    ASSERT_EQ(recorder.Events().size(), 1u);
    EXPECT_EQ(recorder.Events()[0].peer, "");
}

TEST_F(TcpClientWorker, StopEndsAConnectedWorkerPromptly)
{
    ASSERT_TRUE(worker->Open("tcpclient:127.0.0.1:" + std::to_string(LocalPortOf(listener.get()))));
    worker->Start();
    std::string peer, status;
    UniqueFd accepted(AcceptPeer(listener.get(), peer, status));
    ASSERT_TRUE(recorder.WaitFor(1, 'C'));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(StopAndRelease(owner, worker));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2500ms);
    char byte;
    EXPECT_EQ(recv(accepted.get(), &byte, 1, 0), 0) << "the worker closed its connection";
}

UniqueFd BroadcastReceiver(int port)
{
    UniqueFd socket = BoundUdpSocket("0.0.0.0", port);
    timeval limit { 5, 0 };
    setsockopt(socket.get(), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    return socket;
}

std::string ReceiveFrom(int socket, std::string& from)
{
    char buffer[2048];
    sockaddr_in sender {};
    socklen_t size = sizeof sender;
    const ssize_t got
        = recvfrom(socket, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&sender), &size);
    from = got < 0 ? "" : PeerText(sender);
    return got < 0 ? "<nothing>" : std::string(buffer, static_cast<size_t>(got));
}

TEST(UdpWorkerBroadcast, WorkerOnALocalAddressReceivesBroadcastsAndBroadcastsWithoutAnAddress)
{
    const std::string unavailable = RunInPrivateLoopbackNetwork([] {
        auto worker = TRecvThread::Create();
        Recorder recorder;
        recorder.Bind(*worker);
        std::string error;
        ASSERT_TRUE(worker->Open("udp:127.0.0.1:8001", error)) << error;
        worker->Start();

        // A broadcast reply reaches the worker although it was opened on a unicast address.
        UdpPeer amplifier;
        ASSERT_EQ(amplifier.BroadcastOnLoopback(8001, "reply"), 5) << std::strerror(errno);
        ASSERT_TRUE(recorder.WaitFor(1, 'R'));
        EXPECT_EQ(recorder.Events()[0].data, "reply");
        EXPECT_EQ(recorder.Events()[0].peer, amplifier.PeerText());

        // No address: to everyone at the channel's port; ":port": to everyone at that port.
        const UniqueFd listener8001 = BroadcastReceiver(8001);
        const UniqueFd listener8002 = BroadcastReceiver(8002);
        std::string from;
        EXPECT_EQ(worker->SendText(nullptr, "hello"), 1);
        EXPECT_EQ(ReceiveFrom(listener8001.get(), from), "hello");
        EXPECT_EQ(from, "127.0.0.1:8001");
        EXPECT_EQ(worker->SendText(":8002", "to 8002"), 1);
        EXPECT_EQ(ReceiveFrom(listener8002.get(), from), "to 8002");
        EXPECT_EQ(from, "127.0.0.1:8001");

        std::weak_ptr<TRecvThread> watch = worker;
        worker->Stop();
        worker.reset();
        EXPECT_TRUE(WaitReleased(watch));
    });
    if (!unavailable.empty())
        GTEST_SKIP() << unavailable;
}

// A channel on 127.0.0.1 hears only its own network: a broadcast arriving on another interface is
// dropped.
void CheckForeignBroadcastIsIgnored()
{
    ForeignInterface foreign;
    ASSERT_TRUE(foreign.Ready());
    auto worker = TRecvThread::Create();
    Recorder recorder;
    recorder.Bind(*worker);
    std::string error;
    ASSERT_TRUE(worker->Open("udp:127.0.0.1:8001", error)) << error;
    worker->Start();
    const UniqueFd anyInterface = BroadcastReceiver(8001);

    ASSERT_TRUE(foreign.InjectBroadcast(8001, "foreign"));
    std::string from;
    ASSERT_EQ(ReceiveFrom(anyInterface.get(), from), "foreign") << "the injected datagram did arrive";
    EXPECT_EQ(from, "10.9.9.2:7000");

    // Broadcast too, so that it reaches every socket on the port, not just one of them.
    UdpPeer local;
    local.BroadcastOnLoopback(8001, "local");
    ASSERT_TRUE(recorder.WaitFor(1, 'R'));
    std::weak_ptr<TRecvThread> watch = worker;
    worker->Stop();
    worker.reset();
    EXPECT_TRUE(WaitReleased(watch));
    const auto events = recorder.Events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].data, "local");
    EXPECT_EQ(events[1].kind, 'D');
}

TEST(UdpWorkerBroadcast, BroadcastFromAnotherInterfaceIsIgnored)
{
    const std::string unavailable = RunInPrivateLoopbackNetwork([] { CheckForeignBroadcastIsIgnored(); });
    if (!unavailable.empty())
        GTEST_SKIP() << unavailable;
}

} // namespace
