// tovrinctl: the command-line companion of the window program, over the same core library.

#include "ctl/Commands.h"
#include "ctl/Interrupts.h"

#include <CLI/CLI.hpp>

#include <sys/ioctl.h>
#include <unistd.h>

#include <iostream>

int main(int argc, char** argv)
{
    TInterrupts interrupts;
    TCtlContext context { std::cout, std::cerr };
    context.terminal = isatty(STDOUT_FILENO) && isatty(STDERR_FILENO);
    context.interrupts = [] { return TInterrupts::Count(); };
    context.terminalSize = [] {
        winsize size {};
        if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0)
            return TTerminalSize {};
        return TTerminalSize { size.ws_col, size.ws_row };
    };

    CLI::App app(
        "Finds amplifiers on the local network, changes their IP settings and uploads files to them.",
        "tovrinctl");
    app.require_subcommand(1);
    app.set_version_flag("--version", "tovrinctl " TOVRIN_VERSION);
    app.option_defaults()->always_capture_default();
    app.add_option("--port", context.commandPort, "The amplifiers' command port (a simulator's, for tests)")
        ->check(CLI::Range(1, 65535));

    int status = ExitOk;
    auto* interfacesCommand = app.add_subcommand("interfaces", "List the local interfaces discovery can use");
    interfacesCommand->callback([&] { status = RunInterfaces(context); });

    TDiscoverOptions discover;
    auto* discoverCommand
        = app.add_subcommand("discover", "Say hello every 500 ms and list the amplifiers that answer");
    discoverCommand->add_option(
        "--interface", discover.Interface, "Interface name (eth0) or one of its IPv4 addresses");
    discoverCommand->add_option("--seconds", discover.Seconds, "How long to listen")
        ->check(CLI::Range(0.0, 86400.0));
    auto* json = discoverCommand->add_flag("--json", discover.Json, "One JSON object per amplifier and line");
    auto* csv = discoverCommand
                    ->add_flag("--csv", discover.Csv,
                        "CSV: a header row, then one row per amplifier with first and last seen")
                    ->excludes(json);
    auto* output = discoverCommand->add_option(
        "-o,--output", discover.Output, "Write the list to this file instead of standard output");
    discoverCommand->add_flag("--watch", discover.Watch, "Keep a live table on the terminal until Ctrl+C")
        ->excludes(json)
        ->excludes(csv)
        ->excludes(output);
    discoverCommand->callback([&] { status = RunDiscover(context, discover); });

    TSetIpOptions setIp;
    auto* setIpCommand
        = app.add_subcommand("set-ip", "Send new IP settings to an amplifier and wait until they show");
    setIpCommand->add_option("MAC", setIp.Mac, "The amplifier's MAC suffix, as discover shows it")
        ->required();
    auto* dhcp = setIpCommand->add_flag("--dhcp", setIp.Dhcp, "Let the amplifier take its address by DHCP");
    auto* ip = setIpCommand->add_option("--ip", setIp.IP, "Fixed address")->excludes(dhcp);
    auto* netmask = setIpCommand->add_option("--netmask", setIp.NetMask, "Network mask")->excludes(dhcp);
    setIpCommand->add_option("--gateway", setIp.Gateway, "Gateway (0.0.0.0: none)")->excludes(dhcp);
    setIpCommand->add_option(
        "--interface", setIp.Interface, "Interface name (eth0) or one of its IPv4 addresses");
    setIpCommand->add_flag("--no-wait", setIp.NoWait, "Send and end, without waiting for the amplifier");
    setIpCommand->add_flag("--force", setIp.Force, "Send settings that do not look like usable addresses");
    setIpCommand->add_option("--timeout", setIp.WaitSeconds, "Seconds the change may take to show")
        ->check(CLI::Range(1.0, 3600.0));
    setIpCommand->callback([&] {
        if (!setIp.Dhcp && (ip->count() == 0 || netmask->count() == 0))
            throw CLI::ValidationError("set-ip", "give either --dhcp, or --ip and --netmask");
        status = RunSetIp(context, setIp);
    });

    std::string versionHost;
    auto* versionCommand = app.add_subcommand("version", "Ask an amplifier for its version (\"$$$VER?\")");
    versionCommand->add_option("HOST", versionHost, "Address or host name")->required();
    versionCommand->callback([&] { status = RunVersion(context, versionHost); });

    TUploadCommandOptions upload;
    auto* uploadCommand = app.add_subcommand("upload", "Upload a file to an amplifier's /tmp/");
    uploadCommand->add_option("HOST", upload.Host, "Address or host name")->required();
    uploadCommand->add_option("FILE", upload.File, "The file to send")->required();
    uploadCommand->add_flag("-v,--verbose", upload.Verbose, "Print the exchange's log lines");
    uploadCommand->callback([&] { status = RunUpload(context, upload); });

    TRolloutOptions rollout;
    auto* rolloutCommand = app.add_subcommand("rollout", "Upload one file to many amplifiers at once");
    rolloutCommand->add_option("FILE", rollout.File, "The file to send")->required();
    auto* all = rolloutCommand->add_flag("--all", rollout.All, "Every amplifier that answers discovery");
    auto* macs
        = rolloutCommand->add_option("--mac", rollout.Macs, "These amplifiers (MAC suffixes)")->excludes(all);
    auto* filter = rolloutCommand
                       ->add_option("--from-discovery", rollout.Filter,
                           "Amplifiers whose name, MAC or IP matches this wildcard pattern ('Stage-*')")
                       ->excludes(all);
    auto* hosts
        = rolloutCommand->add_option("--host", rollout.Hosts, "Amplifiers by address, without discovery");
    rolloutCommand->add_option(
        "--interface", rollout.Interface, "Interface name (eth0) or one of its IPv4 addresses");
    rolloutCommand->add_option("--seconds", rollout.Seconds, "How long discovery looks for amplifiers")
        ->check(CLI::Range(0.0, 3600.0));
    rolloutCommand->add_option("--parallel", rollout.Parallel, "Uploads at a time")
        ->check(CLI::Range(1, 1000));
    rolloutCommand->add_option("--audit", rollout.Audit, "Append one JSON line per amplifier to this file");
    rolloutCommand->callback([&] {
        if (all->count() == 0 && macs->count() == 0 && filter->count() == 0 && hosts->count() == 0)
            throw CLI::ValidationError(
                "rollout", "choose the amplifiers: --all, --mac, --from-discovery or --host");
        status = RunRollout(context, rollout);
    });

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? ExitOk : ExitUsage;
    }
    return status;
}
