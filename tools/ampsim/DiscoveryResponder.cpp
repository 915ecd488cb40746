// The discovery responder: answers the hello for every amplifier (late, silent or with CR LF as
// their faults say) and hands settings datagrams on.

#include "tools/ampsim/SimulatorImpl.h"

#include "comm/Recvthread.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <ifaddrs.h>
#include <linux/filter.h>
#include <memory>
#include <net/if.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace ampsim {

namespace {

    // Address ranges (host order, inclusive) that cover a set of addresses. Gaps of up to two
    // addresses are bridged: the last octets .255 and .0 that amplifier addresses skip.
    std::vector<std::pair<uint32_t, uint32_t>> CoveringRanges(const std::unordered_set<in_addr_t>& addresses)
    {
        std::vector<uint32_t> sorted;
        sorted.reserve(addresses.size());
        for (const in_addr_t a : addresses)
            sorted.push_back(ntohl(a));
        std::sort(sorted.begin(), sorted.end());
        std::vector<std::pair<uint32_t, uint32_t>> ranges;
        for (const uint32_t a : sorted) {
            if (!ranges.empty() && a - ranges.back().second <= 3)
                ranges.back().second = a;
            else
                ranges.emplace_back(a, a);
        }
        return ranges;
    }

    // Every local IPv4 address with the index of the interface that holds it.
    std::unordered_map<in_addr_t, unsigned> ReadLocalInterfaces()
    {
        std::unordered_map<in_addr_t, unsigned> holders;
        ifaddrs* list = nullptr;
        if (::getifaddrs(&list) != 0)
            return holders;
        std::unique_ptr<ifaddrs, decltype(&::freeifaddrs)> owned(list, &::freeifaddrs);
        std::unordered_map<std::string, unsigned> indexes;
        for (const ifaddrs* a = list; a; a = a->ifa_next) {
            if (!a->ifa_addr || a->ifa_addr->sa_family != AF_INET || !a->ifa_name)
                continue;
            // An address label ("dev:label") names its device before the colon.
            std::string device(a->ifa_name);
            device = device.substr(0, device.find(':'));
            auto [known, added] = indexes.try_emplace(device, 0u);
            if (added)
                known->second = ::if_nametoindex(device.c_str());
            if (known->second == 0)
                continue;
            in_addr_t address = reinterpret_cast<const sockaddr_in*>(a->ifa_addr)->sin_addr.s_addr;
            holders.try_emplace(address, known->second);
        }
        return holders;
    }

} // namespace

// Every reply is a broadcast, and the kernel hands a copy of each back to this very socket: at
// tens of thousands of amplifiers those copies fill its buffer and the next hello is dropped.
// A socket filter drops datagrams from the amplifiers' own addresses before they take any room.
// Called with Mutex held.
void Simulator::Impl::FilterOwnDatagrams()
{
    if (!Udp || OwnAddresses.size() == FilteredAddressCount)
        return;
    const auto ranges = CoveringRanges(OwnAddresses);
    constexpr size_t MaxRanges = (BPF_MAXINSNS - 2) / 3;
    if (ranges.size() > MaxRanges)
        return; // too scattered for one program: the service thread still skips them itself
    std::vector<sock_filter> program;
    // The sender's address, from the IP header in front of the datagram.
    program.push_back(BPF_STMT(BPF_LD | BPF_W | BPF_ABS, static_cast<uint32_t>(SKF_NET_OFF + 12)));
    for (const auto& [low, high] : ranges) {
        program.push_back(BPF_JUMP(BPF_JMP | BPF_JGE | BPF_K, low, 0, 2));
        program.push_back(BPF_JUMP(BPF_JMP | BPF_JGT | BPF_K, high, 1, 0));
        program.push_back(BPF_STMT(BPF_RET | BPF_K, 0));
    }
    program.push_back(BPF_STMT(BPF_RET | BPF_K, 0xFFFFFFFFu));
    const sock_fprog attached { static_cast<unsigned short>(program.size()), program.data() };
    if (::setsockopt(Udp.get(), SOL_SOCKET, SO_ATTACH_FILTER, &attached, sizeof attached) == 0)
        FilteredAddressCount = OwnAddresses.size();
}

