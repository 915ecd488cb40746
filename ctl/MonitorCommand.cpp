#include "ctl/Commands.h"

#include "ctl/AmplifierMetrics.h"
#include "ctl/CtlCommon.h"
#include "ctl/CtlInterfaces.h"
#include "ctl/CtlOutput.h"
#include "ctl/MonitorState.h"
#include "ctl/ProcessMetrics.h"
#include "finder/DiscoveryWatch.h"
#include "platform/HostInfo.h"

#include <CLI/CLI.hpp>

#include <CivetServer.h>
#include <prometheus/exposer.h>

#include <memory>
#include <mutex>
#include <optional>
#include <ostream>

namespace {

// What the web server said while it started: the library's exception alone says nothing useful.
std::mutex ServerMessageMutex;
std::string ServerMessage;

int KeepServerMessage(const mg_connection*, const char* message)
{
    std::lock_guard lock(ServerMessageMutex);
    if (ServerMessage.empty() && message != nullptr)
        ServerMessage = message;
    return 1;
}

std::unique_ptr<prometheus::Exposer> Listen(TCtlContext& context, const std::string& address)
{
    {
        std::lock_guard lock(ServerMessageMutex);
        ServerMessage.clear();
    }
    CivetCallbacks callbacks {};
    callbacks.log_message = KeepServerMessage;
    // The library reports a port it cannot listen on by an exception; it ends here.
    try {
        return std::make_unique<prometheus::Exposer>(address, 2, &callbacks);
    } catch (const std::exception& e) {
        std::lock_guard lock(ServerMessageMutex);
        context.err << "tovrinctl: cannot listen on " << TerminalSafe(address) << ": "
                    << TerminalSafe(ServerMessage.empty() ? e.what() : ServerMessage) << "\n";
        return nullptr;
    }
}

// Discovery on the chosen interface, stopped while the interface is gone and opened again once an
// interface of that name is back (a USB adapter pulled and plugged in, a bridge made anew).
class TWatchedDiscovery {
public:
    TWatchedDiscovery(TCtlContext& context, const std::string& choice, TDiscoveryScan& scan, TAmplifierMetrics& metrics)
        : FContext(context)
        , FChoice(choice)
        , FScan(scan)
        , FMetrics(metrics)
    {
    }

    bool Open()
    {
        std::string address;
        if (!OpenScan(FContext, FScan, FChoice, &address))
            return false;
        FWatch.Started(address, DiscoveryInterfaceOf(address));
        return true;
    }

    // At each hello tick, after the metrics' tick.
    void Tick()
    {
        CheckHellos();
        std::string address = FWatch.LocalAddress();
        if (FWatch.Stopped()) {
            // The name may come back with another address (DHCP); discovery follows the name.
            std::string ignored;
            address = ChooseInterfaceAddress(FChoice, DiscoveryInterfaces(), ignored);
            if (address.empty())
                return; // nothing to open yet
        }
        switch (FWatch.Tick(address.empty() ? std::nullopt : DiscoveryInterfaceOf(address))) {
        case TDiscoveryWatch::Action::None:
            return;
        case TDiscoveryWatch::Action::Stop:
            FScan.Close();
            FMetrics.SetDiscoveryUp(false);
            Say(FWatch.StatusText());
            return;
        case TDiscoveryWatch::Action::Restart: {
            std::string error;
            if (!FScan.Open(address, error)) {
                FWatch.RestartFailed(error);
                Say(FWatch.StatusText());
                return;
            }
            FWatch.Started(address, DiscoveryInterfaceOf(address));
            FMetrics.SetDiscoveryUp(true);
            FStalled = false;
            FHellos = FScan.Traffic().HellosSent;
            FSilentTicks = 0;
            Say(FWatch.StatusText());
            return;
        }
        }
    }

private:
    // Hellos that cannot be sent while the interface is there (a link without carrier, a route
    // gone): said once when it starts and once when hellos go out again.
    void CheckHellos()
    {
        const uint64_t hellos = FScan.Traffic().HellosSent;
        if (!FScan.IsOpen()) {
            FHellos = hellos;
            return;
        }
        FSilentTicks = hellos == FHellos ? FSilentTicks + 1 : 0;
        FHellos = hellos;
        if (!FStalled && FSilentTicks >= StalledTicks) {
            FStalled = true;
            FContext.err << "tovrinctl: discovery stalled: no hello could be sent on "
                         << TerminalSafe(FWatch.LocalAddress()) << " for " << StalledTicks * HelloIntervalMs / 1000
                         << " s\n"
                         << std::flush;
        } else if (FStalled && FSilentTicks == 0) {
            FStalled = false;
            FContext.err << "tovrinctl: discovery sends hellos again on " << TerminalSafe(FWatch.LocalAddress())
                         << "\n"
                         << std::flush;
        }
    }
    void Say(const std::string& status)
    {
        if (!status.empty() && status != FLastStatus)
            FContext.err << "tovrinctl: " << TerminalSafe(status) << "\n" << std::flush;
        FLastStatus = status;
    }

