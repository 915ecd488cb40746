#include "upload/Upload.h"

#include "comm/Recvthread.h"
#include "comm/UniqueFd.h"
#include "text/Strtools.h"

#include <linux/sockios.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

using Clock = std::chrono::steady_clock;

int MillisecondsLeft(Clock::time_point lastProgress, int stallMs)
{
    const auto waited
        = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - lastProgress).count();
    return waited >= stallMs ? 0 : static_cast<int>(stallMs - waited);
}

bool IsPeerGone(int error)
{
    return error == EPIPE || error == ECONNRESET || error == ENOTCONN;
}

int PendingSocketError(int socket)
{
    int error = 0;
    socklen_t length = sizeof error;
    if (getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &length) != 0)
        return errno;
    return error;
}

// A line feed or other control byte in the name would end the announcement early and turn the
// rest of the name into a command of its own.
bool HoldsControlCharacter(const std::string& text)
{
    return std::any_of(
        text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; });
}

std::string DescribeSendFailure(TSendResult result, int error, uint64_t sent, uint64_t total, int stallMs)
{
    std::string why;
    switch (result) {
    case TSendResult::Stalled:
        why = FormatText("the amplifier took no data for %g s", stallMs / 1000.0);
        break;
    case TSendResult::Closed:
        why = "the amplifier closed the connection";
        break;
    default:
        why = SystemErrorText(error);
        while (!why.empty() && (why.back() == '\n' || why.back() == '\r'))
            why.pop_back();
        if (why.empty())
            why = FormatText("error %d", error);
        break;
    }
    return FormatText("Sending failed after %" PRIu64 " of %" PRIu64 " bytes: %s.", sent, total, why.c_str());
}

std::string DescribeSendingDone(uint64_t total, Clock::duration elapsed)
{
    const double seconds = std::chrono::duration<double>(elapsed).count();
    const double rate = seconds > 0 ? static_cast<double>(total) / seconds / 1e6 : 0.0;
    return FormatText("Sending done. %" PRIu64 " bytes in %.3f s (%.1f MB/s).", total, seconds, rate);
}

} // namespace

std::string FileNamePart(const std::string& path)
{
    std::string::size_type start = 0;
    const auto separator = path.find_last_of("/\\");
    if (separator != std::string::npos)
        start = separator + 1;
    else if (path.size() >= 2 && path[1] == ':' && std::isalpha(static_cast<unsigned char>(path[0])))
        start = 2;
    return path.substr(start);
}

std::string UploadTargetPath(const std::string& sourcePath)
{
    return "/tmp/" + FileNamePart(sourcePath);
}

std::string UploadAnnouncement(uint32_t size, const std::string& targetPath)
{
    return FormatText("$$$FILE_UPLOAD:%08x:%s", static_cast<unsigned>(size), targetPath.c_str());
}

TSendResult SendAllBytes(int socket, const void* data, size_t length, int stallMs, size_t& sent, int& error)
{
    sent = 0;
    error = 0;
    const auto* bytes = static_cast<const char*>(data);
    auto lastProgress = Clock::now();
    while (sent < length) {
        const ssize_t n = send(socket, bytes + sent, length - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            sent += static_cast<size_t>(n);
            lastProgress = Clock::now();
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            error = errno;
            return IsPeerGone(error) ? TSendResult::Closed : TSendResult::Failed;
        }
        const int left = MillisecondsLeft(lastProgress, stallMs);
        if (left == 0)
            return TSendResult::Stalled;
        pollfd waitFor { socket, POLLOUT, 0 };
        if (poll(&waitFor, 1, left) < 0 && errno != EINTR) {
            error = errno;
            return TSendResult::Failed;
        }
        // POLLERR or POLLHUP: the next send reports the reason.
    }
    return TSendResult::Done;
}

TSendResult WaitUntilAcknowledged(int socket, int stallMs, int& error, uint64_t& unacknowledged)
{
    error = 0;
    unacknowledged = 0;
    int lastPending = -1;
    auto lastProgress = Clock::now();
    for (;;) {
        int pending = 0;
        if (ioctl(socket, SIOCOUTQ, &pending) != 0) {
            error = errno;
            return TSendResult::Failed;
        }
        if (const int pendingError = PendingSocketError(socket); pendingError != 0) {
            error = pendingError;
            return IsPeerGone(error) ? TSendResult::Closed : TSendResult::Failed;
        }
        if (pending == 0) {
            unacknowledged = 0;
            return TSendResult::Done;
        }
        if (pending != lastPending) {
            lastPending = pending;
            unacknowledged = static_cast<uint64_t>(pending);
            lastProgress = Clock::now();
        }
        const int left = MillisecondsLeft(lastProgress, stallMs);
        if (left == 0)
            return TSendResult::Stalled;
        // No event tells of an acknowledgement; look again shortly. A reset wakes the wait at once.
        pollfd waitFor { socket, 0, 0 };
        if (poll(&waitFor, 1, std::min(left, 1)) > 0 && (waitFor.revents & (POLLERR | POLLHUP))) {
            error = PendingSocketError(socket);
            if (error == 0)
                error = ECONNRESET;
            return IsPeerGone(error) ? TSendResult::Closed : TSendResult::Failed;
        }
    }
}

