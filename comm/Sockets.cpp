// Socket primitives over POSIX sockets: the status texts keep the wording the callers show.

#include "comm/Recvthread.h"
#include "comm/SocketHelpers.h"
#include "platform/UniqueFd.h"

#include "platform/HostInfo.h"
#include "platform/LocalInterfaces.h"
#include "text/Strtools.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

std::string DottedText(in_addr address)
{
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &address, text, sizeof text);
    return text;
}

bool SetOption(int socket, int level, int name, int value)
{
    return setsockopt(socket, level, name, &value, sizeof value) == 0;
}

// Replies to one hello arrive in bursts of thousands; the default receive buffer drops most of
// them. The forced size needs privilege, the plain one is capped by the system limit.
void EnlargeReceiveBuffer(int socket)
{
    constexpr int size = 4 * 1024 * 1024;
    if (!SetOption(socket, SOL_SOCKET, SO_RCVBUFFORCE, size))
        SetOption(socket, SOL_SOCKET, SO_RCVBUF, size);
}

// Linux delivers no broadcast to a socket bound to a unicast address, so a socket meant for one
// interface is bound to any address and tied to the interface instead. Where SO_BINDTODEVICE is
// refused (before Linux 5.7 it needs CAP_NET_RAW) the worker filters received datagrams by their
// arrival interface (IP_PKTINFO); it always sends through that interface explicitly. Without
// IP_PKTINFO the worker could tell no datagram's interface and would drop them all, so its refusal
// fails the open.
bool RestrictToInterface(int socket, const LocalInterface& device)
{
    setsockopt(
        socket, SOL_SOCKET, SO_BINDTODEVICE, device.name.c_str(), static_cast<socklen_t>(device.name.size()));
    return SetOption(socket, IPPROTO_IP, IP_PKTINFO, 1);
}

// The local address of an Open*Socket call: any address for an empty text.
bool LocalAddressOf(const std::string& text, in_addr_t& address)
{
    if (text.empty()) {
        address = htonl(INADDR_ANY);
        return true;
    }
    return ParseDottedAddress(text, address);
}

sockaddr_in SocketAddress(in_addr_t address, int port)
{
    sockaddr_in result {};
    result.sin_family = AF_INET;
    result.sin_addr.s_addr = address;
    result.sin_port = htons(static_cast<uint16_t>(port));
    return result;
}

} // namespace

bool ParseDottedAddress(const std::string& text, in_addr_t& address)
{
    in_addr parsed {};
    if (inet_pton(AF_INET, text.c_str(), &parsed) != 1)
        return false;
    address = parsed.s_addr;
    return true;
}

bool FindInterfaceOwning(in_addr_t address, LocalInterface& found)
{
    for (const platform::InterfaceAddress& entry : platform::UpInterfaceAddresses()) {
        if (entry.address != address)
            continue;
        const unsigned index = if_nametoindex(entry.device.c_str());
        if (index != 0) {
            found.name = entry.device;
            found.index = index;
            return true;
        }
    }
    return false;
}

WaitResult WaitReadable(int fd, int wakeFd, int ms)
{
    pollfd fds[2] = { { fd, POLLIN, 0 }, { wakeFd, POLLIN, 0 } };
    const nfds_t count = wakeFd == -1 ? 1 : 2;
    const uint32_t start = platform::TickCount();
    for (;;) {
        int left = -1;
        if (ms >= 0) {
            const uint32_t passed = platform::TickCount() - start;
            left = passed >= static_cast<uint32_t>(ms) ? 0 : ms - static_cast<int>(passed);
        }
        const int ready = poll(fds, count, left);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0)
            return WaitResult::Failed;
        if (ready == 0)
            return WaitResult::TimedOut;
        if (count == 2 && fds[1].revents != 0)
            return WaitResult::Woken;
        // Like select, end-of-stream and a pending error count as readable; a bad handle fails.
        return (fds[0].revents & POLLNVAL) != 0 ? WaitResult::Failed : WaitResult::Readable;
    }
}

void WinsockStartup() { }

void WinsockCleanup() { }

