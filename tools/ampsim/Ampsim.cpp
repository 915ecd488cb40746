#include "tools/ampsim/Ampsim.h"
#include "tools/ampsim/SimulatorImpl.h"

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

bool Simulator::Impl::Watch(int fd, uint32_t events)
{
    epoll_event e {};
    e.events = events;
    e.data.fd = fd;
    return ::epoll_ctl(Epoll.get(), EPOLL_CTL_ADD, fd, &e) == 0;
}

void Simulator::Impl::Rewatch(int fd, uint32_t events)
{
    epoll_event e {};
    e.events = events;
    e.data.fd = fd;
    ::epoll_ctl(Epoll.get(), EPOLL_CTL_MOD, fd, &e);
}

bool Simulator::Impl::Open(std::string& error)
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

void Simulator::Impl::Run()
{
    epoll_event events[64];
    while (!Stopping.load()) {
        int timeout = -1;
        if (!Timers.empty()) {
            auto wait
                = std::chrono::ceil<std::chrono::milliseconds>(Timers.begin()->first - Clock::now()).count();
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

void Simulator::Impl::Tell(std::string event)
{
    if (Opts.OnEvent)
        Events.push_back(std::move(event));
}

// Outside the lock, so that a listener may ask the simulator.
void Simulator::Impl::TellEvents()
{
    for (const auto& event : Events)
        Opts.OnEvent(event);
    Events.clear();
}

void Simulator::Impl::RunDueTimers()
{
    auto now = Clock::now();
    while (!Timers.empty() && Timers.begin()->first <= now && !Stopping.load()) {
        auto task = std::move(Timers.begin()->second);
        Timers.erase(Timers.begin());
        task();
    }
}

void Simulator::Impl::After(int ms, std::function<void()> task)
{
    Timers.emplace(Clock::now() + std::chrono::milliseconds(ms), std::move(task));
}

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
