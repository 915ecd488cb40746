#include "support/TestSockets.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <chrono>
#include <cstdio>
#include <thread>

sockaddr_in Ipv4Address(const std::string& ip, int port)
{
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    ::inet_pton(AF_INET, ip.c_str(), &address.sin_addr);
    return address;
}

sockaddr_in LoopbackAddress(int port)
{
    return Ipv4Address("127.0.0.1", port);
}

sockaddr_in LocalAddressOf(int socket)
{
    sockaddr_in address {};
    socklen_t size = sizeof address;
    ::getsockname(socket, reinterpret_cast<sockaddr*>(&address), &size);
    return address;
}

int LocalPortOf(int socket)
{
    return ntohs(LocalAddressOf(socket).sin_port);
}

UniqueFd RefusingLoopbackSocket()
{
    UniqueFd socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const sockaddr_in any = LoopbackAddress(0);
    if (::bind(socket.get(), reinterpret_cast<const sockaddr*>(&any), sizeof any) != 0)
        return UniqueFd();
    return socket;
}

UnansweredPort UnansweredLoopbackPort()
{
    UnansweredPort result;
    result.listener.reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const sockaddr_in any = LoopbackAddress(0);
    if (::bind(result.listener.get(), reinterpret_cast<const sockaddr*>(&any), sizeof any) != 0
        || ::listen(result.listener.get(), 0) != 0)
        return UnansweredPort();
    result.port = LocalPortOf(result.listener.get());
    // A backlog of 0 holds one finished connection; while it waits unaccepted, later ones are not
    // answered.
    result.filler.reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const sockaddr_in target = LoopbackAddress(result.port);
    if (::connect(result.filler.get(), reinterpret_cast<const sockaddr*>(&target), sizeof target) != 0)
        return UnansweredPort();
    return result;
}

int UnusedLoopbackPort()
{
    const UniqueFd holder = RefusingLoopbackSocket();
    return holder ? LocalPortOf(holder.get()) : 0;
}

UniqueFd BoundUdpSocket(const std::string& ip, int port)
{
    UniqueFd socket(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    const int on = 1;
    ::setsockopt(socket.get(), SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    ::setsockopt(socket.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    const sockaddr_in address = Ipv4Address(ip, port);
    if (::bind(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        return UniqueFd();
    return socket;
}

long SendDatagram(int socket, const std::string& bytes, const std::string& ip, int port)
{
    const sockaddr_in to = Ipv4Address(ip, port);
    return ::sendto(socket, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
}

long UdpReceiveQueueOf(int port)
{
    // This thread's network namespace, which may be a private one of the test's.
    std::FILE* table = std::fopen("/proc/thread-self/net/udp", "r");
    if (table == nullptr)
        return -1;
    char line[512];
    long found = -1;
    while (found < 0 && std::fgets(line, sizeof line, table) != nullptr) {
        unsigned localAddress = 0, localPort = 0, remoteAddress = 0, remotePort = 0, state = 0;
        unsigned long txQueue = 0, rxQueue = 0;
        if (std::sscanf(line, " %*d: %x:%x %x:%x %x %lx:%lx", &localAddress, &localPort, &remoteAddress,
                &remotePort, &state, &txQueue, &rxQueue)
                == 7
            && localPort == static_cast<unsigned>(port))
            found = static_cast<long>(rxQueue);
    }
    std::fclose(table);
    return found;
}

bool WaitUdpQueueEmpty(int port)
{
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (UdpReceiveQueueOf(port) != 0) {
        if (std::chrono::steady_clock::now() > limit)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

bool BindUnixSocket(const std::string& path)
{
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path)
        return false;
    path.copy(address.sun_path, path.size());
    UniqueFd socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    return socket && ::bind(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
}
