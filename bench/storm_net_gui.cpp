// Discovery under a broadcast storm, in the private test network: the real main window (offscreen,
// its real worker and delivery, QApplication's own event loop) finds three simulated amplifiers,
// then a hostile host floods the discovery port with junk (ampsim --flood) for SECONDS.
//
//   storm_net_gui SECONDS RATE...        (as root; e.g. storm_net_gui 15 10000 50000 100000)
//
// For each RATE one line: the flood's measured duration (the loop ends a little after SECONDS,
// later on a loaded machine); hellos seen on the wire during it, beside the count that one hello
// per 500 ms gives for that duration; the longest gaps between hellos and the shortest (a delivery
// sends the hello of a late tick, and the timer its own shortly after); the CPU of this process
// (the program: window thread and worker); the junk rate reached; whether a real amplifier left
// the list (its row was removed; a removed row comes back at the end, behind junk rows, so the
// first three rows stay the amplifiers' only if none left); and whether the list was down to the
// three amplifiers again 4 s after the flood.
// Needs root (network namespaces); prints the reason and exits 77 otherwise.

#include "finder/Ftovrin.h"
#include "gui/GlobalForm.h"
#include "ipsettings/Fselipaddr.h"
#include "support/ListViewRows.h"
#include "support/TestNetwork.h"
#include "tools/ampsim/Ampsim.h"

#include <QApplication>
#include <QLabel>
#include <QTimer>
#include <QTreeView>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int AmpCount = 3;

