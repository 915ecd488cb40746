// ampsim: serves simulated amplifiers until SIGINT or SIGTERM. Run it inside the amplifier side of
// the private test network (scripts/testnet.sh exec NAME amp ampsim ...).

#include "tools/ampsim/Ampsim.h"
#include "tools/ampsim/Churn.h"
#include "tools/ampsim/Flood.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

const char* const Usage = R"(usage: ampsim [options]
Simulated amplifiers: answer the discovery hello "0 1 A", apply settings datagrams, serve the
command port ("$$$VER?", "$$$FILE_UPLOAD:%08x:%s"). Ends on SIGINT/SIGTERM.

Amplifiers:
  --count N               number of amplifiers (default 1)
  --first-ip IP           address of the first; the others count up (default 198.18.1.1)
  --netmask MASK          (default 255.255.0.0)
  --gateway IP            (default 0.0.0.0)
  --names A,B,C           names, cycled (default Amp-0001, Amp-0002, ...)
  --mac-base HEX          MAC suffix of the first, 12 hex digits (default 0050C2A10001)
  --flag C                flag character of the reply (default: 1 on DHCP, else 0)
  --dhcp                  amplifiers start on DHCP
  --lease-first IP        a DHCP settings datagram gives amplifier i this address + i
Discovery:
  --port N                discovery UDP port (default 8001)
  --unicast               reply to the hello's sender instead of 255.255.255.255
  --jitter MS             spread each amplifier's reply over MS after a hello
  --reboot MS             silence after new settings (default 1500)
  --send-threads N        threads sending the replies due at once after a hello, 1 to 64
                          (default 1 below 4096 replies, else 4)
  --no-discovery          no UDP service
Command port:
  --command-address IP    bind address (default 0.0.0.0: each amplifier on its own address)
  --command-port N        (default 2500; 0 picks a free one)
  --upload-folder DIR     store uploads as DIR/<mac>/<file name>
  --version-text TEXT     start of the "$$$VER?" reply (default "AMPSIM V1.0")
  --version-file FILE     the whole "$$$VER?" reply of amplifier i is line i of FILE (bytes as
                          they are, CR too), the lines cycled
  --count-only            count upload bytes without checksumming them (a sink for benchmarks)
  --no-command            no TCP service
Faults (for all amplifiers, or those of --fault-amps 1,3,... counted from 1):
  --silent                never answer the hello
  --reply-delay MS        answer the hello late
  --reply-crlf            end replies with CR LF
  --cmd-silent            never answer on the command port
  --cmd-delay MS          answer command lines late
  --cmd-crlf              end command replies with CR LF
  --close-after BYTES     close an upload connection after BYTES data bytes
  --read-rate BYTES       read upload data at BYTES per second
  --cmd-trickle MS        send command replies one byte every MS, never ending the line
Churn (amplifiers coming and going, for soak tests):
  --churn-period MS       every MS silence --churn-count amplifiers picked at random
  --churn-count N         (default 10)
  --churn-silent MS       how long each stays silent (default 3000)
  --churn-change PERCENT  of those coming back, with another address or name (default 20)
Flood (a hostile host; only inside the private test network):
  --flood RATE            send RATE junk datagrams per second to the discovery port: random
                          bytes of every length, empty and over-long ones, and six-field replies
                          with markup, shell text, control bytes and bytes >= 0x80
  --flood-to IP           where the junk goes (default 255.255.255.255)
  With --count 0 only the flood runs.
Other:
  --seed N                random seed for the jitter
  --reply-times FILE      on exit, write one line per discovery reply sent: its MAC and the time
                          just before it left (CLOCK_MONOTONIC, nanoseconds)
  --quiet                 print nothing of what the amplifiers do (settings, commands, uploads)
  --help
)";

std::vector<std::string> SplitCommas(const std::string& text)
{
    std::vector<std::string> parts;
    std::stringstream in(text);
    for (std::string part; std::getline(in, part, ',');)
        if (!part.empty())
            parts.push_back(part);
    return parts;
}

bool ToNumber(const std::string& text, long long& value)
{
    char* end = nullptr;
    errno = 0;
    value = std::strtoll(text.c_str(), &end, 10);
    return !text.empty() && *end == '\0' && errno == 0 && value >= 0;
}

