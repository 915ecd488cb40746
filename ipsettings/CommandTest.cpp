#include "ipsettings/CommandTest.h"

#include "comm/Recvthread.h"

namespace {

class ConnectionGuard {
public:
    explicit ConnectionGuard(int socket)
        : socket(socket)
    {
    }
    ~ConnectionGuard() { CloseSocketIfOpen(socket); }
    ConnectionGuard(const ConnectionGuard&) = delete;
    ConnectionGuard& operator=(const ConnectionGuard&) = delete;
    int Get() const { return socket; }

private:
    int socket;
};

} // namespace

TCommandTestResult RunCommandTest(
    const std::string& host, int port, const std::string& command, int timeoutMs)
{
    const std::string where = host + ":" + std::to_string(port);
    const ConnectionGuard connection(OpenTcpConnection(host, port, timeoutMs));
    if (connection.Get() == -1)
        return { false, "Connecting to " + where + " failed." };

    std::string report = "Connected to " + where + " ...\r\n" + command + "\r\n";
    // Neither the send nor the reply wait is judged: whatever arrived before the line feed, the
    // time-out or the peer's closing is the reply.
    SocketSendString(connection.Get(), command + "\n");
    std::string reply;
    ReadUntil(connection.Get(), reply, timeoutMs, '\n');
    report += reply + "\r\n";
    return { true, report };
}
