#pragma once
// The amplifier simulator: any number of imitated amplifiers in one process, served by one thread.
// They answer the discovery hello on UDP port 8001, apply settings datagrams addressed to their MAC
// suffix (and reboot), and serve the line-based command port with file uploads. Faults can be
// switched on per amplifier to exercise the program's failure paths.
//
// Sockets are made by Start() in the network namespace of the calling thread (in tests: inside
// TestNetwork::RunInAmp). Discovery answers broadcasts only inside a private test network.

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <netinet/in.h>

namespace ampsim {

struct Amplifier {
    std::string Mac; // the MAC suffix, 12 hexadecimal digits
    char Flag = 0; // reply's flag character; 0: "1" while on DHCP, else "0"
    std::string Name;
    std::string IP;
    std::string NetMask = "255.255.0.0";
    std::string Gateway = "0.0.0.0";
    bool Dhcp = false;
    std::string LeaseIP; // address a DHCP settings datagram gives it; empty: keeps its IP

    // Discovery faults.
    bool Silent = false; // never answers the hello
    int ReplyDelayMs = 0; // answers this late
    bool StaysDown = false; // never answers again after applying settings (a reboot that fails)
    bool ReplyCrLf = false; // ends the reply with "\r\n"

    // Command port faults.
    bool CommandSilent = false; // reads commands, never answers
    int CommandDelayMs = 0; // answers each line this late
    bool CommandCrLf = false; // ends reply lines with "\r\n" instead of "\n"
    long long CloseAfterBytes = -1; // closes the connection after this many upload bytes
    long long ReadBytesPerSecond = 0; // reads upload data this slowly; 0: at once
    // Sends reply lines one byte every this many ms, and never their line feed: the line goes on
    // (its bytes again and again) until the client closes. 0: whole lines at once.
    int CommandTrickleMs = 0;

    // The whole reply to "$$$VER?" (any bytes but the line feed); unset: Options.Version + " " + Mac.
    std::optional<std::string> Version;
};

struct Options {
    bool Discovery = true;
    int DiscoveryPort = 8001;
    bool ReplyBroadcast = true; // replies to 255.255.255.255; false: to the hello's sender
    int JitterMs = 0; // spreads each amplifier's reply over this window after a hello
    int RebootMs = 1500; // silence after applying settings
    bool Command = true;
    std::string CommandAddress = "0.0.0.0";
    int CommandPort = 2500; // 0 picks a free port: see Simulator::CommandPort()
    std::string UploadFolder; // uploads are stored below it as <mac>/<file name>; empty: not stored
    std::string Version = "AMPSIM V1.0";
    bool ChecksumUploads = true; // false: upload bytes are only counted (a sink for benchmarks)
    unsigned Seed = 1; // for the jitter
    // Keeps the time each discovery reply leaves (see Simulator::ReplyTimes); off, nothing is kept.
    bool RecordReplyTimes = false;
    // Threads that send the replies due at once after a hello, each a slice of the amplifiers;
    // 0: one below AutoSendThreadsFrom replies, else DefaultSendThreads.
    unsigned SendThreads = 0;
    // Told of what the amplifiers do (settings applied, commands, uploads), one line each, on the
    // service thread, until Stop (so whatever it uses must outlive the simulator or its Stop).
    std::function<void(const std::string& event)> OnEvent;
};

// One thread alone cannot send a /16's replies at the rate asked once other work shares the cores;
// more threads than cores win the simulator a fair share beside busy processes.
inline constexpr size_t AutoSendThreadsFrom = 4096;
inline constexpr unsigned DefaultSendThreads = 4;

struct Datagram {
    std::string From; // "a.b.c.d:port"
    std::string Text;
};

struct Upload {
    std::string Mac;
    std::string TargetPath;
    uint32_t AnnouncedSize = 0;
    uint64_t Received = 0;
    uint64_t Checksum = 0; // Fnv1a64 of the bytes received
    bool Complete = false; // all announced bytes arrived and the final line was sent
    uint64_t Trailing = 0; // bytes the connection carried after the announced ones
    std::string StoredPath; // where the bytes were written, when an upload folder is set
};

// Amplifier Amp's reply was handed to the network at Sent, taken just before the send. The steady
// clock is CLOCK_MONOTONIC, which every network namespace of one machine shares, so a receiver on
// the other side of a private test network can tell how long the reply took to reach it.
struct ReplyTime {
    size_t Amp = 0;
    std::chrono::steady_clock::time_point Sent;
};

constexpr uint64_t Fnv1aOffset = 14695981039346656037ull;
// FNV-1a 64 over the bytes; pass the previous result as seed to continue a running checksum.
uint64_t Fnv1a64(const void* data, size_t length, uint64_t seed = Fnv1aOffset);
uint64_t Fnv1a64(const std::string& bytes);

// The hello, exactly.
inline const std::string Hello = "0 1 A";
// "mac flag ip netmask gateway name", as an amplifier answers the hello.
std::string ReplyText(const Amplifier& amp);
// count amplifiers from firstIP upwards (last octets .0 and .255 skipped), MAC suffixes from
// macBase upwards, names from names (cycled and numbered when they run out) or "Amp-0001"...
std::vector<Amplifier> MakeAmplifiers(int count, const std::string& firstIP = "198.18.1.1",
    const std::string& netMask = "255.255.0.0", const std::vector<std::string>& names = {},
    uint64_t macBase = 0x0050C2A10001ull);
// The next address after ip with .0 and .255 as last octet skipped; empty when ip is not IPv4.
std::string NextAddress(const std::string& ip);

// One datagram, its sender, and the address it was sent to when the socket asked for IP_PKTINFO.
struct ReceivedDatagram {
    std::string Bytes;
    sockaddr_in From {};
    std::optional<in_addr> To;
};
// Reads one datagram (up to 2048 bytes) from socket; false when none could be read.
bool ReceiveDatagram(int socket, ReceivedDatagram& datagram);

class Simulator {
public:
    Simulator(Options options, std::vector<Amplifier> amplifiers);
    ~Simulator();
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // Opens the sockets in the calling thread's network namespace and starts serving.
    bool Start(std::string& error);
    // Ends the service thread promptly and closes every socket; safe to call twice.
    void Stop();

