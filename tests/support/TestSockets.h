#pragma once
// Small socket set-ups the tests share: addresses, bound ports, peers. They make sockets in the
// calling thread's network namespace.

#include "platform/UniqueFd.h"

#include <string>

#include <netinet/in.h>

// ip:port as a socket address; an unparsable ip gives 0.0.0.0.
sockaddr_in Ipv4Address(const std::string& ip, int port);
sockaddr_in LoopbackAddress(int port);

// The address and port a socket is bound to.
sockaddr_in LocalAddressOf(int socket);
int LocalPortOf(int socket);

// A TCP socket bound to a free loopback port but not listening: while it is held, every connect
// to that port is refused.
UniqueFd RefusingLoopbackSocket();
// A loopback port whose listener never answers: its accept queue is full, so a connect to it
// waits until it times out (nothing is refused).
struct UnansweredPort {
    UniqueFd listener;
    UniqueFd filler; // the one connection that fills the queue
    int port = 0;
};
UnansweredPort UnansweredLoopbackPort();
// A loopback TCP port that was free a moment ago and has nobody listening.
int UnusedLoopbackPort();

// A UDP socket bound to ip:port (port 0: any free port) that may broadcast and shares its port;
// none when it cannot be bound.
UniqueFd BoundUdpSocket(const std::string& ip, int port);

// Sends bytes as one datagram to ip:port; what sendto returned.
long SendDatagram(int socket, const std::string& bytes, const std::string& ip, int port);

// Bytes waiting in the receive queue of the UDP socket bound to local port (as /proc/net/udp shows
// them), or -1 when no such socket is listed.
long UdpReceiveQueueOf(int port);
// Until the UDP socket on port has nothing left to read; false after 10 s.
bool WaitUdpQueueEmpty(int port);

// A Unix socket file at path, bound and then closed, so that only the file is left; false when
// it cannot be made.
bool BindUnixSocket(const std::string& path);
