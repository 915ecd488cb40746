#include "ctl/Commands.h"

#include "comm/Recvthread.h"
#include "ctl/CtlOutput.h"
#include "platform/UniqueFd.h"

#include <CLI/CLI.hpp>

#include <memory>
#include <ostream>

int RunVersion(TCtlContext& context, const std::string& host)
{
    const std::string endpoint = host + ":" + std::to_string(context.commandPort);
    UniqueFd connection(OpenTcpConnection(host, context.commandPort, 1000));
    if (!connection) {
        context.err << "Connecting to " << TerminalSafe(endpoint) << " failed.\n";
        return ExitFailed;
    }
    std::string reply;
    if (!SocketSendString(connection.get(), "$$$VER?\n") || !ReadUntil(connection.get(), reply, 1000, '\n')) {
        context.err << "Reply timeout!\n";
        return ExitFailed;
    }
    context.out << TerminalSafe(reply) << "\n";
    return ExitOk;
}

void AddVersionCommand(CLI::App& app, TCtlContext& context, int& status)
{
    auto host = std::make_shared<std::string>();
    auto* command = app.add_subcommand("version", "Ask an amplifier for its version (\"$$$VER?\")");
    command->add_option("HOST", *host, "Address or host name")->required();
    command->callback([&context, &status, host] { status = RunVersion(context, *host); });
}
