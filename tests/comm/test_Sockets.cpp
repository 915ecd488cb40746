#include "comm/Recvthread.h"
#include "platform/UniqueFd.h"
#include "support/TestSockets.h"
#include "support/WorkerRecorder.h"

#include "platform/HostInfo.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <functional>
#include <thread>

namespace {

// A loopback listener, a client connected to it, and the accepted server side.
struct LoopbackPair {
    std::string status, peer, acceptedPeer, acceptStatus;
    UniqueFd listener { OpenListenSocket("127.0.0.1", 0, status) };
    UniqueFd client { ConnectWithTimeout("127.0.0.1", LocalPortOf(listener.get()), status, peer, 1000) };
    UniqueFd server { AcceptPeer(listener.get(), acceptedPeer, acceptStatus) };
};

TEST(ConnectWithTimeout, ConnectsOnLoopbackAndBothSidesKnowTheirPeer)
{
    LoopbackPair pair;
    ASSERT_NE(pair.listener.get(), -1);
    ASSERT_NE(pair.client.get(), -1) << pair.status;
    ASSERT_NE(pair.server.get(), -1);
    EXPECT_EQ(pair.status, "success");
    EXPECT_EQ(pair.peer, "127.0.0.1:" + std::to_string(LocalPortOf(pair.listener.get())));
    EXPECT_EQ(pair.acceptedPeer, "127.0.0.1:" + std::to_string(LocalPortOf(pair.client.get())));
}

TEST(ConnectWithTimeout, RefusedConnectionFailsAndIsNeverReportedAsConnected)
{
    const UniqueFd holder = RefusingLoopbackSocket();
    ASSERT_TRUE(holder);
    const int port = LocalPortOf(holder.get());

    std::string status;
    std::string peer = "untouched";
    const uint32_t start = platform::TickCount();
    const int socket = ConnectWithTimeout("127.0.0.1", port, status, peer, 3000);
    const uint32_t took = platform::TickCount() - start;
    CloseSocketIfOpen(socket);
    EXPECT_EQ(socket, -1);
    EXPECT_EQ(status, "connecting to \"127.0.0.1:" + std::to_string(port) + "\" failed.");
    EXPECT_EQ(peer, "untouched");
    EXPECT_LT(took, 2500u) << "a refusal must not wait for the time-out";
}

TEST(ConnectWithTimeout, UnansweredConnectTimesOutAfterTheTimeOutWithItsMessage)
{
    const UnansweredPort silent = UnansweredLoopbackPort();
    ASSERT_NE(silent.port, 0);
    std::string status;
    std::string peer = "untouched";
    const uint32_t start = platform::TickCount();
    const int socket = ConnectWithTimeout("localhost", silent.port, status, peer, 300);
    const uint32_t took = platform::TickCount() - start;
    CloseSocketIfOpen(socket);
    EXPECT_EQ(socket, -1);
    EXPECT_EQ(status, "connecting to \"127.0.0.1:" + std::to_string(silent.port) + "\" timed out.");
    EXPECT_EQ(peer, "untouched");
    EXPECT_GE(took, 300u);
    EXPECT_LT(took, 2500u);
}

TEST(ConnectWithTimeout, UnresolvableNameFailsWithTheLookupMessage)
{
    std::string status;
    std::string peer;
    EXPECT_EQ(ConnectWithTimeout("no-such-host.invalid", 2500, status, peer, 500), -1);
    EXPECT_EQ(status, "looking up hostname \"no-such-host.invalid\" failed.");
    EXPECT_EQ(OpenTcpConnection("no-such-host.invalid", 2500, 500), -1);
}

TEST(PeerText, WritesEveryAddressAndPortAsTheDottedFormDoes)
{
    struct Case {
        const char* ip;
        int port;
    };
    const Case cases[] = { { "0.0.0.0", 0 }, { "255.255.255.255", 65535 }, { "10.0.0.1", 8001 },
        { "192.168.100.9", 9 }, { "1.22.133.4", 10000 }, { "127.0.0.1", 65534 } };
    std::string reused = "an earlier, longer text that must not stay behind";
    for (const Case& c : cases) {
        const std::string expected = std::string(c.ip) + ":" + std::to_string(c.port);
        const sockaddr_in address = Ipv4Address(c.ip, c.port);
        EXPECT_EQ(PeerText(address), expected);
        FormatPeerText(address, reused);
        EXPECT_EQ(reused, expected);
    }
}

TEST(ResolveHost, TakesEveryDottedAddressIncludingTheBroadcastAddress)
{
    in_addr_t address = 1;
    EXPECT_TRUE(ResolveHost("255.255.255.255", address));
    EXPECT_EQ(address, htonl(INADDR_BROADCAST));
    EXPECT_TRUE(ResolveHost("192.168.1.20", address));
    EXPECT_EQ(address, inet_addr("192.168.1.20"));
    EXPECT_FALSE(ResolveHost("", address));
    EXPECT_EQ(address, 0u);
}

TEST(OpenSockets, InvalidLocalAddressIsRejectedWithItsText)
{
    std::string status;
    EXPECT_EQ(OpenUdpSocket(0, "300.1.1.1", status), -1);
    EXPECT_EQ(status, "\"300.1.1.1\" is not an internet address.");
    status.clear();
    EXPECT_EQ(OpenListenSocket("300.1.1.1", 0, status), -1);
    EXPECT_EQ(status, "\"300.1.1.1\" is not an internet address.");
}

TEST(OpenSockets, EmptyLocalAddressBindsAllInterfaces)
{
    std::string status;
    UniqueFd udp(OpenUdpSocket(0, "", status));
    ASSERT_NE(udp.get(), -1) << status;
    EXPECT_EQ(LocalAddressOf(udp.get()).sin_addr.s_addr, htonl(INADDR_ANY));
    UniqueFd listener(OpenListenSocket("", 0, status));
    ASSERT_NE(listener.get(), -1) << status;
    EXPECT_EQ(LocalAddressOf(listener.get()).sin_addr.s_addr, htonl(INADDR_ANY));
}

TEST(OpenSockets, ListenBindFailureClosesTheSocketWithItsMessage)
{
    std::string status;
    const UniqueFd taken(OpenListenSocket("127.0.0.1", 0, status));
    ASSERT_TRUE(taken) << status;
    const int port = LocalPortOf(taken.get());
    for (const std::string address : { "127.0.0.1", "203.0.113.7" }) {
        const int before = OpenFdCount();
        status.clear();
        EXPECT_EQ(OpenListenSocket(address, address == "127.0.0.1" ? port : 0, status), -1) << address;
        EXPECT_EQ(status, "bind() failed.\n") << address;
        EXPECT_EQ(OpenFdCount(), before) << address;
    }
}

#if defined(__x86_64__)
constexpr uint32_t AuditArch = AUDIT_ARCH_X86_64;
#elif defined(__aarch64__)
constexpr uint32_t AuditArch = AUDIT_ARCH_AARCH64;
#else
constexpr uint32_t AuditArch = 0;
#endif

// Runs body on a thread of its own on which the system refuses setsockopt(IPPROTO_IP, IP_PKTINFO)
// with ENOPROTOOPT: a seccomp filter, which binds only the thread that sets it. False when no
// filter could be set.
bool RunWithPacketInfoRefused(const std::function<void()>& body)
{
    constexpr uint32_t argument1 = offsetof(seccomp_data, args) + 1 * sizeof(uint64_t);
    constexpr uint32_t argument2 = offsetof(seccomp_data, args) + 2 * sizeof(uint64_t);
    sock_filter program[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AuditArch, 0, 7),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_setsockopt, 0, 5),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, argument1),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, IPPROTO_IP, 0, 3),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, argument2),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, IP_PKTINFO, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | ENOPROTOOPT),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    const sock_fprog filter { static_cast<unsigned short>(std::size(program)), program };
    bool filtered = false;
    std::thread([&] {
        filtered = AuditArch != 0 && prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0
            && prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &filter) == 0;
        if (filtered)
            body();
    }).join();
    return filtered;
}