TUploadResult UploadFile(const TUploadParams& params, const TUploadLog& log, const TUploadProgress& progress)
{
    const std::string& source = params.SourcePath;
    const std::string& address = params.Address;
    const std::string endpoint = address + ":" + std::to_string(params.Port);
    const std::string target = UploadTargetPath(source);

    // Refuse what cannot be announced before reading a byte of it.
    struct stat info { };
    if (stat(source.c_str(), &info) == 0 && S_ISREG(info.st_mode)
        && static_cast<uint64_t>(info.st_size) > MaxUploadSize) {
        log(FormatText("File %s is too large to upload (%" PRIu64 " bytes, at most %" PRIu64 ").", source.c_str(),
            static_cast<uint64_t>(info.st_size), MaxUploadSize));
        return TUploadResult::Refused;
    }
    if (HoldsControlCharacter(target)) {
        log("The file name holds a line break or another control character and cannot be announced.");
        return TUploadResult::Refused;
    }

    uint32_t size = 0;
    TFileBytes bytes(LoadFileBytes(source.c_str(), size));
    if (!bytes) {
        log(FormatText("Loading file %s failed.", source.c_str()));
        return TUploadResult::LoadFailed;
    }
    log(FormatText("Loaded file %s (%u bytes).", source.c_str(), static_cast<unsigned>(size)));

    UniqueFd connection(OpenTcpConnection(address, params.Port, params.ConnectTimeoutMs));
    if (!connection) {
        log("Connecting to " + endpoint + " failed.");
        return TUploadResult::ConnectFailed;
    }
    log("Connected to " + endpoint + " ...");

    const auto sendLine = [&](const std::string& line) {
        const std::string withEnd = line + "\n";
        size_t sent = 0;
        int error = 0;
        // A peer that is gone shows in the reply that does not come.
        SendAllBytes(connection.get(), withEnd.data(), withEnd.size(), params.StallTimeoutMs, sent, error);
    };
    const auto finish = [&](TUploadResult result) {
        connection.reset();
        log("Disconnected from " + endpoint + ".");
        return result;
    };

    std::string reply;
    log("$$$VER?");
    sendLine("$$$VER?");
    if (!ReadUntil(connection.get(), reply, params.ReplyTimeoutMs, '\n')) {
        log("Reply timeout!");
        return finish(TUploadResult::NoReply);
    }
    log(reply);

    const std::string announcement = UploadAnnouncement(size, target);
    log(announcement);
    sendLine(announcement);
    if (!ReadUntil(connection.get(), reply, params.ReplyTimeoutMs, '\n')) {
        log("Reply timeout!");
        return finish(TUploadResult::NoReply);
    }
    log(reply);
    if (reply != "FILE_UPLOAD_START") {
        log("Unexpected Reply!");
        return finish(TUploadResult::Unexpected);
    }

    const auto started = Clock::now();
    uint64_t sentTotal = 0;
    if (progress)
        progress(0, size);
    TSendResult sendResult = TSendResult::Done;
    int error = 0;
    while (sentTotal < size && sendResult == TSendResult::Done) {
        const size_t chunk = std::min<uint64_t>(UploadChunkSize, size - sentTotal);
        size_t sent = 0;
        sendResult = SendAllBytes(
            connection.get(), bytes.get() + sentTotal, chunk, params.StallTimeoutMs, sent, error);
        sentTotal += sent;
        if (progress && sent > 0)
            progress(sentTotal, size);
    }
    if (sendResult == TSendResult::Done) {
        uint64_t unacknowledged = 0;
        sendResult = WaitUntilAcknowledged(connection.get(), params.StallTimeoutMs, error, unacknowledged);
        // Count only the data known to have arrived (the queue may still hold command bytes too).
        sentTotal -= std::min(sentTotal, unacknowledged);
    }
    if (sendResult != TSendResult::Done) {
        log(DescribeSendFailure(sendResult, error, sentTotal, size, params.StallTimeoutMs));
        return finish(TUploadResult::SendFailed);
    }
    log(DescribeSendingDone(size, Clock::now() - started));

    if (!ReadUntil(connection.get(), reply, params.ReplyTimeoutMs, '\n')) {
        log("Reply timeout!");
        return finish(TUploadResult::NoReply);
    }
    log(reply);
    return finish(TUploadResult::Done);
}
