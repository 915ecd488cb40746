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
    AddInterfacesCommand(app, context, status);
    AddDiscoverCommand(app, context, status);
    AddSetIpCommand(app, context, status);
    AddVersionCommand(app, context, status);
    AddVersionsCommand(app, context, status);
    AddUploadCommand(app, context, status);
    AddRolloutCommand(app, context, status);
    AddMonitorCommand(app, context, status);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? ExitOk : ExitUsage;
    }
    return status;
}
