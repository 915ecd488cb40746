#include "ctl/VersionQuery.h"

#include "comm/Recvthread.h"
#include "comm/SocketHelpers.h"
#include "platform/UniqueFd.h"

#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

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
    case TVersionError::NotAsked:
        break;
    }
    return "not asked";
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
    return answer;
}

std::vector<TVersionAnswer> AskVersions(const std::vector<std::string>& hosts, const TVersionParams& params,
    int parallel, const std::function<void(size_t index, const TVersionAnswer& answer)>& onAnswer,
    const std::function<bool()>& stop)
{
    const size_t count = hosts.size();
    std::vector<TVersionAnswer> answers(count);
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<size_t> ended; // guarded by mutex
    size_t next = 0; // guarded by mutex
    bool startNoMore = stop && stop(); // guarded by mutex; a stop asked before the start starts none

    const auto work = [&] {
        for (;;) {
            size_t i = 0;
            {
                std::lock_guard lock(mutex);
                if (startNoMore || next >= count)
                    return;
                i = next++;
            }
            // Each worker writes only the answers it took.
            answers[i] = AskVersion(hosts[i], params);
            std::lock_guard lock(mutex);
            ended.push_back(i);
            changed.notify_one();
        }
    };
    std::vector<std::thread> workers;
    const size_t threads = std::min(count, static_cast<size_t>(std::max(parallel, 1)));
    for (size_t w = 0; w < threads; ++w)
        workers.emplace_back(work);

    size_t endedCount = 0;
    for (;;) {
        std::deque<size_t> now;
        bool allStartedEnded = false;
        {
            std::unique_lock lock(mutex);
            changed.wait_for(lock, std::chrono::milliseconds(100), [&] { return !ended.empty(); });
            now.swap(ended);
            if (stop && stop())
                startNoMore = true;
            endedCount += now.size();
            allStartedEnded = endedCount == count || (startNoMore && endedCount == next);
        }
        for (const size_t i : now)
            if (onAnswer)
                onAnswer(i, answers[i]);
        if (allStartedEnded)
            break;
    }
    for (auto& worker : workers)
        worker.join();
    return answers;
}
