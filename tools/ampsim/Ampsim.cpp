#include "tools/ampsim/Ampsim.h"

#include "comm/Recvthread.h"
#include "comm/SocketHelpers.h"
#include "platform/UniqueFd.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <netinet/in.h>
#include <random>
#include <sstream>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <unordered_set>

namespace ampsim {

namespace {

    using Clock = std::chrono::steady_clock;

    bool ParseIPv4(const std::string& text, in_addr& address)
    {
        return ParseDottedAddress(text, address.s_addr);
    }

    std::string AddressText(in_addr address)
    {
        char text[INET_ADDRSTRLEN] = {};
        ::inet_ntop(AF_INET, &address, text, sizeof text);
        return text;
    }

    std::vector<std::string> SplitBlanks(const std::string& text)
    {
        std::vector<std::string> parts;
        std::istringstream in(text);
        for (std::string part; in >> part;)
            parts.push_back(part);
        return parts;
    }

    // Strips the trailing line ends and zero bytes a sender might add.
    std::string Trimmed(std::string text)
    {
        while (!text.empty()
            && (text.back() == '\0' || text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
            text.pop_back();
        return text;
    }

    bool ParseHexSize(const std::string& text, uint32_t& size)
    {
        if (text.empty() || text.size() > 8)
            return false;
        uint32_t value = 0;
        for (char c : text) {
            int digit = (c >= '0' && c <= '9') ? c - '0'
                : (c >= 'a' && c <= 'f')       ? c - 'a' + 10
                : (c >= 'A' && c <= 'F')       ? c - 'A' + 10
                                               : -1;
            if (digit < 0)
                return false;
            value = value * 16 + static_cast<uint32_t>(digit);
        }
        size = value;
        return true;
    }

    // Only the file name of the target path is kept, so an upload cannot write outside its folder.
    std::string SafeFileName(const std::string& target)
    {
        auto slash = target.find_last_of("/\\");
        std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
        if (name.empty() || name == "." || name == "..")
            name = "upload.bin";
        return name;
    }

    constexpr size_t MaxLine = 4096;
    // A simulator left running for days must not grow without end.
    constexpr size_t MaxLoggedDatagrams = 100000;
    constexpr size_t MaxRecordedReplyTimes = 4000000;

} // namespace

uint64_t Fnv1a64(const void* data, size_t length, uint64_t seed)
{
    auto bytes = static_cast<const unsigned char*>(data);
    uint64_t hash = seed;
    for (size_t i = 0; i < length; ++i) {
        hash ^= bytes[i];
        hash *= 1099511628211ull;
    }
    return hash;
}

uint64_t Fnv1a64(const std::string& bytes)
{
    return Fnv1a64(bytes.data(), bytes.size());
}

std::string ReplyText(const Amplifier& amp)
{
    char flag = amp.Flag ? amp.Flag : (amp.Dhcp ? '1' : '0');
    // An empty field would shift the others: the receiver reads blank-separated fields.
    std::string gateway = amp.Gateway.empty() ? "0.0.0.0" : amp.Gateway;
    std::string name = amp.Name.empty() ? "Amplifier" : amp.Name;
    return amp.Mac + " " + flag + " " + amp.IP + " " + amp.NetMask + " " + gateway + " " + name;
}

std::string NextAddress(const std::string& ip)
{
    in_addr a {};
    if (!ParseIPv4(ip, a))
        return {};
    uint32_t host = ntohl(a.s_addr);
    do
        ++host;
    while ((host & 0xff) == 0 || (host & 0xff) == 255);
    a.s_addr = htonl(host);
    return AddressText(a);
}

bool ReceiveDatagram(int socket, ReceivedDatagram& datagram)
{
    char buffer[2048];
    char control[256];
    sockaddr_in from {};
    iovec io { buffer, sizeof buffer };
    msghdr message {};
    message.msg_name = &from;
    message.msg_namelen = sizeof from;
    message.msg_iov = &io;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    const ssize_t n = ::recvmsg(socket, &message, 0);
    if (n < 0)
        return false;
    datagram.Bytes.assign(buffer, static_cast<size_t>(n));
    datagram.From = from;
    datagram.To.reset();
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c))
        if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
            in_pktinfo info {};
            std::memcpy(&info, CMSG_DATA(c), sizeof info);
            datagram.To = info.ipi_addr;
        }
    return true;
}

