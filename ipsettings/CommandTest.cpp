#include "ipsettings/CommandTest.h"

#include "comm/Recvthread.h"
#include "ipsettings/BoundedLookup.h"
#include "platform/UniqueFd.h"

TCommandTestResult RunCommandTest(
    const std::string& host, int port, const std::string& command, int timeoutMs)
{
    const std::string where = host + ":" + std::to_string(port);
    // A host name is looked up within the same time limit as the connection, not as long as the
    // resolver likes.
    const std::string address = ResolveWithin(host, timeoutMs);
    if (address.empty())
        return { false, "Connecting to " + where + " failed." };
    const UniqueFd connection(OpenTcpConnection(address, port, timeoutMs));
    if (connection.get() == -1)
        return { false, "Connecting to " + where + " failed." };

    std::string report = "Connected to " + where + " ...\r\n" + command + "\r\n";
    // Neither the send nor the reply wait is judged: whatever arrived before the line feed, the
    // time-out or the peer's closing is the reply.
    SocketSendString(connection.get(), command + "\n");
    std::string reply;
    ReadUntil(connection.get(), reply, timeoutMs, '\n');
    report += reply + "\r\n";
    return { true, report };
}