struct Settings {
    ampsim::Options Options;
    int Count = 1;
    std::string FirstIP = "198.18.1.1";
    std::string NetMask = "255.255.0.0";
    std::string Gateway = "0.0.0.0";
    std::vector<std::string> Names;
    uint64_t MacBase = 0x0050C2A10001ull;
    char Flag = 0;
    bool Dhcp = false;
    std::string LeaseFirst;
    std::set<int> FaultAmps;
    ampsim::Amplifier Faults;
    std::vector<std::string> Versions; // cycled over the amplifiers
    bool Quiet = false;
    std::string ReplyTimesPath;
    ampsim::FloodOptions Flood { 0 };
    ampsim::ChurnOptions Churn;
};

int Fail(const std::string& message)
{
    std::fprintf(stderr, "ampsim: %s (see --help)\n", message.c_str());
    return 2;
}

// Returns 0 to go on, otherwise the exit code.
int ParseArguments(int argc, char** argv, Settings& s)
{
    for (int i = 1; i < argc; ++i) {
        std::string option = argv[i];
        auto next = [&](std::string& value) {
            if (i + 1 >= argc)
                return false;
            value = argv[++i];
            return true;
        };
        auto number = [&](long long& value) {
            std::string text;
            return next(text) && ToNumber(text, value);
        };
        std::string text;
        long long n = 0;
        if (option == "--help" || option == "-h") {
            std::fputs(Usage, stdout);
            return -1;
        } else if (option == "--count" && number(n)) {
            s.Count = static_cast<int>(n);
        } else if (option == "--first-ip" && next(s.FirstIP)) {
        } else if (option == "--netmask" && next(s.NetMask)) {
        } else if (option == "--gateway" && next(s.Gateway)) {
        } else if (option == "--names" && next(text)) {
            s.Names = SplitCommas(text);
        } else if (option == "--mac-base" && next(text)) {
            char* end = nullptr;
            s.MacBase = std::strtoull(text.c_str(), &end, 16);
            if (text.empty() || *end)
                return Fail("bad --mac-base " + text);
        } else if (option == "--flag" && next(text) && text.size() == 1) {
            s.Flag = text[0];
        } else if (option == "--dhcp") {
            s.Dhcp = true;
        } else if (option == "--lease-first" && next(s.LeaseFirst)) {
        } else if (option == "--port" && number(n)) {
            s.Options.DiscoveryPort = static_cast<int>(n);
        } else if (option == "--unicast") {
            s.Options.ReplyBroadcast = false;
        } else if (option == "--jitter" && number(n)) {
            s.Options.JitterMs = static_cast<int>(n);
        } else if (option == "--send-threads" && number(n) && n >= 1 && n <= 64) {
            s.Options.SendThreads = static_cast<unsigned>(n);
        } else if (option == "--reboot" && number(n)) {
            s.Options.RebootMs = static_cast<int>(n);
        } else if (option == "--no-discovery") {
            s.Options.Discovery = false;
        } else if (option == "--command-address" && next(s.Options.CommandAddress)) {
        } else if (option == "--command-port" && number(n)) {
            s.Options.CommandPort = static_cast<int>(n);
        } else if (option == "--upload-folder" && next(s.Options.UploadFolder)) {
        } else if (option == "--version-text" && next(s.Options.Version)) {
        } else if (option == "--version-file" && next(text)) {
            std::ifstream in(text, std::ios::binary);
            for (std::string line; std::getline(in, line);)
                s.Versions.push_back(line);
            if (!in.eof() || s.Versions.empty())
                return Fail("cannot read versions from " + text);
        } else if (option == "--count-only") {
            s.Options.ChecksumUploads = false;
        } else if (option == "--no-command") {
            s.Options.Command = false;
        } else if (option == "--fault-amps" && next(text)) {
            for (const auto& part : SplitCommas(text))
                s.FaultAmps.insert(std::atoi(part.c_str()));
        } else if (option == "--silent") {
            s.Faults.Silent = true;
        } else if (option == "--reply-delay" && number(n)) {
            s.Faults.ReplyDelayMs = static_cast<int>(n);
        } else if (option == "--reply-crlf") {
            s.Faults.ReplyCrLf = true;
        } else if (option == "--cmd-silent") {
            s.Faults.CommandSilent = true;
        } else if (option == "--cmd-delay" && number(n)) {
            s.Faults.CommandDelayMs = static_cast<int>(n);
        } else if (option == "--cmd-crlf") {
            s.Faults.CommandCrLf = true;
        } else if (option == "--close-after" && number(n)) {
            s.Faults.CloseAfterBytes = n;
        } else if (option == "--read-rate" && number(n)) {
            s.Faults.ReadBytesPerSecond = n;
        } else if (option == "--cmd-trickle" && number(n) && n > 0) {
            s.Faults.CommandTrickleMs = static_cast<int>(n);
        } else if (option == "--reply-times" && next(s.ReplyTimesPath)) {
            s.Options.RecordReplyTimes = true;
        } else if (option == "--flood" && number(n) && n > 0) {
            s.Flood.Rate = n;
        } else if (option == "--flood-to" && next(s.Flood.Target)) {
        } else if (option == "--churn-period" && number(n) && n > 0) {
            s.Churn.PeriodMs = static_cast<int>(n);
        } else if (option == "--churn-count" && number(n)) {
            s.Churn.PerPeriod = static_cast<size_t>(n);
        } else if (option == "--churn-silent" && number(n)) {
            s.Churn.SilentMs = static_cast<int>(n);
        } else if (option == "--churn-change" && number(n) && n <= 100) {
            s.Churn.ChangePercent = static_cast<int>(n);
        } else if (option == "--quiet") {
            s.Quiet = true;
        } else if (option == "--seed" && number(n)) {
            s.Options.Seed = static_cast<unsigned>(n);
        } else {
            return Fail("unknown or incomplete option " + option);
        }
    }
    if (ampsim::NextAddress(s.FirstIP).empty())
        return Fail("bad --first-ip " + s.FirstIP);
    return 0;
}