std::vector<Amplifier> MakeAmplifiers(int count, const std::string& firstIP, const std::string& netMask,
    const std::vector<std::string>& names, uint64_t macBase)
{
    std::vector<Amplifier> amps;
    std::string ip = firstIP;
    for (int i = 0; i < count; ++i) {
        Amplifier amp;
        char mac[13];
        std::snprintf(mac, sizeof mac, "%012llX",
            static_cast<unsigned long long>((macBase + static_cast<uint64_t>(i)) & 0xffffffffffffull));
        amp.Mac = mac;
        amp.IP = ip;
        amp.NetMask = netMask;
        if (names.empty()) {
            char name[32];
            std::snprintf(name, sizeof name, "Amp-%04d", i + 1);
            amp.Name = name;
        } else {
            size_t round = static_cast<size_t>(i) / names.size();
            amp.Name = names[static_cast<size_t>(i) % names.size()];
            if (round > 0)
                amp.Name += "-" + std::to_string(round + 1);
        }
        amps.push_back(amp);
        ip = NextAddress(ip);
    }
    return amps;
}

struct Simulator::Impl {
    struct AmpState {
        Amplifier Config;
        Clock::time_point SilentUntil {};
        std::vector<std::string> Settings;
    };

    struct Connection {
        UniqueFd Socket;
        uint64_t Id = 0;
        size_t Amp = 0;
        std::string Input;
        bool Uploading = false;
        uint32_t Remaining = 0;
        size_t UploadIndex = 0;
        bool Uploaded = false; // an upload ended on this connection: what follows is trailing
        UniqueFd Stored;
        uint64_t UploadBytes = 0;
        double Tokens = 0;
        Clock::time_point LastRefill {};
        bool ReadPaused = false;
    };

    Simulator& Owner;
    Options Opts;
    mutable std::mutex Mutex; // guards Amps, Log, UploadLog and SentLog
    std::vector<AmpState> Amps;
    std::vector<Datagram> Log;
    std::vector<Upload> UploadLog;
    std::vector<ReplyTime> SentLog;

    // Owned by the service thread once it runs.
    UniqueFd Epoll, Wake, Udp, Listen;
    int BoundCommandPort = 0;
    std::thread Thread;
    std::atomic<bool> Stopping { false };
    std::multimap<Clock::time_point, std::function<void()>> Timers;
    std::map<int, Connection> Connections;
    uint64_t NextConnectionId = 0;
    std::unordered_set<in_addr_t> OwnAddresses; // every address an amplifier ever had
    std::vector<std::string> Events; // told to Opts.OnEvent after each turn
    std::mt19937 Random;

    Impl(Simulator& owner, Options options, std::vector<Amplifier> amplifiers)
        : Owner(owner)
        , Opts(std::move(options))
        , Random(Opts.Seed)
    {
        for (auto& a : amplifiers)
            Amps.push_back(AmpState { std::move(a), {}, {} });
        RememberAddresses();
    }

    bool Watch(int fd, uint32_t events)
    {
        epoll_event e {};
        e.events = events;
        e.data.fd = fd;
        return ::epoll_ctl(Epoll.get(), EPOLL_CTL_ADD, fd, &e) == 0;
    }

    void Rewatch(int fd, uint32_t events)
    {
        epoll_event e {};
        e.events = events;
        e.data.fd = fd;
        ::epoll_ctl(Epoll.get(), EPOLL_CTL_MOD, fd, &e);
    }