bool Simulator::Impl::OpenUdp(std::string& error)
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
    // Each reply leaves from its amplifier's own address. A plain socket makes the kernel look
    // that address up among all local ones per datagram, which at tens of thousands of addresses
    // costs more than the rest of the send; a transparent socket is spared the lookup. Only
    // allowed with network administration rights (root in the private network); without them
    // every reply simply pays for the lookup.
    AnySourceAllowed = ::setsockopt(Udp.get(), IPPROTO_IP, IP_TRANSPARENT, &on, sizeof on) == 0;
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
    {
        std::lock_guard lock(Mutex);
        FilterOwnDatagrams();
    }
    return Watch(Udp.get(), EPOLLIN);
}

void Simulator::Impl::ReadDatagrams()
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

void Simulator::Impl::HandleDatagram(const std::string& bytes, const sockaddr_in& from, in_addr destination)
{
    std::vector<size_t> toAnswer;
    {
        std::lock_guard lock(Mutex);
        if (OwnAddress(from.sin_addr.s_addr)) {
            Owner.FOwnRead++;
            return; // our own broadcast, looped back
        }
        if (Log.size() < MaxLoggedDatagrams)
            Log.push_back(Datagram { PeerText(from), bytes });
        std::string text = Trimmed(bytes);
        if (text == Hello) {
            Owner.FHellos++;
            LocalInterfacesStale = true;
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

void Simulator::Impl::AnswerHello(const std::vector<size_t>& amps, const sockaddr_in& from)
{
    auto now = Clock::now();
    const unsigned threads = SendThreadsFor(amps.size());
    std::vector<OutgoingReply> dueNow;
    {
        std::lock_guard lock(Mutex);
        for (size_t i : amps) {
            const auto& state = Amps[i];
            if (state.Config.Silent || state.SilentUntil > now)
                continue;
            int delay = state.Config.ReplyDelayMs;
            if (Opts.JitterMs > 0)
                delay += std::uniform_int_distribution<int>(0, Opts.JitterMs)(Random);
            if (delay <= 0 && threads > 1) {
                dueNow.push_back(PrepareReply(i, from));
            } else if (delay <= 0) {
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
    if (!dueNow.empty())
        SendInParallel(dueNow, threads);
}

unsigned Simulator::Impl::SendThreadsFor(size_t replies) const
{
    const unsigned wanted = Opts.SendThreads > 0 ? Opts.SendThreads
        : replies >= AutoSendThreadsFrom         ? DefaultSendThreads
                                                 : 1u;
    return static_cast<unsigned>(std::clamp<size_t>(replies, 1, wanted));
}

void Simulator::Impl::SendInParallel(const std::vector<OutgoingReply>& replies, unsigned threads)
{
    threads = static_cast<unsigned>(std::min<size_t>(threads, replies.size()));
    // Each thread keeps its own record, so that they never wait for each other.
    std::vector<std::vector<ReplyTime>> sent(threads);
    auto sendSlice = [&](unsigned slice) {
        const size_t end = replies.size() * (slice + 1) / threads;
        for (size_t k = replies.size() * slice / threads; k < end && !Stopping.load(); ++k) {
            const auto leaving = Opts.RecordReplyTimes ? Clock::now() : Clock::time_point {};
            if (!SendPrepared(replies[k]))
                continue;
            Owner.FReplies++;
            if (Opts.RecordReplyTimes)
                sent[slice].push_back(ReplyTime { replies[k].Amp, leaving });
        }
    };
    {
        std::vector<std::jthread> helpers;
        for (unsigned slice = 1; slice < threads; ++slice)
            helpers.emplace_back(sendSlice, slice);
        sendSlice(0);
    }
    if (!Opts.RecordReplyTimes)
        return;
    std::vector<ReplyTime> merged;
    for (auto& slice : sent)
        merged.insert(merged.end(), slice.begin(), slice.end());
    std::stable_sort(
        merged.begin(), merged.end(), [](const ReplyTime& a, const ReplyTime& b) { return a.Sent < b.Sent; });
    std::lock_guard lock(Mutex);
    for (const auto& r : merged) {
        if (SentLog.size() >= MaxRecordedReplyTimes)
            break;
        SentLog.push_back(r);
    }
}

// Called with Mutex held.
std::optional<unsigned> Simulator::Impl::InterfaceHolding(in_addr_t address)
{
    auto holder = LocalInterfaces.find(address);
    if (holder == LocalInterfaces.end() && LocalInterfacesStale) {
        LocalInterfaces = ReadLocalInterfaces();
        LocalInterfacesStale = false;
        holder = LocalInterfaces.find(address);
    }
    if (holder == LocalInterfaces.end())
        return std::nullopt;
    return holder->second;
}

// Called with Mutex held.
Simulator::Impl::OutgoingReply Simulator::Impl::PrepareReply(size_t ampIndex, const sockaddr_in& helloSender)
{
    const Amplifier& amp = Amps[ampIndex].Config;
    OutgoingReply reply;
    reply.Amp = ampIndex;
    reply.Text = ReplyText(amp) + (amp.ReplyCrLf ? "\r\n" : "");
    reply.To = helloSender;
    if (Opts.ReplyBroadcast) {
        reply.To.sin_addr.s_addr = htonl(INADDR_BROADCAST);
        reply.To.sin_port = htons(static_cast<uint16_t>(Opts.DiscoveryPort));
    }
    // The reply leaves from the amplifier's own address, as if each had its own socket.
    reply.FromOwnAddress = ParseIPv4(amp.IP, reply.Source.ipi_spec_dst);
    if (reply.FromOwnAddress && AnySourceAllowed) {
        // The kernel no longer refuses an address this machine does not hold: refuse it here,
        // and name the interface for a broadcast, which the kernel would otherwise find by
        // looking the address up after all.
        const auto holder = InterfaceHolding(reply.Source.ipi_spec_dst.s_addr);
        reply.FromOwnAddress = holder.has_value();
        if (holder && reply.To.sin_addr.s_addr == htonl(INADDR_BROADCAST))
            reply.Source.ipi_ifindex = static_cast<int>(*holder);
    }
    return reply;
}

bool Simulator::Impl::SendPrepared(const OutgoingReply& reply) const
{
    sockaddr_in to = reply.To;
    iovec io { const_cast<char*>(reply.Text.data()), reply.Text.size() };
    msghdr message {};
    message.msg_name = &to;
    message.msg_namelen = sizeof to;
    message.msg_iov = &io;
    message.msg_iovlen = 1;
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
    if (reply.FromOwnAddress) {
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        cmsghdr* c = CMSG_FIRSTHDR(&message);
        c->cmsg_level = IPPROTO_IP;
        c->cmsg_type = IP_PKTINFO;
        c->cmsg_len = CMSG_LEN(sizeof reply.Source);
        std::memcpy(CMSG_DATA(c), &reply.Source, sizeof reply.Source);
    }
    ssize_t sent = ::sendmsg(Udp.get(), &message, MSG_NOSIGNAL);
    if (sent < 0 && message.msg_control) {
        // An address this machine does not hold (a new address after settings): let the
        // kernel pick the source; the reply text carries the address anyway.
        message.msg_control = nullptr;
        message.msg_controllen = 0;
        sent = ::sendmsg(Udp.get(), &message, MSG_NOSIGNAL);
    }
    return sent > 0;
}

// Called with Mutex held.
void Simulator::Impl::SendReply(size_t ampIndex, const sockaddr_in& helloSender)
{
    const OutgoingReply reply = PrepareReply(ampIndex, helloSender);
    const auto leaving = Opts.RecordReplyTimes ? Clock::now() : Clock::time_point {};
    if (!SendPrepared(reply))
        return;
    Owner.FReplies++;
    if (Opts.RecordReplyTimes && SentLog.size() < MaxRecordedReplyTimes)
        SentLog.push_back(ReplyTime { ampIndex, leaving });
}

} // namespace ampsim