    // The bound command port (useful with Options::CommandPort 0); 0 before Start.
    int CommandPort() const;
    size_t Count() const;
    // Amplifier i as it is now (after applied settings).
    Amplifier Amp(size_t i) const;
    void Modify(size_t i, const std::function<void(Amplifier&)>& change);
    // True while amplifier i is rebooting after a settings datagram.
    bool Rebooting(size_t i) const;

    // Every datagram received on the discovery port but the amplifiers' own replies (the first
    // 100,000).
    std::vector<Datagram> Received() const;
    // The datagrams that named amplifier i's MAC suffix (settings datagrams), in order.
    std::vector<std::string> SettingsReceived(size_t i) const;
    uint64_t HellosReceived() const { return FHellos.load(); }
    uint64_t RepliesSent() const { return FReplies.load(); }
    // The amplifiers' own broadcasts that came back to the discovery socket and had to be read
    // (the kernel drops them before they take room in it, as far as it can be told how).
    uint64_t OwnDatagramsRead() const { return FOwnRead.load(); }
    std::vector<Upload> Uploads() const;
    // With Options::RecordReplyTimes: every discovery reply sent so far, in sending order (the
    // first 4,000,000).
    std::vector<ReplyTime> ReplyTimes() const;
    // Command connections accepted so far.
    uint64_t Connections() const { return FConnections.load(); }

    // Polls pred (every 5 ms) until it holds or ms passed; for tests.
    static bool WaitUntil(const std::function<bool()>& pred, int ms);

private:
    struct Impl;
    std::unique_ptr<Impl> impl;
    std::atomic<uint64_t> FHellos { 0 };
    std::atomic<uint64_t> FReplies { 0 };
    std::atomic<uint64_t> FOwnRead { 0 };
    std::atomic<uint64_t> FConnections { 0 };
};

} // namespace ampsim
