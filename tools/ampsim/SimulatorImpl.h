#pragma once
// Inside the amplifier simulator: the state its service thread keeps and the helpers its roles
// share. Each role lives in a file of its own: the service loop and the public face (Ampsim.cpp),
// the discovery responder (DiscoveryResponder.cpp), the settings datagrams (AmpSettings.cpp) and
// the command port with its uploads (CommandPort.cpp).

#include "tools/ampsim/Ampsim.h"

#include "comm/SocketHelpers.h"
#include "platform/UniqueFd.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <sstream>
#include <thread>
#include <unordered_map>
#include <unordered_set>

namespace ampsim {

using Clock = std::chrono::steady_clock;

inline bool ParseIPv4(const std::string& text, in_addr& address)
{
    return ParseDottedAddress(text, address.s_addr);
}

inline std::string AddressText(in_addr address)
{
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &address, text, sizeof text);
    return text;
}

inline std::vector<std::string> SplitBlanks(const std::string& text)
{
    std::vector<std::string> parts;
    std::istringstream in(text);
    for (std::string part; in >> part;)
        parts.push_back(part);
    return parts;
}

// Strips the trailing line ends and zero bytes a sender might add.
inline std::string Trimmed(std::string text)
{
    while (!text.empty()
        && (text.back() == '\0' || text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
        text.pop_back();
    return text;
}

inline bool ParseHexSize(const std::string& text, uint32_t& size)
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
inline std::string SafeFileName(const std::string& target)
{
    auto slash = target.find_last_of("/\\");
    std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    if (name.empty() || name == "." || name == "..")
        name = "upload.bin";
    return name;
}

inline constexpr size_t MaxLine = 4096;
// A simulator left running for days must not grow without end.
inline constexpr size_t MaxLoggedDatagrams = 100000;
inline constexpr size_t MaxRecordedReplyTimes = 4000000;

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
    size_t FilteredAddressCount = 0; // how many of them the socket filter drops
    // With a transparent discovery socket the kernel takes a reply's source address as given, so
    // the simulator itself checks that the address is this machine's: the local addresses and
    // the interface that holds each, read again after a miss once per hello at most.
    bool AnySourceAllowed = false;
    std::unordered_map<in_addr_t, unsigned> LocalInterfaces;
    bool LocalInterfacesStale = true;
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

    // The service thread (Ampsim.cpp).
    bool Watch(int fd, uint32_t events);
    void Rewatch(int fd, uint32_t events);
    bool Open(std::string& error);
    void Run();
    void Tell(std::string event);

    // Outside the lock, so that a listener may ask the simulator.
    void TellEvents();
    void RunDueTimers();
    void After(int ms, std::function<void()> task);
    // Sends line[next] after ms, then the following bytes (cycling, never a line feed) likewise,
    // while connection id lasts.
    void Trickle(int fd, uint64_t id, std::string line, size_t next, int ms);

    // Discovery (DiscoveryResponder.cpp) and settings datagrams (AmpSettings.cpp).
    bool OpenUdp(std::string& error);

    // Called with Mutex held.
    bool OwnAddress(in_addr_t address) const { return OwnAddresses.count(address) > 0; }

    // Called with Mutex held.
    void RememberAddresses();
    void FilterOwnDatagrams();
    void ReadDatagrams();
    void HandleDatagram(const std::string& bytes, const sockaddr_in& from, in_addr destination);
    void AnswerHello(const std::vector<size_t>& amps, const sockaddr_in& from);

    // A reply made ready to leave: the text and where it goes from where.
    struct OutgoingReply {
        size_t Amp = 0;
        std::string Text;
        sockaddr_in To {};
        in_pktinfo Source {};
        bool FromOwnAddress = false;
    };
    unsigned SendThreadsFor(size_t replies) const;
    // Called with Mutex held.
    OutgoingReply PrepareReply(size_t ampIndex, const sockaddr_in& helloSender);
    // Without the lock: only the socket is used. False when the reply could not be sent.
    bool SendPrepared(const OutgoingReply& reply) const;
    // Sends the replies from several threads at once, without the lock.
    void SendInParallel(const std::vector<OutgoingReply>& replies, unsigned threads);
    // Called with Mutex held.
    void SendReply(size_t ampIndex, const sockaddr_in& helloSender);
    // Called with Mutex held. The interface holding a local address; nullopt when none does.
    std::optional<unsigned> InterfaceHolding(in_addr_t address);

    // Called with Mutex held. "MAC 5 1" (DHCP) or "MAC 5 0 ip netmask gateway".
    void ApplySettings(const std::string& bytes);

    // The command port (CommandPort.cpp).
    bool OpenListen(std::string& error);

    void AcceptConnections();

    // The amplifier that owns the local address of a connection; the first one otherwise
    // (loopback tests reach it through 127.0.0.1).
    size_t AmpAt(in_addr_t local);
    Amplifier AmpCopy(size_t i);
    void Close(int fd);
    void ServeConnection(int fd, uint32_t events);
    void Refill(Connection& c, const Amplifier& amp);
    void PauseReading(int fd, Connection& c, const Amplifier& amp);

    // Handles received bytes; false when the connection was closed.
    bool Consume(int fd, std::string bytes, const Amplifier& amp);
    void HandleCommand(int fd, Connection& c, const std::string& line, const Amplifier& amp);
    bool TakeUploadBytes(int fd, Connection& c, const char* data, size_t length, const Amplifier& amp);
    void FinishUpload(int fd, Connection& c, const Amplifier& amp);
    void Reply(int fd, const std::string& line, const Amplifier& amp);
};

} // namespace ampsim
