#include "ctl/VersionQuery.h"

#include "comm/Recvthread.h"
#include "comm/SocketHelpers.h"
#include "ctl/WorkerPool.h"
#include "platform/UniqueFd.h"

#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <deque>
#include <utility>

namespace {

using Clock = std::chrono::steady_clock;

int MillisecondsLeft(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::max<long long>(left, 0));
}

} // namespace

const char* VersionErrorText(TVersionError error)
{
    switch (error) {
    case TVersionError::None:
        return "";
    case TVersionError::UnknownHost:
        return "unknown host";
    case TVersionError::Refused:
        return "refused";
    case TVersionError::ConnectTimedOut:
        return "connect timed out";
    case TVersionError::TimedOut:
        return "timed out";
    case TVersionError::Closed:
        return "closed";
    case TVersionError::TooLong:
        return "line too long";
    case TVersionError::NotIPv4:
        return "not an IPv4 address";
    case TVersionError::NotAsked:
        break;
    }
    return "not asked";
}

std::string VersionOfLine(std::string line)
{
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return line;
}

TVersionError ReadBoundedLine(int socket, std::string& line, int ms, size_t maxBytes)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(ms, 0));
    line.clear();
    for (;;) {
        const int left = MillisecondsLeft(deadline);
        if (left <= 0)
            return TVersionError::TimedOut;
        const WaitResult wait = WaitReadable(socket, -1, left);
        if (wait == WaitResult::TimedOut)
            continue;
        if (wait != WaitResult::Readable)
            return TVersionError::Closed;
        // Byte by byte, so that nothing behind the line is taken from the connection.
        char byte = 0;
        const ssize_t got = recv(socket, &byte, 1, 0);
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
            continue;
        if (got <= 0)
            return TVersionError::Closed;
        if (byte == '\n')
            return TVersionError::None;
        if (line.size() == maxBytes)
            return TVersionError::TooLong;
        line += byte;
    }
}

TVersionAnswer AskVersion(const std::string& host, const TVersionParams& params)
{
    TVersionAnswer answer;
    std::string status;
    std::string peer;
    UniqueFd connection(ConnectWithTimeout(host, params.Port, status, peer, params.ConnectTimeoutMs));
    if (!connection) {
        if (status.rfind("looking up", 0) == 0)
            answer.Error = TVersionError::UnknownHost;
        else if (status.find("timed out") != std::string::npos)
            answer.Error = TVersionError::ConnectTimedOut;
        else
            answer.Error = TVersionError::Refused;
        return answer;
    }
    if (!SocketSendString(connection.get(), "$$$VER?\n")) {
        answer.Error = TVersionError::Closed;
        return answer;
    }
    answer.Error = ReadBoundedLine(connection.get(), answer.Version, params.ReplyTimeoutMs, MaxVersionLine);
    // A line cut short or never ended is no version; an over-long one keeps its first bytes to show.
    if (answer.Error != TVersionError::None && answer.Error != TVersionError::TooLong)
        answer.Version.clear();
    else if (answer.Error == TVersionError::None)
        answer.Version = VersionOfLine(std::move(answer.Version));
    return answer;
}

std::vector<TVersionAnswer> AskVersions(const std::vector<std::string>& hosts, const TVersionParams& params,
    int parallel, const std::function<void(size_t index, const TVersionAnswer& answer)>& onAnswer,
    const std::function<bool()>& stop)
{
    std::vector<TVersionAnswer> answers(hosts.size());
    TWorkerPoolHooks hooks;
    if (onAnswer)
        hooks.Ended = [&](size_t i) { onAnswer(i, answers[i]); };
    hooks.StartNoMore = stop;
    // Each job writes only its own answer.
    RunWorkerPool(hosts.size(), parallel, [&](size_t i) { answers[i] = AskVersion(hosts[i], params); }, hooks);
    return answers;
}