    bool Open(std::string& error)
    {
        Epoll = UniqueFd(::epoll_create1(EPOLL_CLOEXEC));
        Wake = UniqueFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
        if (!Epoll || !Wake || !Watch(Wake.get(), EPOLLIN)) {
            error = std::string("epoll/eventfd: ") + std::strerror(errno);
            return false;
        }
        if (Opts.Discovery && !OpenUdp(error))
            return false;
        if (Opts.Command && !OpenListen(error))
            return false;
        return true;
    }

    bool OpenUdp(std::string& error)
    {
        Udp = UniqueFd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
        int on = 1;
        // Thousands of replies per hello come back through loopback; room keeps hellos from drowning.
        int buffer = 16 << 20;
        if (!Udp || ::setsockopt(Udp.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0
            || ::setsockopt(Udp.get(), SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0
            || ::setsockopt(Udp.get(), IPPROTO_IP, IP_PKTINFO, &on, sizeof on) != 0) {
            error = std::string("udp socket: ") + std::strerror(errno);
            return false;
        }
        if (::setsockopt(Udp.get(), SOL_SOCKET, SO_RCVBUFFORCE, &buffer, sizeof buffer) != 0)
            ::setsockopt(Udp.get(), SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
        if (::setsockopt(Udp.get(), SOL_SOCKET, SO_SNDBUFFORCE, &buffer, sizeof buffer) != 0)
            ::setsockopt(Udp.get(), SOL_SOCKET, SO_SNDBUF, &buffer, sizeof buffer);
        sockaddr_in a {};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(Opts.DiscoveryPort));
        if (::bind(Udp.get(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
            error = "udp bind to port " + std::to_string(Opts.DiscoveryPort) + ": " + std::strerror(errno);
            return false;
        }
        return Watch(Udp.get(), EPOLLIN);
    }

    bool OpenListen(std::string& error)
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

    void Run()
    {
        epoll_event events[64];
        while (!Stopping.load()) {
            int timeout = -1;
            if (!Timers.empty()) {
                auto wait = std::chrono::ceil<std::chrono::milliseconds>(Timers.begin()->first - Clock::now())
                                .count();
                timeout = static_cast<int>(std::clamp<long long>(wait, 0, 60000));
            }
            int n = ::epoll_wait(Epoll.get(), events, 64, timeout);
            for (int i = 0; i < n && !Stopping.load(); ++i) {
                int fd = events[i].data.fd;
                if (fd == Wake.get())
                    continue;
                if (Udp && fd == Udp.get())
                    ReadDatagrams();
                else if (Listen && fd == Listen.get())
                    AcceptConnections();
                else
                    ServeConnection(fd, events[i].events);
            }
            RunDueTimers();
            TellEvents();
        }
        Connections.clear();
        Timers.clear();
    }

    void Tell(std::string event)
    {
        if (Opts.OnEvent)
            Events.push_back(std::move(event));
    }

    // Outside the lock, so that a listener may ask the simulator.
    void TellEvents()
    {
        for (const auto& event : Events)
            Opts.OnEvent(event);
        Events.clear();
    }

    void RunDueTimers()
    {
        auto now = Clock::now();
        while (!Timers.empty() && Timers.begin()->first <= now && !Stopping.load()) {
            auto task = std::move(Timers.begin()->second);
            Timers.erase(Timers.begin());
            task();
        }
    }

    void After(int ms, std::function<void()> task)
    {
        Timers.emplace(Clock::now() + std::chrono::milliseconds(ms), std::move(task));
    }

    // ---- discovery ----

    // Called with Mutex held.
    bool OwnAddress(in_addr_t address) const { return OwnAddresses.count(address) > 0; }

    // Called with Mutex held.
    void RememberAddresses()
    {
        for (const auto& a : Amps) {
            in_addr own {};
            if (ParseIPv4(a.Config.IP, own))
                OwnAddresses.insert(own.s_addr);
        }
    }

    void ReadDatagrams()
    {
        // Without its destination a datagram counts as a broadcast.
        in_addr broadcast {};
        broadcast.s_addr = htonl(INADDR_BROADCAST);
        ReceivedDatagram datagram;
        for (int budget = 0; budget < 4096; ++budget) {
            if (!ReceiveDatagram(Udp.get(), datagram))
                return;
            HandleDatagram(datagram.Bytes, datagram.From, datagram.To.value_or(broadcast));
        }
    }

    void HandleDatagram(const std::string& bytes, const sockaddr_in& from, in_addr destination)
    {
        std::vector<size_t> toAnswer;
        {
            std::lock_guard lock(Mutex);
            if (OwnAddress(from.sin_addr.s_addr))
                return; // our own broadcast, looped back
            if (Log.size() < MaxLoggedDatagrams)
                Log.push_back(Datagram { PeerText(from), bytes });
            std::string text = Trimmed(bytes);
            if (text == Hello) {
                Owner.FHellos++;
                // A hello sent to one amplifier's own address is for that one alone.
                bool unicast = OwnAddress(destination.s_addr);
                for (size_t i = 0; i < Amps.size(); ++i) {
                    in_addr own {};
                    if (unicast && !(ParseIPv4(Amps[i].Config.IP, own) && own.s_addr == destination.s_addr))
                        continue;
                    toAnswer.push_back(i);
                }
            } else {
                ApplySettings(bytes);
                return;
            }
        }
        AnswerHello(toAnswer, from);
    }

    void AnswerHello(const std::vector<size_t>& amps, const sockaddr_in& from)
    {
        auto now = Clock::now();
        std::lock_guard lock(Mutex);
        for (size_t i : amps) {
            const auto& state = Amps[i];
            if (state.Config.Silent || state.SilentUntil > now)
                continue;
            int delay = state.Config.ReplyDelayMs;
            if (Opts.JitterMs > 0)
                delay += std::uniform_int_distribution<int>(0, Opts.JitterMs)(Random);
            if (delay <= 0) {
                SendReply(i, from);
            } else {
                After(delay, [this, i, from] {
                    std::lock_guard inner(Mutex);
                    if (!Amps[i].Config.Silent && Amps[i].SilentUntil <= Clock::now())
                        SendReply(i, from);
                });
            }
        }
    }

    // Called with Mutex held.
    void SendReply(size_t ampIndex, const sockaddr_in& helloSender)
    {
        const Amplifier& amp = Amps[ampIndex].Config;
        std::string text = ReplyText(amp) + (amp.ReplyCrLf ? "\r\n" : "");
        sockaddr_in to = helloSender;
        if (Opts.ReplyBroadcast) {
            to.sin_addr.s_addr = htonl(INADDR_BROADCAST);
            to.sin_port = htons(static_cast<uint16_t>(Opts.DiscoveryPort));
        }
        iovec io { text.data(), text.size() };
        msghdr message {};
        message.msg_name = &to;
        message.msg_namelen = sizeof to;
        message.msg_iov = &io;
        message.msg_iovlen = 1;
        // The reply leaves from the amplifier's own address, as if each had its own socket.
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
        in_pktinfo info {};
        if (ParseIPv4(amp.IP, info.ipi_spec_dst)) {
            message.msg_control = control;
            message.msg_controllen = sizeof control;
            cmsghdr* c = CMSG_FIRSTHDR(&message);
            c->cmsg_level = IPPROTO_IP;
            c->cmsg_type = IP_PKTINFO;
            c->cmsg_len = CMSG_LEN(sizeof info);
            std::memcpy(CMSG_DATA(c), &info, sizeof info);
        }
        const auto leaving = Opts.RecordReplyTimes ? Clock::now() : Clock::time_point {};
        ssize_t sent = ::sendmsg(Udp.get(), &message, MSG_NOSIGNAL);
        if (sent < 0 && message.msg_control) {
            // An address this machine does not hold (a new address after settings): let the
            // kernel pick the source; the reply text carries the address anyway.
            message.msg_control = nullptr;
            message.msg_controllen = 0;
            sent = ::sendmsg(Udp.get(), &message, MSG_NOSIGNAL);
        }
        if (sent <= 0)
            return;
        Owner.FReplies++;
        if (Opts.RecordReplyTimes && SentLog.size() < MaxRecordedReplyTimes)
            SentLog.push_back(ReplyTime { ampIndex, leaving });
    }

    // Called with Mutex held. "MAC 5 1" (DHCP) or "MAC 5 0 ip netmask gateway".
    void ApplySettings(const std::string& bytes)
    {
        auto parts = SplitBlanks(bytes);
        if (parts.empty())
            return;
        for (size_t i = 0; i < Amps.size(); ++i) {
            auto& state = Amps[i];
            if (state.Config.Mac != parts[0])
                continue;
            state.Settings.push_back(bytes);
            if (parts.size() < 3 || parts[1] != "5")
                continue;
            auto& amp = state.Config;
            if (parts[2] == "1") {
                amp.Dhcp = true;
                if (!amp.LeaseIP.empty())
                    amp.IP = amp.LeaseIP;
            } else if (parts[2] == "0" && parts.size() >= 5) {
                in_addr ip {}, mask {};
                in_addr gateway {};
                std::string gatewayText = parts.size() >= 6 ? parts[5] : "0.0.0.0";
                // A real device refuses what it cannot use; so does this one (no reboot).
                if (!ParseIPv4(parts[3], ip) || !ParseIPv4(parts[4], mask)
                    || !ParseIPv4(gatewayText, gateway)) {
                    Tell(amp.Mac + " refuses settings \"" + bytes + "\"");
                    continue;
                }
                amp.Dhcp = false;
                amp.IP = parts[3];
                amp.NetMask = parts[4];
                amp.Gateway = gatewayText;
            } else {
                Tell(amp.Mac + " ignores \"" + bytes + "\"");
                continue;
            }
            state.SilentUntil = Clock::now() + std::chrono::milliseconds(Opts.RebootMs);
            Tell(amp.Mac + " applies \"" + bytes + "\" and reboots for " + std::to_string(Opts.RebootMs)
                + " ms");
            After(Opts.RebootMs, [this, i] {
                std::lock_guard lock(Mutex);
                Tell(Amps[i].Config.Mac + " is back: " + ReplyText(Amps[i].Config));
            });
        }
        RememberAddresses();
    }

    // ---- command port ----

    void AcceptConnections()
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
    size_t AmpAt(in_addr_t local)
    {
        std::lock_guard lock(Mutex);
        for (size_t i = 0; i < Amps.size(); ++i) {
            in_addr own {};
            if (ParseIPv4(Amps[i].Config.IP, own) && own.s_addr == local)
                return i;
        }
        return 0;
    }

    Amplifier AmpCopy(size_t i)
    {
        std::lock_guard lock(Mutex);
        return i < Amps.size() ? Amps[i].Config : Amplifier {};
    }

    void Close(int fd)
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

    void ServeConnection(int fd, uint32_t events)
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

    void Refill(Connection& c, const Amplifier& amp)
    {
        auto now = Clock::now();
        double seconds = std::chrono::duration<double>(now - c.LastRefill).count();
        c.LastRefill = now;
        double cap = std::max(1.0, static_cast<double>(amp.ReadBytesPerSecond) / 10.0);
        c.Tokens = std::min(cap, c.Tokens + seconds * static_cast<double>(amp.ReadBytesPerSecond));
    }

    void PauseReading(int fd, Connection& c, const Amplifier& amp)
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
    bool Consume(int fd, std::string bytes, const Amplifier& amp)
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

    void HandleCommand(int fd, Connection& c, const std::string& line, const Amplifier& amp)
    {
        static const std::string uploadPrefix = "$$$FILE_UPLOAD:";
        Tell(amp.Mac + " < " + line);
        if (line == "$$$VER?") {
            Reply(fd, Opts.Version + " " + amp.Mac, amp);
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
                c.Stored = UniqueFd(
                    ::open(upload.StoredPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
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

    bool TakeUploadBytes(int fd, Connection& c, const char* data, size_t length, const Amplifier& amp)
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

    void FinishUpload(int fd, Connection& c, const Amplifier& amp)
    {
        c.Uploading = false;
        c.Uploaded = true;
        c.Stored.reset();
        {
            std::lock_guard lock(Mutex);
            auto& record = UploadLog[c.UploadIndex];
            record.Complete = true;
            char checksum[17];
            std::snprintf(
                checksum, sizeof checksum, "%016llx", static_cast<unsigned long long>(record.Checksum));
            Tell(record.Mac + " upload " + record.TargetPath + " complete: " + std::to_string(record.Received)
                + " bytes, fnv1a64 " + checksum
                + (record.StoredPath.empty() ? "" : ", stored as " + record.StoredPath));
        }
        Rewatch(fd, EPOLLIN | EPOLLRDHUP);
        c.ReadPaused = false;
        Reply(fd, "FILE_UPLOAD_DONE", amp);
    }

    void Reply(int fd, const std::string& line, const Amplifier& amp)
    {
        if (amp.CommandSilent)
            return;
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
};

Simulator::Simulator(Options options, std::vector<Amplifier> amplifiers)
    : impl(std::make_unique<Impl>(*this, std::move(options), std::move(amplifiers)))
{
}

Simulator::~Simulator()
{
    Stop();
}

bool Simulator::Start(std::string& error)
{
    if (impl->Thread.joinable()) {
        error = "already started";
        return false;
    }
    if (!impl->Open(error))
        return false;
    impl->Thread = std::thread([this] { impl->Run(); });
    return true;
}

void Simulator::Stop()
{
    if (!impl->Thread.joinable())
        return;
    impl->Stopping.store(true);
    uint64_t one = 1;
    [[maybe_unused]] auto n = ::write(impl->Wake.get(), &one, sizeof one);
    impl->Thread.join();
    impl->Udp.reset();
    impl->Listen.reset();
}

int Simulator::CommandPort() const
{
    return impl->BoundCommandPort;
}

size_t Simulator::Count() const
{
    std::lock_guard lock(impl->Mutex);
    return impl->Amps.size();
}

Amplifier Simulator::Amp(size_t i) const
{
    std::lock_guard lock(impl->Mutex);
    return i < impl->Amps.size() ? impl->Amps[i].Config : Amplifier {};
}

void Simulator::Modify(size_t i, const std::function<void(Amplifier&)>& change)
{
    std::lock_guard lock(impl->Mutex);
    if (i < impl->Amps.size())
        change(impl->Amps[i].Config);
    impl->RememberAddresses();
}

bool Simulator::Rebooting(size_t i) const
{
    std::lock_guard lock(impl->Mutex);
    return i < impl->Amps.size() && impl->Amps[i].SilentUntil > Clock::now();
}

std::vector<Datagram> Simulator::Received() const
{
    std::lock_guard lock(impl->Mutex);
    return impl->Log;
}

std::vector<std::string> Simulator::SettingsReceived(size_t i) const
{
    std::lock_guard lock(impl->Mutex);
    return i < impl->Amps.size() ? impl->Amps[i].Settings : std::vector<std::string> {};
}

std::vector<Upload> Simulator::Uploads() const
{
    std::lock_guard lock(impl->Mutex);
    return impl->UploadLog;
}

std::vector<ReplyTime> Simulator::ReplyTimes() const
{
    std::lock_guard lock(impl->Mutex);
    return impl->SentLog;
}

bool Simulator::WaitUntil(const std::function<bool()>& pred, int ms)
{
    auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    while (!pred()) {
        if (Clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

} // namespace ampsim