TEST(OpenSockets, RefusedInterfaceFilterFailsTheOpenWithItsReason)
{
    const int before = OpenFdCount();
    std::string status;
    int socket = 0;
    bool opened = true;
    std::string error;
    const bool filtered = RunWithPacketInfoRefused([&] {
        socket = OpenUdpSocket(0, "127.0.0.1", status);
        opened = TRecvThread::Create()->Open("udp:127.0.0.1:0", error);
    });
    if (!filtered)
        GTEST_SKIP() << "no seccomp filter can be set here";
    CloseSocketIfOpen(socket);
    const std::string reason = "setsockopt(IP_PKTINFO) failed. WSAError:" + std::to_string(ENOPROTOOPT);
    EXPECT_EQ(socket, -1);
    EXPECT_EQ(status, reason);
    EXPECT_FALSE(opened);
    EXPECT_EQ(error, reason);
    EXPECT_EQ(OpenFdCount(), before);
}

TEST(OpenSockets, UdpBindFailureCarriesTheSystemErrorText)
{
    // 203.0.113.7 (documentation range) belongs to no interface here; nothing is sent.
    std::string status;
    EXPECT_EQ(OpenUdpSocket(0, "203.0.113.7", status), -1);
    EXPECT_EQ(status,
        "bind() failed: WSAError: " + std::string(std::strerror(EADDRNOTAVAIL)) + "\n ("
            + std::to_string(EADDRNOTAVAIL) + ")\n");
}