std::vector<ampsim::Amplifier> BuildAmplifiers(const Settings& s)
{
    auto amps = ampsim::MakeAmplifiers(s.Count, s.FirstIP, s.NetMask, s.Names, s.MacBase);
    std::string lease = s.LeaseFirst;
    for (size_t i = 0; i < amps.size(); ++i) {
        auto& amp = amps[i];
        amp.Gateway = s.Gateway;
        amp.Flag = s.Flag;
        amp.Dhcp = s.Dhcp;
        if (!lease.empty()) {
            amp.LeaseIP = lease;
            lease = ampsim::NextAddress(lease);
        }
        if (s.FaultAmps.empty() || s.FaultAmps.count(static_cast<int>(i) + 1)) {
            amp.Silent = s.Faults.Silent;
            amp.ReplyDelayMs = s.Faults.ReplyDelayMs;
            amp.ReplyCrLf = s.Faults.ReplyCrLf;
            amp.CommandSilent = s.Faults.CommandSilent;
            amp.CommandDelayMs = s.Faults.CommandDelayMs;
            amp.CommandCrLf = s.Faults.CommandCrLf;
            amp.CloseAfterBytes = s.Faults.CloseAfterBytes;
            amp.ReadBytesPerSecond = s.Faults.ReadBytesPerSecond;
            amp.CommandTrickleMs = s.Faults.CommandTrickleMs;
        }
        if (!s.Versions.empty())
            amp.Version = s.Versions[i % s.Versions.size()];
    }
    return amps;
}

void PrintServing(const ampsim::Simulator& simulator, const ampsim::Options& options)
{
    size_t count = simulator.Count();
    std::printf("ampsim: %zu amplifier(s)", count);
    if (options.Discovery)
        std::printf(", discovery on UDP port %d (%s replies)", options.DiscoveryPort,
            options.ReplyBroadcast ? "broadcast" : "unicast");
    if (options.Command)
        std::printf(", command port %s:%d", options.CommandAddress.c_str(), simulator.CommandPort());
    std::printf("\n");
    for (size_t i = 0; i < count && i < 20; ++i)
        std::printf("  %s\n", ampsim::ReplyText(simulator.Amp(i)).c_str());
    if (count > 20)
        std::printf("  ... %zu more\n", count - 20);
    std::fflush(stdout);
}