std::string WsaErrorText()
{
    const int code = errno;
    return FormatText("WSAError: %s (%d)\n", SystemErrorText(code).c_str(), code);
}

bool ResolveHost(const std::string& host, in_addr_t& addr)
{
    addr = 0;
    if (ParseDottedAddress(host, addr))
        return true;
    addrinfo hints {};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (host.empty() || getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || found == nullptr)
        return false;
    sockaddr_in first {};
    std::memcpy(&first, found->ai_addr, sizeof first);
    freeaddrinfo(found);
    addr = first.sin_addr.s_addr;
    return true;
}

std::string PeerText(const sockaddr_in& address)
{
    std::string text;
    FormatPeerText(address, text);
    return text;
}

void FormatPeerText(const sockaddr_in& address, std::string& text)
{
    // Longest form: "255.255.255.255:65535".
    char buffer[24];
    char* end = buffer;
    const uint32_t host = ntohl(address.sin_addr.s_addr);
    for (int shift = 24; shift >= 0; shift -= 8) {
        end = std::to_chars(end, buffer + sizeof buffer, (host >> shift) & 0xFFu).ptr;
        *end++ = shift == 0 ? ':' : '.';
    }
    end = std::to_chars(end, buffer + sizeof buffer, ntohs(address.sin_port)).ptr;
    text.assign(buffer, end);
}

int ConnectWithTimeout(const std::string& host, int port, std::string& status, std::string& peer, int ms)
{
    in_addr_t resolved = 0;
    if (!ResolveHost(host, resolved)) {
        status = FormatText("looking up hostname \"%s\" failed.", host.c_str());
        return -1;
    }
    const sockaddr_in address = SocketAddress(resolved, port);
    const std::string dotted = DottedText(address.sin_addr);
    status = FormatText("lookup hostname \"%s\" returned %s.", host.c_str(), dotted.c_str());

    UniqueFd owner(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!owner)
        return -1;
    const int socket = owner.get();
    if (!SetOption(socket, SOL_SOCKET, SO_KEEPALIVE, 1))
        status = "Warning: setsockopt(SO_KEEPALIVE) failed.";

    const unsigned portNumber = ntohs(address.sin_port);
    const bool connected = connect(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    if (!connected && errno != EINPROGRESS && errno != EINTR) {
        status = FormatText("connecting to \"%s:%u\" failed.", dotted.c_str(), portNumber);
        return -1;
    }
    if (!connected) {
        pollfd writable = { socket, POLLOUT, 0 };
        int ready;
        do
            ready = poll(&writable, 1, ms < 0 ? 0 : ms);
        while (ready < 0 && errno == EINTR);
        if (ready <= 0) {
            status = FormatText("connecting to \"%s:%u\" timed out.", dotted.c_str(), portNumber);
            return -1;
        }
        // Linux also reports a refused connection as writable; only a clear pending error means
        // the connection stands. Refused is reported at once as failed, never as connected.
        int pending = 0;
        socklen_t size = sizeof pending;
        if (getsockopt(socket, SOL_SOCKET, SO_ERROR, &pending, &size) != 0 || pending != 0) {
            status = FormatText("connecting to \"%s:%u\" failed.", dotted.c_str(), portNumber);
            return -1;
        }
    }
    // Also on an immediate success, so that the caller always learns its peer.
    status = "success";
    peer = FormatText("%s:%u", dotted.c_str(), portNumber);
    return owner.release();
}

int OpenTcpConnection(const std::string& host, int port, int ms)
{
    std::string status;
    std::string peer;
    return ConnectWithTimeout(host, port, status, peer, ms);
}

int OpenListenSocket(const std::string& address, int port, std::string& status)
{
    in_addr_t local = 0;
    if (!LocalAddressOf(address, local)) {
        status = FormatText("\"%s\" is not an internet address.", address.c_str());
        return -1;
    }
    UniqueFd owner(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP));
    if (!owner) {
        status = "socket() failed.";
        return -1;
    }
    const int socket = owner.get();
    if (!SetOption(socket, SOL_SOCKET, SO_REUSEADDR, 1)) {
        status = FormatText("setsockopt(SO_REUSEADDR) failed. WSAError:%d", errno);
        return -1;
    }
    const sockaddr_in bound = SocketAddress(local, port);
    if (bind(socket, reinterpret_cast<const sockaddr*>(&bound), sizeof bound) != 0) {
        status = "bind() failed.\n";
        return -1;
    }
    if (listen(socket, 5) != 0) {
        status = FormatText("listen() failed. WSAError:%d", errno);
        return -1;
    }
    return owner.release();
}