TEST(OpenSockets, UdpSocketOnALocalAddressReceivesAndHasALargeReceiveBuffer)
{
    std::string status;
    UniqueFd receiver(OpenUdpSocket(0, "127.0.0.1", status));
    ASSERT_NE(receiver.get(), -1) << status;
    int size = 0;
    socklen_t length = sizeof size;
    getsockopt(receiver.get(), SOL_SOCKET, SO_RCVBUF, &size, &length);
    EXPECT_GE(size, 2 * 1024 * 1024);

    UniqueFd sender(socket(AF_INET, SOCK_DGRAM, 0));
    ASSERT_EQ(SendDatagram(sender.get(), "ping", "127.0.0.1", LocalPortOf(receiver.get())), 4);
    char buffer[16] = {};
    EXPECT_EQ(recv(receiver.get(), buffer, sizeof buffer, 0), 4);
    EXPECT_STREQ(buffer, "ping");
}

TEST(ReadUntil, KeepsCarriageReturnBeforeTheLineFeed)
{
    LoopbackPair pair;
    ASSERT_NE(pair.server.get(), -1);
    ASSERT_TRUE(SocketSendString(pair.server.get(), "OK\r\nnext"));
    std::string text;
    EXPECT_TRUE(ReadUntil(pair.client.get(), text, 1000, '\n'));
    EXPECT_EQ(text, "OK\r");
}

TEST(ReadUntil, PeerCloseGivesFalseWithTheBytesSoFar)
{
    LoopbackPair pair;
    ASSERT_NE(pair.server.get(), -1);
    ASSERT_TRUE(SocketSend(pair.server.get(), "OK", 2));
    shutdown(pair.server.get(), SHUT_RDWR);
    std::string text = "stale";
    EXPECT_FALSE(ReadUntil(pair.client.get(), text, 1000, '\n'));
    EXPECT_EQ(text, "OK");
}

TEST(ReadUntil, SilentPeerEndsAfterOneToAboutTwoTimeOuts)
{
    LoopbackPair pair;
    ASSERT_NE(pair.server.get(), -1);
    std::string text;
    const uint32_t start = platform::TickCount();
    EXPECT_FALSE(ReadUntil(pair.client.get(), text, 1000, '\n'));
    const uint32_t took = platform::TickCount() - start;
    EXPECT_GE(took, 1000u);
    EXPECT_LT(took, 2500u);
    EXPECT_TRUE(text.empty());
    EXPECT_FALSE(ReadUntil(-1, text, 1000, '\n'));
}

TEST(SocketSend, FailsOnNoSocketAndOnAPeerThatHasGoneWithoutEndingTheProgram)
{
    EXPECT_FALSE(SocketSend(-1, "x", 1));
    EXPECT_FALSE(SocketSendString(-1, "x"));

    LoopbackPair pair;
    ASSERT_NE(pair.server.get(), -1);
    CloseSocketIfOpen(pair.server.release());
    // The first send may still be taken; after the peer's reset a send fails (and must not raise
    // SIGPIPE, which would end this test program).
    bool failed = false;
    for (int i = 0; i < 100 && !failed; ++i) {
        failed = !SocketSend(pair.client.get(), "data", 4);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_TRUE(failed);
}

TEST(IsSocketReadable, OnlyASocketInTheSet)
{
    fd_set set;
    FD_ZERO(&set);
    EXPECT_FALSE(IsSocketReadable(-1, set));
    LoopbackPair pair;
    ASSERT_NE(pair.client.get(), -1);
    EXPECT_FALSE(IsSocketReadable(pair.client.get(), set));
    FD_SET(pair.client.get(), &set);
    EXPECT_TRUE(IsSocketReadable(pair.client.get(), set));
}

TEST(WsaErrorText, NamesTheCodeAfterTheSystemMessage)
{
    errno = ECONNREFUSED;
    EXPECT_EQ(WsaErrorText(),
        "WSAError: " + std::string(std::strerror(ECONNREFUSED)) + "\n (" + std::to_string(ECONNREFUSED)
            + ")\n");
}

} // namespace