bool WriteReplyTimes(const ampsim::Simulator& simulator, const std::string& path)
{
    std::vector<std::string> macs;
    for (size_t i = 0; i < simulator.Count(); ++i)
        macs.push_back(simulator.Amp(i).Mac);
    std::ofstream file(path);
    for (const auto& reply : simulator.ReplyTimes())
        file << macs[reply.Amp] << ' '
             << std::chrono::duration_cast<std::chrono::nanoseconds>(reply.Sent.time_since_epoch()).count()
             << '\n';
    file.close();
    return !file.fail();
}

} // namespace

int main(int argc, char** argv)
{
    Settings settings;
    if (int rc = ParseArguments(argc, argv, settings); rc != 0)
        return rc < 0 ? 0 : rc;

    // Blocked before the service thread starts, so that only sigwait below sees them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    if (!settings.Quiet)
        settings.Options.OnEvent = [](const std::string& event) {
            std::printf("ampsim: %s\n", event.c_str());
            std::fflush(stdout);
        };
    ampsim::Simulator simulator(settings.Options, BuildAmplifiers(settings));
    std::string error;
    const bool serving = settings.Count > 0 || settings.Flood.Rate == 0;
    if (serving && !simulator.Start(error)) {
        std::fprintf(stderr, "ampsim: %s\n", error.c_str());
        return 1;
    }
    if (serving)
        PrintServing(simulator, settings.Options);
    settings.Flood.Port = settings.Options.DiscoveryPort;
    settings.Flood.Seed = settings.Options.Seed;
    ampsim::Flooder flooder(settings.Flood);
    if (settings.Flood.Rate > 0) {
        if (!flooder.Start(error)) {
            std::fprintf(stderr, "ampsim: %s\n", error.c_str());
            return 1;
        }
        std::printf("ampsim: flooding %s:%d with %lld junk datagrams/s\n", settings.Flood.Target.c_str(),
            settings.Flood.Port, settings.Flood.Rate);
        std::fflush(stdout);
    }

    settings.Churn.Seed = settings.Options.Seed;
    ampsim::Churner churner(simulator, settings.Churn);
    if (serving && settings.Churn.PeriodMs > 0) {
        churner.Start();
        std::printf("ampsim: silencing %zu amplifier(s) every %d ms for %d ms, %d%% back changed\n",
            settings.Churn.PerPeriod, settings.Churn.PeriodMs, settings.Churn.SilentMs,
            settings.Churn.ChangePercent);
        std::fflush(stdout);
    }

    int signal = 0;
    sigwait(&stopSignals, &signal);
    churner.Stop();
    simulator.Stop();
    flooder.Stop();
    if (settings.Flood.Rate > 0)
        std::printf("ampsim: %llu junk datagram(s) sent\n", static_cast<unsigned long long>(flooder.Sent()));
    const bool timesWritten
        = settings.ReplyTimesPath.empty() || WriteReplyTimes(simulator, settings.ReplyTimesPath);
    if (!timesWritten)
        std::fprintf(stderr, "ampsim: cannot write %s\n", settings.ReplyTimesPath.c_str());
    auto uploads = simulator.Uploads();
    std::printf("ampsim: stopped by %s; %llu hello(s) received, %llu repl(ies) sent, %zu upload(s), %llu own "
                "datagram(s) read back\n",
        signal == SIGINT ? "SIGINT" : "SIGTERM", static_cast<unsigned long long>(simulator.HellosReceived()),
        static_cast<unsigned long long>(simulator.RepliesSent()), uploads.size(),
        static_cast<unsigned long long>(simulator.OwnDatagramsRead()));
    for (const auto& u : uploads)
        std::printf("  upload %s %s %u bytes announced, %llu received, fnv1a64 %016llx%s\n", u.Mac.c_str(),
            u.TargetPath.c_str(), u.AnnouncedSize, static_cast<unsigned long long>(u.Received),
            static_cast<unsigned long long>(u.Checksum), u.Complete ? "" : " (incomplete)");
    return timesWritten ? 0 : 1;
}
