#include "upload/Upload.h"

#include "upload/UploadSource.h"
#include "upload/UploadStop.h"

#include "comm/Recvthread.h"
#include "platform/Sha256.h"
#include "platform/UniqueFd.h"
#include "text/Strtools.h"

#include <linux/sockios.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>

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

// The system's text for an errno value without its line break, or its number.
std::string ErrorReason(int error)
{
    std::string why = SystemErrorText(error);
    while (!why.empty() && (why.back() == '\n' || why.back() == '\r'))
        why.pop_back();
    return why.empty() ? FormatText("error %d", error) : why;
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
        why = ErrorReason(error);
        break;
    }
    return FormatText("Sending failed after %" PRIu64 " of %" PRIu64 " bytes: %s.", sent, total, why.c_str());
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

std::string DescribeTransfer(uint64_t bytes, double seconds)
{
    const double rate = seconds > 0 ? static_cast<double>(bytes) / seconds / 1e6 : 0.0;
    return FormatText("%" PRIu64 " bytes in %.3f s (%.1f MB/s)", bytes, seconds, rate);
}

TUploadResult UploadFile(const TUploadParams& params, const TUploadLog& log, const TUploadProgress& progress,
    TUploadStop* stop, TUploadOutcome* outcome)
{
    TUploadOutcome local;
    TUploadOutcome& out = outcome != nullptr ? *outcome : local;
    out = TUploadOutcome {};
    const auto say = [&](const std::string& line) {
        out.LastLine = line;
        log(line);
    };
    const auto stopped = [&] { return stop != nullptr && stop->Requested(); };

    const std::string& source = params.SourcePath;
    const std::string& address = params.Address;
    const std::string endpoint = address + ":" + std::to_string(params.Port);
    const std::string target = UploadTargetPath(source);

    // Refuse what cannot be announced or read to its end before opening it.
    TUploadSource file;
    const TSourceOpen opened = file.Open(source, MaxUploadSize);
    out.Size = file.Size();
    if (opened == TSourceOpen::TooLarge) {
        say(FormatText("File %s is too large to upload (%" PRIu64 " bytes, at most %" PRIu64 ").",
            source.c_str(), file.Size(), MaxUploadSize));
        return out.Result = TUploadResult::Refused;
    }
    if (opened == TSourceOpen::NotRegular) {
        say(FormatText("File %s is not a regular file (a folder, a device or a pipe) and cannot be uploaded.",
            source.c_str()));
        return out.Result = TUploadResult::Refused;
    }
    if (opened == TSourceOpen::Opened && HoldsControlCharacter(target)) {
        say("The file name holds a line break or another control character and cannot be announced.");
        return out.Result = TUploadResult::Refused;
    }
    if (opened != TSourceOpen::Opened) {
        say(FormatText("Loading file %s failed.", source.c_str()));
        say(ErrorReason(file.Error()));
        return out.Result = TUploadResult::LoadFailed;
    }
    const auto size = static_cast<uint32_t>(file.Size());
    say(FormatText("Loaded file %s (%u bytes).", source.c_str(), static_cast<unsigned>(size)));

    if (stopped()) {
        say("Stopped before connecting.");
        return out.Result = TUploadResult::Stopped;
    }
    UniqueFd connection(OpenTcpConnection(address, params.Port, params.ConnectTimeoutMs));
    if (stopped()) {
        connection.reset();
        say("Stopped while connecting to " + endpoint + ".");
        return out.Result = TUploadResult::Stopped;
    }
    if (!connection) {
        say("Connecting to " + endpoint + " failed.");
        return out.Result = TUploadResult::ConnectFailed;
    }
    say("Connected to " + endpoint + " ...");

    std::optional<TUploadStop::Attachment> attached(std::in_place, stop, connection.get());
    const auto sendLine = [&](const std::string& line) {
        const std::string withEnd = line + "\n";
        size_t sent = 0;
        int error = 0;
        // A peer that is gone shows in the reply that does not come.
        SendAllBytes(connection.get(), withEnd.data(), withEnd.size(), params.StallTimeoutMs, sent, error);
    };
    const auto finish = [&](TUploadResult result) {
        attached.reset();
        connection.reset();
        // Not kept as the last line: the line before it tells how the exchange ended.
        log("Disconnected from " + endpoint + ".");
        return out.Result = result;
    };
    // A reply wait that ended: false when it ended because of a stop, which is logged.
    const auto readReply = [&](std::string& reply, const char* waitingFor) {
        const bool got = ReadUntil(connection.get(), reply, params.ReplyTimeoutMs, '\n');
        if (stopped()) {
            say(FormatText("Stopped while waiting for %s.", waitingFor));
            return std::optional<bool>();
        }
        if (!got)
            say("Reply timeout!");
        return std::optional<bool>(got);
    };

    std::string reply;
    say("$$$VER?");
    sendLine("$$$VER?");
    auto got = readReply(reply, "the version reply");
    if (!got)
        return finish(TUploadResult::Stopped);
    if (!*got)
        return finish(TUploadResult::NoReply);
    out.Version = reply;
    say(reply);

    const std::string announcement = UploadAnnouncement(size, target);
    say(announcement);
    sendLine(announcement);
    got = readReply(reply, "the reply to the announcement");
    if (!got)
        return finish(TUploadResult::Stopped);
    if (!*got)
        return finish(TUploadResult::NoReply);
    say(reply);
    if (reply != "FILE_UPLOAD_START") {
        say("Unexpected Reply!");
        return finish(TUploadResult::Unexpected);
    }

    const auto started = Clock::now();
    const auto seconds = [&] { return std::chrono::duration<double>(Clock::now() - started).count(); };
    uint64_t sentTotal = 0;
    if (progress)
        progress(0, size, 0.0);
    TSendResult sendResult = TSendResult::Done;
    int error = 0;
    const auto buffer = std::make_unique<char[]>(UploadChunkSize);
    std::optional<TSha256> digest;
    if (params.DigestSentBytes)
        digest.emplace();
    for (;;) {
        if (stopped())
            break;
        size_t length = 0;
        const TUploadSource::TRead read = file.Next(buffer.get(), UploadChunkSize, length);
        if (read == TUploadSource::TRead::End) {
            if (digest)
                out.Sha256 = digest->HexDigest();
            break;
        }
        if (read != TUploadSource::TRead::Piece) {
            if (read == TUploadSource::TRead::Failed)
                say(FormatText("Reading file %s failed after %" PRIu64 " of %u bytes: %s.", source.c_str(),
                    file.Offset(), static_cast<unsigned>(size), ErrorReason(file.Error()).c_str()));
            else
                say(FormatText(
                    "File %s changed size while it was sent (%s %u bytes); the upload is incomplete.",
                    source.c_str(), read == TUploadSource::TRead::Grew ? "now more than" : "now fewer than",
                    static_cast<unsigned>(size)));
            return finish(TUploadResult::ReadFailed);
        }
        size_t sent = 0;
        sendResult = SendAllBytes(connection.get(), buffer.get(), length, params.StallTimeoutMs, sent, error);
        sentTotal += sent;
        if (digest)
            digest->Add(buffer.get(), sent);
        if (progress && sent > 0)
            progress(sentTotal, size, seconds());
        if (sendResult != TSendResult::Done)
            break;
    }
    if (sendResult == TSendResult::Done && !stopped()) {
        uint64_t unacknowledged = 0;
        sendResult = WaitUntilAcknowledged(connection.get(), params.StallTimeoutMs, error, unacknowledged);
        // Count only the data known to have arrived (the queue may still hold command bytes too).
        sentTotal -= std::min(sentTotal, unacknowledged);
    }
    out.Sent = sentTotal;
    out.DataSeconds = seconds();
    if (stopped()) {
        say(FormatText("Stopped after %" PRIu64 " of %u bytes.", sentTotal, static_cast<unsigned>(size)));
        return finish(TUploadResult::Stopped);
    }
    if (sendResult != TSendResult::Done) {
        say(DescribeSendFailure(sendResult, error, sentTotal, size, params.StallTimeoutMs));
        return finish(TUploadResult::SendFailed);
    }
    say("Sending done.");

    got = readReply(reply, "the final reply");
    if (!got)
        return finish(TUploadResult::Stopped);
    if (!*got)
        return finish(TUploadResult::NoReply);
    say(reply);
    return finish(TUploadResult::Done);
}