int AcceptPeer(int listenSocket, std::string& peer, std::string& status)
{
    sockaddr_in address {};
    socklen_t size = sizeof address;
    const int socket = accept4(listenSocket, reinterpret_cast<sockaddr*>(&address), &size, SOCK_CLOEXEC);
    if (socket == -1)
        return -1;
    peer = PeerText(address);
    if (!SetOption(socket, SOL_SOCKET, SO_KEEPALIVE, 1))
        status = FormatText("setsockopt(SO_KEEPALIVE) failed. WSAError:%d \n", errno);
    return socket;
}

int OpenUdpSocket(int port, const std::string& address, std::string& status)
{
    UniqueFd owner(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP));
    if (!owner) {
        status = "socket() failed.";
        return -1;
    }
    const int socket = owner.get();
    if (!SetOption(socket, SOL_SOCKET, SO_BROADCAST, 1)) {
        status = FormatText("setsockopt(SO_BROADCAST) failed. WSAError:%d", errno);
        return -1;
    }
    if (!SetOption(socket, SOL_SOCKET, SO_REUSEADDR, 1)) {
        status = FormatText("setsockopt(SO_REUSEADDR) failed. WSAError:%d", errno);
        return -1;
    }
    in_addr_t local = 0;
    if (!LocalAddressOf(address, local)) {
        status = FormatText("\"%s\" is not an internet address.", address.c_str());
        return -1;
    }
    LocalInterface device;
    if (!address.empty() && FindInterfaceOwning(local, device)) {
        if (!RestrictToInterface(socket, device)) {
            status = FormatText("setsockopt(IP_PKTINFO) failed. WSAError:%d", errno);
            return -1;
        }
        local = htonl(INADDR_ANY);
    }
    EnlargeReceiveBuffer(socket);
    const sockaddr_in bound = SocketAddress(local, port);
    if (bind(socket, reinterpret_cast<const sockaddr*>(&bound), sizeof bound) != 0) {
        status = "bind() failed: " + WsaErrorText();
        return -1;
    }
    return owner.release();
}

bool IsSocketReadable(int socket, const fd_set& readSet)
{
    if (socket < 0 || socket >= FD_SETSIZE)
        return false;
    return FD_ISSET(socket, &readSet);
}

void CloseSocketIfOpen(int socket)
{
    if (socket >= 0)
        close(socket);
}

bool SocketSend(int socket, const void* data, int length)
{
    if (socket < 0 || length < 0 || (data == nullptr && length > 0))
        return false;
    // A peer that has gone must give an error result, not a SIGPIPE that ends the program.
    return send(socket, data, static_cast<size_t>(length), MSG_NOSIGNAL) > 0;
}

bool SocketSendString(int socket, const std::string& text)
{
    return SocketSend(socket, text.data(), static_cast<int>(text.size()));
}

bool ReadUntil(int socket, std::string& text, int ms, char terminator)
{
    if (socket < 0)
        return false;
    const uint32_t start = platform::TickCount();
    const uint32_t limit = ms < 0 ? 0 : static_cast<uint32_t>(ms);
    text.clear();
    for (;;) {
        if (platform::TickCount() - start > limit)
            return false;
        const WaitResult wait = WaitReadable(socket, -1, static_cast<int>(limit));
        if (wait == WaitResult::TimedOut)
            continue;
        if (wait != WaitResult::Readable)
            return false;
        char byte = 0;
        const ssize_t got = recv(socket, &byte, 1, 0);
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
            continue;
        if (got <= 0)
            return false;
        if (byte == terminator)
            return true;
        text += byte;
    }
}
