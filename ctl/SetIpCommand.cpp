#include "ctl/Commands.h"

#include "ctl/CtlCommon.h"
#include "ctl/CtlOutput.h"
#include "finder/SettingsCheck.h"
#include "finder/SettingsWatch.h"
#include "platform/HostInfo.h"

#include <CLI/CLI.hpp>

#include <memory>
#include <optional>
#include <ostream>

int RunSetIp(TCtlContext& context, const TSetIpOptions& options)
{
    if (!options.Dhcp) {
        const std::string problems = FindSettingsProblems(options.IP, options.NetMask, options.Gateway);
        if (!problems.empty()) {
            context.err << "tovrinctl: the amplifier may become unreachable with these settings:\n"
                        << problems;
            if (!options.Force) {
                context.err << "tovrinctl: nothing sent; correct them, or send them anyway with --force\n";
                return ExitUsage;
            }
        }
    }
    TDiscoveryScan scan;
    if (!OpenScan(context, scan, options.Interface))
        return ExitFailed;
    const auto interrupted = [&] { return context.interrupts() > 0; };

    // What it reports before the change tells its reboot from replies it sent before.
    const std::string wanted = Upper(options.Mac);
    std::optional<TTovrinData> before;
    scan.Run(
        Milliseconds(options.FindSeconds), true,
        [&](const TTovrinData& record) {
            if (Upper(record.MacKey) == wanted)
                before = record;
        },
        [&] { return before.has_value() || interrupted(); });
    if (interrupted())
        return ExitInterrupted;
    if (!before) {
        context.err << "tovrinctl: no amplifier " << TerminalSafe(options.Mac) << " answered within "
                    << options.FindSeconds << " s; nothing sent\n";
        return ExitFailed;
    }

    const std::string mac = before->MacKey;
    const std::string datagram
        = BuildSettingsDatagram(mac, options.Dhcp, options.IP, options.NetMask, options.Gateway);
    if (!scan.Broadcast(datagram)) {
        context.err << "tovrinctl: the settings datagram could not be sent\n";
        return ExitFailed;
    }
    if (options.NoWait) {
        context.out << "Settings sent to " << TerminalSafe(mac) << ".\n";
        return ExitOk;
    }

    TSettingsWatch watch;
    context.err << TerminalSafe(watch.Start(mac, options.Dhcp,
        { options.IP, options.NetMask, options.Gateway }, { before->IP, before->NetMask, before->Gateway },
        platform::TickCount(), static_cast<uint32_t>(Milliseconds(options.WaitSeconds))))
                << "\n";
    std::optional<std::string> confirmed;
    std::optional<std::string> notConfirmed;
    while (!confirmed && !notConfirmed && !interrupted()) {
        scan.Run(
            static_cast<int>(HelloIntervalMs), true,
            [&](const TTovrinData& record) {
                if (!confirmed)
                    confirmed = watch.Reply(
                        record.MacKey, { record.IP, record.NetMask, record.Gateway }, platform::TickCount());
            },
            [&] { return confirmed.has_value() || interrupted(); });
        if (!confirmed)
            notConfirmed = watch.Tick(platform::TickCount());
    }
    if (confirmed) {
        context.out << TerminalSafe(*confirmed) << "\n";
        return ExitOk;
    }
    if (notConfirmed) {
        context.err << TerminalSafe(*notConfirmed) << "\n";
        return ExitFailed;
    }
    context.err << "tovrinctl: interrupted before the change showed\n";
    return ExitInterrupted;
}

void AddSetIpCommand(CLI::App& app, TCtlContext& context, int& status)
{
    auto options = std::make_shared<TSetIpOptions>();
    auto plan = std::make_shared<TSetIpPlanOptions>();
    auto* command = app.add_subcommand(
        "set-ip", "Send new IP settings to an amplifier, or to many from a plan, and wait until they show");
    auto* mac = command->add_option("MAC", options->Mac, "The amplifier's MAC suffix, as discover shows it");
    auto* planFile
        = command
              ->add_option("--plan", plan->File,
                  "A CSV plan: header mac,ip,netmask,gateway and a row per amplifier (\"dhcp\" as ip "
                  "for DHCP); - reads standard input")
              ->type_name("FILE")
              ->excludes(mac);
    auto* dhcp = command->add_flag("--dhcp", options->Dhcp, "Let the amplifier take its address by DHCP");
    auto* ip = command->add_option("--ip", options->IP, "Fixed address")->excludes(dhcp);
    auto* netmask = command->add_option("--netmask", options->NetMask, "Network mask")->excludes(dhcp);
    auto* gateway
        = command->add_option("--gateway", options->Gateway, "Gateway (0.0.0.0: none)")->excludes(dhcp);
    for (auto* single : { dhcp, ip, netmask, gateway })
        single->excludes(planFile);
    command->add_option(
        "--interface", options->Interface, "Interface name (eth0) or one of its IPv4 addresses");
    command->add_flag("--no-wait", options->NoWait, "Send and end, without waiting for the amplifier")
        ->excludes(planFile);
    command->add_flag("--force", options->Force, "Send settings that do not look like usable addresses")
        ->excludes(planFile);
    command->add_option("--timeout", options->WaitSeconds, "Seconds the change may take to show")
        ->check(CLI::Range(1.0, 3600.0));
    command->add_option("--parallel", plan->Parallel, "With --plan: amplifiers changing at a time")
        ->check(CLI::Range(1, 1000))
        ->needs(planFile);
    command->add_option("--seconds", plan->Seconds, "With --plan: how long discovery looks before the check")
        ->check(CLI::Range(0.0, 3600.0))
        ->needs(planFile);
    auto* csv = command->add_flag("--csv", plan->Csv, "With --plan: the results as CSV")->needs(planFile);
    command->add_flag("--json", plan->Json, "With --plan: the results as JSON, one line per amplifier")
        ->needs(planFile)
        ->excludes(csv);
    command
        ->add_option("--audit", plan->Audit, "With --plan: append one JSON line per amplifier to this file")
        ->type_name("FILE")
        ->needs(planFile);
    command
        ->add_flag(
            "--dry-run", plan->DryRun, "With --plan: check it and show what would be sent; send nothing")
        ->needs(planFile);
    command->callback([&context, &status, options, plan, mac, planFile, ip, netmask] {
        if (planFile->count() > 0) {
            plan->Interface = options->Interface;
            plan->WaitSeconds = options->WaitSeconds;
            status = RunSetIpPlan(context, *plan);
            return;
        }
        if (mac->count() == 0)
            throw CLI::ValidationError("set-ip", "give the amplifier's MAC suffix, or --plan FILE");
        if (!options->Dhcp && (ip->count() == 0 || netmask->count() == 0))
            throw CLI::ValidationError("set-ip", "give either --dhcp, or --ip and --netmask");
        status = RunSetIp(context, *options);
    });
}
