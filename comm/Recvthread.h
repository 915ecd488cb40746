#pragma once
// Socket primitives and the communication worker TRecvThread.
//
// A socket is a plain int, -1 meaning none. The primitives report progress and errors through a
// status text and never throw.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include <netinet/in.h>
#include <sys/select.h>

void WinsockStartup();
void WinsockCleanup();
// "WSAError: <system text> (<errno>)\n" for the calling thread's errno.
std::string WsaErrorText();
// Dotted address or host name to an IPv4 address in network order; addr is 0 on failure.
bool ResolveHost(const std::string& host, in_addr_t& addr);
// Non-blocking connect bounded by ms. A refused connection is reported as "failed", never as
// connected. The returned socket stays non-blocking.
int ConnectWithTimeout(const std::string& host, int port, std::string& status, std::string& peer, int ms);
int OpenTcpConnection(const std::string& host, int port, int ms);
int OpenListenSocket(const std::string& address, int port, std::string& status);
int AcceptPeer(int listenSocket, std::string& peer, std::string& status);
int OpenUdpSocket(int port, const std::string& address, std::string& status);
bool IsSocketReadable(int socket, const fd_set& readSet);
void CloseSocketIfOpen(int socket);
bool SocketSend(int socket, const void* data, int length);
bool SocketSendString(int socket, const std::string& text);
// Reads byte by byte until terminator (not stored). False on time-out, peer close or error; the
// bytes read so far stay in text.
bool ReadUntil(int socket, std::string& text, int ms, char terminator);
// "a.b.c.d:port" for an IPv4 socket address.
std::string PeerText(const sockaddr_in& address);
// The same into text, reusing its storage: called for every datagram received.
void FormatPeerText(const sockaddr_in& address, std::string& text);

// The communication worker: owns one channel chosen by a channel address, receives on its own
// thread and hands every chunk to the owner's handlers through the owner's delivery function.
//
// Life: Create, set handlers (and the delivery), Open, Start; Stop ends it. The worker keeps
// itself alive while its thread runs and releases itself when the loop ends; the owner drops its
// reference after Stop and never calls it again.
//
// Handlers run only inside a delivery and never after Stop has returned: Stop waits for a handler
// that runs on another thread to return, and a delivery that arrives later does nothing. Stop of a
// running Udp worker calls OnDisconnected itself, on the calling thread, once. The delivery
// function may still be called after Stop, so it must not depend on the owner's lifetime.
//
// A serial port calls OnConnected with its name from Open, on the opening thread, and
// OnDisconnected once when the port hangs up, fails or a write to it fails (not after Stop). A
// TcpServer serves three clients in slots 0, 1, 2 and closes a fourth at once; OnConnected,
// OnReceive and OnDisconnected carry the client's peer text, and nothing is handed over for a
// client after its OnDisconnected.
class TRecvThread : public std::enable_shared_from_this<TRecvThread> {
public:
    enum TTransport { SerialPort = 0, TcpClient = 1, Udp = 2, TcpServer = 3 };

    using ReceiveHandler = std::function<void(const std::string& peer, const char* data, int length)>;
    using PeerHandler = std::function<void(const std::string& peer)>;
    // Runs the given call on the owner's thread and returns when it has run. The default runs it
    // at once on the calling thread.
    using Delivery = std::function<void(const std::function<void()>& call)>;
    // Runs the given call later on the owner's thread, without waiting for it; may drop it when the
    // owner has gone.
    using Posting = std::function<void(std::function<void()> call)>;

private:
    // Only Create can make the key, so make_shared can build a worker but nobody else can.
    struct CreateKey {
        explicit CreateKey() = default;
    };

public:
    static std::shared_ptr<TRecvThread> Create();
    explicit TRecvThread(CreateKey);
    ~TRecvThread();
    TRecvThread(const TRecvThread&) = delete;
    TRecvThread& operator=(const TRecvThread&) = delete;

    ReceiveHandler OnReceive;
    PeerHandler OnConnected;
    PeerHandler OnDisconnected;
    void SetDelivery(Delivery delivery);
    // With a posting, a Udp worker keeps reading while the owner's thread is busy: datagrams wait
    // in a queue of batches (one posted call per batch that finds the queue empty) and the worker
    // waits only while the queue holds the hand-over limit of bytes (default 4 MiB). OnReceive
    // still runs once per datagram, in order, and never after Stop has returned; datagrams still
    // queued at Stop are dropped.
    void SetPosting(Posting posting);
    void SetHandOverLimit(size_t bytes);

    // Opens the channel: "udp:addr:port", "tcp:host:port", "server:addr:port", "com:port:settings"
    // (and "udpclient", "tcpclient", "tcpserver", "serial"). A port that is not a whole number
    // makes Open fail with that reason in error.
    bool Open(const std::string& address);
    bool Open(const std::string& address, std::string& error);
    void Start();
    // TcpClient: what send returned (-1 without a connection); the address is ignored.
    // Udp: 1 when the whole datagram was taken, else 0. The address is "host:port", ":port" or
    // "host" (the port defaults to UdpPort, an empty host means 255.255.255.255) or null for a
    // broadcast to UdpPort; an address longer than 63 characters is refused rather than cut.
    // TcpServer: to the client whose peer text is the address, without waiting; what send returned,
    // -1 when no client has that peer text. A failed send gives that client's OnDisconnected (on
    // the calling thread, through the delivery) and frees its slot.
    // SerialPort: writes all bytes and returns their number; -1 without an open port; 0 when the
    // write failed, which stops the worker.
    // After Stop nothing is sent.
    int Send(const char* address, const void* data, int length);
    int SendText(const char* address, const char* text);
    int SendString(const char* address, const std::string& text);
    bool Stop();

    TTransport Transport() const { return FTransport; }
    int UdpPort() const { return FUdpPort; }
    // The local port of an open Udp or TcpServer channel (useful after asking for port 0); 0 when
    // none.
    int LocalPort() const;

private:
    void Execute();
    struct Impl;
    std::unique_ptr<Impl> impl;
    TTransport FTransport = SerialPort;
    int FUdpPort = 8001;
};