    static constexpr int StalledTicks = 4;
    TCtlContext& FContext;
    const std::string FChoice;
    TDiscoveryScan& FScan;
    TAmplifierMetrics& FMetrics;
    TDiscoveryWatch FWatch;
    std::string FLastStatus;
    uint64_t FHellos = 0;
    int FSilentTicks = 0;
    bool FStalled = false;
};

std::string ListenCheck(const std::string& text)
{
    const std::string usage = "expected ADDRESS:PORT, e.g. 127.0.0.1:" + std::to_string(MonitorPort);
    const auto colon = text.rfind(':');
    if (text.find('[') != std::string::npos
        || (colon != std::string::npos && text.find(':') != colon))
        return "IPv6 is not supported: " + usage;
    if (colon == std::string::npos || colon == 0 || colon + 1 == text.size()
        || text.find_first_not_of("0123456789", colon + 1) != std::string::npos)
        return usage;
    const std::string port = text.substr(colon + 1);
    if (port.size() > 5 || std::stoi(port) > 65535)
        return "the port must be 1 to 65535 (0: any free port): " + usage;
    return std::string();
}

} // namespace

int RunMonitor(TCtlContext& context, const TMonitorOptions& options)
{
    TDiscoveryScan scan;
    const auto metrics = std::make_shared<TAmplifierMetrics>(
        scan.List(), std::chrono::seconds(static_cast<long long>(options.ForgetAfter)), context.err);
    TWatchedDiscovery discovery(context, options.Interface, scan, *metrics);
    if (!discovery.Open())
        return ExitFailed;
    std::optional<TMonitorState> state;
    if (!options.State.empty()) {
        state.emplace(options.State, *metrics, context.err);
        state->Load();
    }

    const std::unique_ptr<prometheus::Exposer> exposer = Listen(context, options.Listen);
    if (!exposer)
        return ExitFailed;
    const auto process = std::make_shared<TProcessMetrics>(TOVRIN_VERSION);
    exposer->RegisterCollectable(metrics);
    exposer->RegisterCollectable(process);
    // Port 0 takes any free one: say which.
    std::string listening = options.Listen;
    if (const auto ports = exposer->GetListeningPorts(); !ports.empty())
        listening = options.Listen.substr(0, options.Listen.rfind(':') + 1) + std::to_string(ports.front());
    context.err << "tovrinctl: metrics of the amplifiers on " << TerminalSafe(options.Interface) << " at http://"
                << TerminalSafe(listening) << "/metrics\n"
                << std::flush;

    const auto interrupted = [&] { return context.interrupts() > 0; };
    while (!interrupted()) {
        scan.Run(static_cast<int>(HelloIntervalMs), scan.IsOpen(), {}, interrupted);
        scan.List().RemoveStale(MaxSilenceMs, platform::TickCount());
        metrics->Tick(scan.Traffic());
        discovery.Tick();
        if (state)
            state->Tick();
    }
    if (state)
        state->Save();
    return ExitOk;
}

void AddMonitorCommand(CLI::App& app, TCtlContext& context, int& status)
{
    auto options = std::make_shared<TMonitorOptions>();
    auto* command = app.add_subcommand("monitor",
        "Run discovery without end and serve the amplifiers as Prometheus metrics until SIGTERM or Ctrl+C");
    command->add_option(
        "--interface", options->Interface, "Interface name (eth0) or one of its IPv4 addresses");
    command
        ->add_option("--listen", options->Listen,
            "Serve /metrics on this IPv4 address and port (port 0: any free one, printed at the start)")
        ->check(ListenCheck);
    command
        ->add_option("--forget-after", options->ForgetAfter,
            "Seconds a vanished amplifier stays listed with up 0 before its series are removed")
        ->check(CLI::Range(0.0, 366.0 * 86400));
    command->add_option("--state", options->State,
        "Keep the list of amplifiers in this file through restarts (written every few seconds after a "
        "change and at the end)");
    command->callback([&context, &status, options] { status = RunMonitor(context, *options); });
}
