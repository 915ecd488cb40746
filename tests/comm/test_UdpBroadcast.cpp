// The Udp worker on a real network: inside the private test network, so that its broadcasts
// never leave this machine.

#include "comm/Recvthread.h"
#include "platform/UniqueFd.h"
#include "support/PrivateNetworkTest.h"
#include "support/TestSockets.h"
#include "tools/ampsim/Ampsim.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int HangLimitMs = 5000;

struct Delivered {
    std::string Peer;
    std::string Bytes;
    bool Terminated = false;
};

// A peer's UDP socket on ip:port (made in the calling thread's namespace) that learns where each
// datagram was sent to.
UniqueFd PeerSocket(const std::string& ip, int port)
{
    UniqueFd s = BoundUdpSocket(ip, port);
    const int on = 1;
    ::setsockopt(s.get(), IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
    return s;
}

void SendTo(const UniqueFd& s, const std::string& text, const std::string& ip, int port)
{
    ASSERT_EQ(SendDatagram(s.get(), text, ip, port), static_cast<ssize_t>(text.size()));
}

class UdpBroadcast : public PrivateNetworkTest<2> {
protected:
    void SetUp() override
    {
        PrivateNetworkTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        worker = TRecvThread::Create();
        worker->OnReceive = [this](const std::string& peer, const char* data, int length) {
            std::lock_guard lock(mutex);
            // Its own broadcasts come back to it; they are not what is looked at here.
            if (peer == TestNetwork::AppAddress() + ":8001")
                return;
            received.push_back(
                Delivered { peer, std::string(data, static_cast<size_t>(length)), data[length] == '\0' });
            changed.notify_all();
        };
        std::string error;
        bool opened = false;
        net->RunInApp([&] {
            opened = worker->Open("udp:" + TestNetwork::AppAddress() + ":8001", error);
            if (opened)
                worker->Start();
        });
        ASSERT_TRUE(opened) << error;
    }

    void TearDown() override
    {
        if (worker)
            worker->Stop();
    }

    std::vector<Delivered> WaitForDeliveries(size_t count, int ms = HangLimitMs)
    {
        std::unique_lock lock(mutex);
        changed.wait_for(lock, std::chrono::milliseconds(ms), [&] { return received.size() >= count; });
        return received;
    }

    std::shared_ptr<TRecvThread> worker;
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<Delivered> received;
};

TEST_F(UdpBroadcast, SendWithoutAddressIsOneBroadcastDatagramOfExactlyTheBytes)
{
    UniqueFd peer;
    net->RunInAmp([&] { peer = PeerSocket("0.0.0.0", 8001); });
    ASSERT_GE(peer.get(), 0);

    EXPECT_EQ(worker->SendText(nullptr, "0 1 A"), 1);

    pollfd p { peer.get(), POLLIN, 0 };
    ASSERT_EQ(::poll(&p, 1, HangLimitMs), 1);
    ampsim::ReceivedDatagram datagram;
    ASSERT_TRUE(ampsim::ReceiveDatagram(peer.get(), datagram));
    ASSERT_EQ(datagram.Bytes.size(), 5u);
    EXPECT_EQ(datagram.Bytes, "0 1 A");
    EXPECT_EQ(ntohs(datagram.From.sin_port), 8001);
    char ip[INET_ADDRSTRLEN];
    EXPECT_STREQ(::inet_ntop(AF_INET, &datagram.From.sin_addr, ip, sizeof ip), "198.18.0.1");
    ASSERT_TRUE(datagram.To.has_value()) << "the peer asked for the destination";
    EXPECT_EQ(datagram.To->s_addr, htonl(INADDR_BROADCAST));
    // One datagram, not more.
    EXPECT_EQ(::poll(&p, 1, 200), 0);
}

TEST_F(UdpBroadcast, RepliesByBroadcastAndByUnicastAreBothDeliveredWithTheirSender)
{
    UniqueFd first, second;
    net->RunInAmp([&] {
        first = PeerSocket(TestNetwork::AmpAddress(0), 8001);
        second = PeerSocket(TestNetwork::AmpAddress(1), 8001);
    });
    ASSERT_GE(first.get(), 0);
    ASSERT_GE(second.get(), 0);
    const std::string broadcastReply = "0050C2A10001 1 198.18.1.1 255.255.0.0 0.0.0.0 Stage-Left";
    const std::string unicastReply = "0050C2A10002 0 198.18.1.2 255.255.0.0 0.0.0.0 FOH-Rack-2\r\n";
    SendTo(first, broadcastReply, "255.255.255.255", 8001);
    SendTo(second, unicastReply, TestNetwork::AppAddress(), 8001);

    auto got = WaitForDeliveries(2);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].Peer, "198.18.1.1:8001");
    EXPECT_EQ(got[0].Bytes, broadcastReply);
    EXPECT_TRUE(got[0].Terminated);
    EXPECT_EQ(got[1].Peer, "198.18.1.2:8001");
    EXPECT_EQ(got[1].Bytes, unicastReply);
    EXPECT_TRUE(got[1].Terminated);
}

TEST_F(UdpBroadcast, DatagramsArrivingOnAnotherInterfaceAreNotDelivered)
{
    // Inside the app side, loopback is the other interface.
    net->RunInApp([&] {
        auto local = PeerSocket("127.0.0.1", 0);
        SendTo(local, "from loopback", "127.0.0.1", 8001);
    });
    UniqueFd peer;
    net->RunInAmp([&] { peer = PeerSocket(TestNetwork::AmpAddress(0), 8001); });
    SendTo(peer, "from the network", TestNetwork::AppAddress(), 8001);
    auto got = WaitForDeliveries(1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].Bytes, "from the network");
    EXPECT_EQ(WaitForDeliveries(2, 300).size(), 1u);
}

TEST_F(UdpBroadcast, HelloThroughTheWorkerIsAnsweredBySimulatedAmplifiers)
{
    ampsim::Options options;
    options.Command = false;
    ampsim::Simulator simulator(options, ampsim::MakeAmplifiers(2, TestNetwork::AmpAddress(0)));
    std::string error;
    bool started = false;
    net->RunInAmp([&] { started = simulator.Start(error); });
    ASSERT_TRUE(started) << error;

    worker->SendText(nullptr, "0 1 A");
    auto got = WaitForDeliveries(2);
    ASSERT_EQ(got.size(), 2u);
    std::vector<std::string> texts { got[0].Peer + " " + got[0].Bytes, got[1].Peer + " " + got[1].Bytes };
    std::sort(texts.begin(), texts.end());
    EXPECT_EQ(texts[0], "198.18.1.1:8001 " + ampsim::ReplyText(simulator.Amp(0)));
    EXPECT_EQ(texts[1], "198.18.1.2:8001 " + ampsim::ReplyText(simulator.Amp(1)));
    EXPECT_EQ(simulator.HellosReceived(), 1u);
}

} // namespace