double CpuSeconds()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Notes the time of every hello heard on the amplifier side.
class HelloListener {
public:
    bool Start(TestNetwork& net)
    {
        bool ok = false;
        net.RunInAmp([&] {
            FSocket = UniqueFd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
            const int on = 1;
            ::setsockopt(FSocket.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
            sockaddr_in a {};
            a.sin_family = AF_INET;
            a.sin_port = htons(8001);
            ok = FSocket && ::bind(FSocket.get(), reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        });
        if (ok)
            FThread = std::thread([this] { Run(); });
        return ok;
    }
    ~HelloListener()
    {
        FStop = true;
        if (FThread.joinable())
            FThread.join();
    }
    std::vector<Clock::time_point> Between(Clock::time_point from, Clock::time_point to)
    {
        std::lock_guard lock(FMutex);
        std::vector<Clock::time_point> found;
        for (const auto& t : FTimes)
            if (t >= from && t <= to)
                found.push_back(t);
        return found;
    }

private:
    void Run()
    {
        char buffer[64];
        while (!FStop) {
            pollfd p { FSocket.get(), POLLIN, 0 };
            if (::poll(&p, 1, 100) != 1)
                continue;
            const ssize_t n = ::recv(FSocket.get(), buffer, sizeof buffer, 0);
            if (n == 5 && std::string(buffer, 5) == "0 1 A") {
                std::lock_guard lock(FMutex);
                FTimes.push_back(Clock::now());
            }
        }
    }
    UniqueFd FSocket;
    std::thread FThread;
    std::atomic<bool> FStop { false };
    std::mutex FMutex;
    std::vector<Clock::time_point> FTimes;
};

// UDP datagrams taken in and dropped for a full receive buffer, in the calling thread's network.
std::pair<long long, long long> UdpCounters()
{
    std::ifstream in("/proc/thread-self/net/snmp");
    std::string line, header;
    while (std::getline(in, line)) {
        if (line.rfind("Udp:", 0) != 0)
            continue;
        if (header.empty()) {
            header = line;
            continue;
        }
        std::istringstream names(header), values(line);
        std::string name, value;
        long long received = 0, dropped = 0;
        while (names >> name && values >> value) {
            if (name == "InDatagrams")
                received = std::atoll(value.c_str());
            if (name == "RcvbufErrors")
                dropped = std::atoll(value.c_str());
        }
        return { received, dropped };
    }
    return { 0, 0 };
}

// Runs the event loop as the program does, for ms.
void RunLoop(int ms)
{
    std::thread stopper([ms] {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        // Not quit(): that closes the windows first.
        QMetaObject::invokeMethod(
            qApp, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
    });
    QApplication::exec();
    stopper.join();
}

QStringList FirstRows(int count)
{
    QStringList rows;
    for (int i = 0; i < count && i < RowCount(*FormTovrin->ListView1); ++i)
        rows << RowText(*FormTovrin->ListView1, i, 0);
    return rows;
}

std::string Tail(const std::string& path)
{
    std::ifstream in(path);
    std::string line, last;
    while (std::getline(in, line))
        if (line.find("junk datagram(s) sent") != std::string::npos)
            last = line;
    return last;
}

int Measure(int seconds, long long rate)
{
    TestNetwork net(AmpCount + 1);
    if (!net.Up()) {
        std::fprintf(stderr, "storm_net: %s\n", net.Error().c_str());
        return 1;
    }
    const std::string ampsim = std::string(TOVRIN_BINARY_DIR) + "/ampsim";
    auto amplifiers = net.Spawn(NetSide::Amp,
        { ampsim, "--count", std::to_string(AmpCount), "--no-command", "--quiet" }, "/dev/null");
    HelloListener hellos;
    if (!amplifiers || !hellos.Start(net)) {
        std::fprintf(stderr, "storm_net: cannot start the amplifiers\n");
        return 1;
    }
    int result = 0;
    {
        ScopedNamespace app(net.NamespacePath(NetSide::App));
        GlobalForm<TFormTovrin> tovrin(FormTovrin);
        GlobalForm<TFormSelIpAddr> selIpAddr(FormSelIpAddr);
        FormSelIpAddr->SetAddressSource(
            [] { return std::vector<std::string> { TestNetwork::AppAddress() }; });
        FormSelIpAddr->SetNextAnswer(TFormSelIpAddr::ModalOk);
        FormTovrin->show();
        RunLoop(3000);
        const QStringList amps = FirstRows(AmpCount);
        if (amps.size() != AmpCount) {
            std::fprintf(stderr, "storm_net: the amplifiers were not found\n");
            return 1;
        }

        // The flood comes from the amplifier side, unicast to the program, so that it loads the
        // program and not the simulated amplifiers beside it.
        const std::string floodLog = std::string(TOVRIN_BINARY_DIR) + "/storm_net_flood.log";
        auto flood = net.Spawn(NetSide::Amp,
            { ampsim, "--count", "0", "--flood", std::to_string(rate), "--flood-to",
                TestNetwork::AppAddress() },
            floodLog);
        const auto from = Clock::now();
        const double cpuBefore = CpuSeconds();
        const auto udpBefore = UdpCounters();
        RunLoop(seconds * 1000);
        const double cpu = CpuSeconds() - cpuBefore;
        const auto udpAfter = UdpCounters();
        const long long taken = udpAfter.first - udpBefore.first;
        const long long dropped = udpAfter.second - udpBefore.second;
        const auto to = Clock::now();
        flood.Terminate();
        const bool ampsStayed = FirstRows(AmpCount) == amps;
        const std::string status = FormTovrin->LabelStatus->text().toStdString();
        RunLoop(4000);
        const int rowsAfter = RowCount(*FormTovrin->ListView1);

        const double measured = std::chrono::duration<double>(to - from).count();
        // Ticks of a 500 ms timer within the measured time: one more when the first falls at its start.
        const int fewest = static_cast<int>(measured / 0.5);
        const auto times = hellos.Between(from, to);
        std::vector<double> gaps;
        for (size_t i = 1; i < times.size(); ++i)
            gaps.push_back(std::chrono::duration<double, std::milli>(times[i] - times[i - 1]).count());
        std::sort(gaps.rbegin(), gaps.rend());
        std::printf(
            "junk %6lld/s for %.1f s: %3zu hellos (%d or %d at one per 500 ms), longest gaps %.0f / %.0f / "
            "%.0f ms, shortest %.0f ms, CPU %.0f%% of one core, datagrams taken %lld, dropped (buffer full) "
            "%lld, "
            "real amplifier left the list: %s, rows 4 s after: %d | flood: %s%s%s\n",
            rate, measured, times.size(), fewest, fewest + 1, gaps.size() > 0 ? gaps[0] : 0.0,
            gaps.size() > 1 ? gaps[1] : 0.0, gaps.size() > 2 ? gaps[2] : 0.0,
            gaps.empty() ? 0.0 : gaps.back(), 100.0 * cpu / measured, taken, dropped,
            ampsStayed ? "no" : "YES", rowsAfter, Tail(floodLog).c_str(),
            status.empty() ? "" : " | status: ", status.c_str());
        std::fflush(stdout);
        if (!ampsStayed || gaps.empty() || gaps[0] > 1000.0)
            result = 1;
    }
    return result;
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: storm_net_gui SECONDS RATE...\n");
        return 2;
    }
    if (auto reason = TestNetwork::Unavailable(); !reason.empty()) {
        std::fprintf(stderr, "storm_net: skipped: %s\n", reason.c_str());
        return 77;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const int seconds = std::atoi(argv[1]);
    int result = 0;
    for (int i = 2; i < argc; ++i)
        result |= Measure(seconds, std::atoll(argv[i]));
    return result;
}
