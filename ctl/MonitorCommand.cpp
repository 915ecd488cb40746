#include "ctl/Commands.h"

#include "ctl/AmplifierMetrics.h"
#include "ctl/CtlCommon.h"
#include "ctl/CtlOutput.h"
#include "platform/HostInfo.h"

#include <CLI/CLI.hpp>

#include <prometheus/exposer.h>

#include <memory>
#include <ostream>

int RunMonitor(TCtlContext& context, const TMonitorOptions& options)
{
    TDiscoveryScan scan;
    if (!OpenScan(context, scan, options.Interface))
        return ExitFailed;
    const auto metrics = std::make_shared<TAmplifierMetrics>(
        scan.List(), std::chrono::seconds(static_cast<long long>(options.ForgetAfter)), context.err);

    // The library reports a port it cannot listen on by an exception; it ends here.
    std::unique_ptr<prometheus::Exposer> exposer;
    try {
        exposer = std::make_unique<prometheus::Exposer>(options.Listen, 2);
    } catch (const std::exception& e) {
        context.err << "tovrinctl: cannot listen on " << TerminalSafe(options.Listen) << ": " << e.what()
                    << "\n";
        return ExitFailed;
    }
    exposer->RegisterCollectable(metrics);
    context.err << "tovrinctl: metrics of the amplifiers on " << TerminalSafe(options.Interface)
                << " at http://" << TerminalSafe(options.Listen) << "/metrics\n"
                << std::flush;

    const auto interrupted = [&] { return context.interrupts() > 0; };
    while (!interrupted()) {
        scan.Run(static_cast<int>(HelloIntervalMs), true, {}, interrupted);
        scan.List().RemoveStale(MaxSilenceMs, platform::TickCount());
        metrics->Tick(scan.Traffic());
    }
    return ExitOk;
}

void AddMonitorCommand(CLI::App& app, TCtlContext& context, int& status)
{
    auto options = std::make_shared<TMonitorOptions>();
    auto* command = app.add_subcommand("monitor",
        "Run discovery without end and serve the amplifiers as Prometheus metrics until SIGTERM or Ctrl+C");
    command->add_option(
        "--interface", options->Interface, "Interface name (eth0) or one of its IPv4 addresses");
    command->add_option("--listen", options->Listen, "Serve /metrics on this address and port")
        ->check([](const std::string& text) {
            const auto colon = text.rfind(':');
            if (colon == std::string::npos || colon == 0 || colon + 1 == text.size()
                || text.find_first_not_of("0123456789", colon + 1) != std::string::npos)
                return std::string("expected ADDRESS:PORT, e.g. 127.0.0.1:") + std::to_string(MonitorPort);
            return std::string();
        });
    command
        ->add_option("--forget-after", options->ForgetAfter,
            "Seconds a vanished amplifier stays listed with up 0 before its series are removed")
        ->check(CLI::Range(0.0, 366.0 * 86400));
    command->callback([&context, &status, options] { status = RunMonitor(context, *options); });
}
