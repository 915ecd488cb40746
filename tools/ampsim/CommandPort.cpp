// The command port: line commands and file uploads, one connection per client, with the command
// faults (silence, delays, CR LF, early close, slow reading).

#include "tools/ampsim/SimulatorImpl.h"

#include "comm/Recvthread.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ampsim {

bool Simulator::Impl::OpenListen(std::string& error)
{
    in_addr bindAddress {};
    if (!ParseIPv4(Opts.CommandAddress, bindAddress)) {
        error = "bad command address " + Opts.CommandAddress;
        return false;
    }
    Listen = UniqueFd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    int on = 1;
    ::setsockopt(Listen.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in a {};
    a.sin_family = AF_INET;
    a.sin_addr = bindAddress;
    a.sin_port = htons(static_cast<uint16_t>(Opts.CommandPort));
    if (!Listen || ::bind(Listen.get(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0
        || ::listen(Listen.get(), 128) != 0) {
        error = "command port " + Opts.CommandAddress + ":" + std::to_string(Opts.CommandPort) + ": "
            + std::strerror(errno);
        return false;
    }
    socklen_t length = sizeof a;
    ::getsockname(Listen.get(), reinterpret_cast<sockaddr*>(&a), &length);
    BoundCommandPort = ntohs(a.sin_port);
    return Watch(Listen.get(), EPOLLIN);
}

void Simulator::Impl::AcceptConnections()
{
    for (;;) {
        sockaddr_in peer {};
        socklen_t length = sizeof peer;
        UniqueFd socket(::accept4(
            Listen.get(), reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC | SOCK_NONBLOCK));
        if (!socket)
            return;
        Owner.FConnections++;
        sockaddr_in local {};
        length = sizeof local;
        ::getsockname(socket.get(), reinterpret_cast<sockaddr*>(&local), &length);
        Connection connection;
        connection.Id = ++NextConnectionId;
        connection.Amp = AmpAt(local.sin_addr.s_addr);
        Amplifier amp = AmpCopy(connection.Amp);
        if (amp.ReadBytesPerSecond > 0) {
            // A small window makes the sender feel the slow reader soon.
            int small = 4096;
            ::setsockopt(socket.get(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
        }
        Tell(amp.Mac + " command connection from " + PeerText(peer));
        int fd = socket.get();
        connection.Socket = std::move(socket);
        connection.LastRefill = Clock::now();
        Connections.emplace(fd, std::move(connection));
        Watch(fd, EPOLLIN | EPOLLRDHUP);
    }
}

// The amplifier that owns the local address of a connection; the first one otherwise
// (loopback tests reach it through 127.0.0.1).
size_t Simulator::Impl::AmpAt(in_addr_t local)
{
    std::lock_guard lock(Mutex);
    for (size_t i = 0; i < Amps.size(); ++i) {
        in_addr own {};
        if (ParseIPv4(Amps[i].Config.IP, own) && own.s_addr == local)
            return i;
    }
    return 0;
}

Amplifier Simulator::Impl::AmpCopy(size_t i)
{
    std::lock_guard lock(Mutex);
    return i < Amps.size() ? Amps[i].Config : Amplifier {};
}

void Simulator::Impl::Close(int fd)
{
    auto found = Connections.find(fd);
    if (found != Connections.end() && found->second.Uploading) {
        std::lock_guard lock(Mutex);
        const auto& record = UploadLog[found->second.UploadIndex];
        Tell(record.Mac + " upload " + record.TargetPath + " broken off after "
            + std::to_string(record.Received) + " of " + std::to_string(record.AnnouncedSize) + " bytes");
    }
    ::epoll_ctl(Epoll.get(), EPOLL_CTL_DEL, fd, nullptr);
    Connections.erase(fd);
}

void Simulator::Impl::ServeConnection(int fd, uint32_t events)
{
    auto found = Connections.find(fd);
    if (found == Connections.end())
        return;
    auto& c = found->second;
    if (c.ReadPaused) {
        if (events & (EPOLLHUP | EPOLLERR))
            Close(fd);
        return;
    }
    Amplifier amp = AmpCopy(c.Amp);
    char buffer[65536];
    size_t want = sizeof buffer;
    if (c.Uploading && amp.ReadBytesPerSecond > 0) {
        Refill(c, amp);
        want = std::min(want, static_cast<size_t>(c.Tokens));
        if (want == 0) {
            PauseReading(fd, c, amp);
            return;
        }
    }
    if (c.Uploading) {
        want = std::min<size_t>(want, c.Remaining);
        if (amp.CloseAfterBytes >= 0) {
            long long left = amp.CloseAfterBytes - static_cast<long long>(c.UploadBytes);
            if (left <= 0) {
                Close(fd);
                return;
            }
            want = std::min(want, static_cast<size_t>(left));
        }
    }
    ssize_t n = ::recv(fd, buffer, want, 0);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
        Close(fd);
        return;
    }
    if (n < 0)
        return;
    if (c.Uploading && amp.ReadBytesPerSecond > 0)
        c.Tokens -= static_cast<double>(n);
    if (!Consume(fd, std::string(buffer, static_cast<size_t>(n)), amp))
        return;
    auto again = Connections.find(fd);
    if (again != Connections.end() && again->second.Uploading && amp.ReadBytesPerSecond > 0
        && again->second.Tokens < 1)
        PauseReading(fd, again->second, amp);
}

void Simulator::Impl::Refill(Connection& c, const Amplifier& amp)
{
    auto now = Clock::now();
    double seconds = std::chrono::duration<double>(now - c.LastRefill).count();
    c.LastRefill = now;
    double cap = std::max(1.0, static_cast<double>(amp.ReadBytesPerSecond) / 10.0);
    c.Tokens = std::min(cap, c.Tokens + seconds * static_cast<double>(amp.ReadBytesPerSecond));
}

void Simulator::Impl::PauseReading(int fd, Connection& c, const Amplifier& amp)
{
    if (c.ReadPaused)
        return;
    c.ReadPaused = true;
    Rewatch(fd, 0);
    double needed = std::max(1.0, static_cast<double>(amp.ReadBytesPerSecond) / 50.0) - c.Tokens;
    int ms = static_cast<int>(1000.0 * needed / static_cast<double>(amp.ReadBytesPerSecond)) + 1;
    After(ms, [this, fd, id = c.Id] {
        auto found = Connections.find(fd);
        if (found == Connections.end() || found->second.Id != id)
            return;
        found->second.ReadPaused = false;
        Rewatch(fd, EPOLLIN | EPOLLRDHUP);
    });
}

// Handles received bytes; false when the connection was closed.
bool Simulator::Impl::Consume(int fd, std::string bytes, const Amplifier& amp)
{
    while (!bytes.empty()) {
        auto found = Connections.find(fd);
        if (found == Connections.end())
            return false;
        auto& c = found->second;
        if (c.Uploading) {
            size_t take = std::min<size_t>(bytes.size(), c.Remaining);
            if (!TakeUploadBytes(fd, c, bytes.data(), take, amp))
                return false;
            bytes.erase(0, take);
            continue;
        }
        if (c.Uploaded) {
            std::lock_guard lock(Mutex);
            UploadLog[c.UploadIndex].Trailing += bytes.size();
        }
        c.Input += bytes;
        bytes.clear();
        size_t end;
        while ((end = c.Input.find('\n')) != std::string::npos) {
            std::string line = c.Input.substr(0, end);
            c.Input.erase(0, end + 1);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            HandleCommand(fd, c, line, amp);
            if (c.Uploading) {
                // Bytes behind the announcement belong to the file.
                bytes = std::move(c.Input);
                c.Input.clear();
                break;
            }
        }
        if (!c.Uploading && c.Input.size() > MaxLine) {
            Close(fd);
            return false;
        }
    }
    return true;
}

void Simulator::Impl::HandleCommand(int fd, Connection& c, const std::string& line, const Amplifier& amp)
{
    static const std::string uploadPrefix = "$$$FILE_UPLOAD:";
    Tell(amp.Mac + " < " + line);
    if (line == "$$$VER?") {
        Reply(fd, amp.Version ? *amp.Version : Opts.Version + " " + amp.Mac, amp);
    } else if (line.compare(0, uploadPrefix.size(), uploadPrefix) == 0) {
        std::string rest = line.substr(uploadPrefix.size());
        auto colon = rest.find(':');
        uint32_t size = 0;
        if (colon == std::string::npos || !ParseHexSize(rest.substr(0, colon), size)) {
            Reply(fd, "FILE_UPLOAD_ERROR", amp);
            return;
        }
        Upload upload;
        upload.Mac = amp.Mac;
        upload.TargetPath = rest.substr(colon + 1);
        upload.AnnouncedSize = size;
        upload.Checksum = Fnv1aOffset;
        if (!Opts.UploadFolder.empty()) {
            std::string folder = Opts.UploadFolder + "/" + amp.Mac;
            ::mkdir(Opts.UploadFolder.c_str(), 0755);
            ::mkdir(folder.c_str(), 0755);
            upload.StoredPath = folder + "/" + SafeFileName(upload.TargetPath);
            c.Stored
                = UniqueFd(::open(upload.StoredPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
        }
        {
            std::lock_guard lock(Mutex);
            c.UploadIndex = UploadLog.size();
            UploadLog.push_back(upload);
        }
        c.Uploading = true;
        c.Remaining = size;
        c.UploadBytes = 0;
        c.Tokens = 0;
        c.LastRefill = Clock::now();
        Reply(fd, "FILE_UPLOAD_START", amp);
        if (size == 0)
            FinishUpload(fd, c, amp);
    } else {
        Reply(fd, "ERROR unknown command", amp);
    }
}

bool Simulator::Impl::TakeUploadBytes(
    int fd, Connection& c, const char* data, size_t length, const Amplifier& amp)
{
    if (amp.CloseAfterBytes >= 0)
        length = std::min(length,
            static_cast<size_t>(
                std::max<long long>(0, amp.CloseAfterBytes - static_cast<long long>(c.UploadBytes))));
    if (c.Stored && length > 0 && ::write(c.Stored.get(), data, length) != static_cast<ssize_t>(length))
        c.Stored.reset();
    c.Remaining -= static_cast<uint32_t>(length);
    c.UploadBytes += length;
    {
        std::lock_guard lock(Mutex);
        auto& record = UploadLog[c.UploadIndex];
        record.Received += length;
        if (Opts.ChecksumUploads)
            record.Checksum = Fnv1a64(data, length, record.Checksum);
    }
    if (amp.CloseAfterBytes >= 0 && static_cast<long long>(c.UploadBytes) >= amp.CloseAfterBytes
        && c.Remaining > 0) {
        Close(fd);
        return false;
    }
    if (c.Remaining == 0)
        FinishUpload(fd, c, amp);
    return true;
}

void Simulator::Impl::FinishUpload(int fd, Connection& c, const Amplifier& amp)
{
    c.Uploading = false;
    c.Uploaded = true;
    c.Stored.reset();
    {
        std::lock_guard lock(Mutex);
        auto& record = UploadLog[c.UploadIndex];
        record.Complete = true;
        char checksum[17];
        std::snprintf(checksum, sizeof checksum, "%016llx", static_cast<unsigned long long>(record.Checksum));
        Tell(record.Mac + " upload " + record.TargetPath + " complete: " + std::to_string(record.Received)
            + " bytes, fnv1a64 " + checksum
            + (record.StoredPath.empty() ? "" : ", stored as " + record.StoredPath));
    }
    Rewatch(fd, EPOLLIN | EPOLLRDHUP);
    c.ReadPaused = false;
    Reply(fd, "FILE_UPLOAD_DONE", amp);
}

void Simulator::Impl::Reply(int fd, const std::string& line, const Amplifier& amp)
{
    if (amp.CommandSilent)
        return;
    if (amp.CommandTrickleMs > 0) {
        auto found = Connections.find(fd);
        if (found != Connections.end())
            Trickle(fd, found->second.Id, line.empty() ? std::string("?") : line, 0, amp.CommandTrickleMs);
        return;
    }
    std::string bytes = line + (amp.CommandCrLf ? "\r\n" : "\n");
    if (amp.CommandDelayMs <= 0) {
        ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        return;
    }
    // The connection may be gone, or its fd reused by a new one, when the timer fires.
    auto found = Connections.find(fd);
    uint64_t id = found == Connections.end() ? 0 : found->second.Id;
    After(amp.CommandDelayMs, [this, fd, bytes, id] {
        auto now = Connections.find(fd);
        if (now != Connections.end() && now->second.Id == id)
            ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    });
}

void Simulator::Impl::Trickle(int fd, uint64_t id, std::string line, size_t next, int ms)
{
    After(ms, [this, fd, id, line = std::move(line), next, ms]() mutable {
        auto now = Connections.find(fd);
        if (now == Connections.end() || now->second.Id != id)
            return;
        ::send(fd, &line[next], 1, MSG_NOSIGNAL | MSG_DONTWAIT);
        const size_t following = (next + 1) % line.size();
        Trickle(fd, id, std::move(line), following, ms);
    });
}

} // namespace ampsim
