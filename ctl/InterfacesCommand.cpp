#include "ctl/Commands.h"

#include "ctl/CtlInterfaces.h"
#include "ctl/CtlOutput.h"

#include <CLI/CLI.hpp>

#include <ostream>

int RunInterfaces(TCtlContext& context)
{
    const auto interfaces = DiscoveryInterfaces();
    if (interfaces.empty()) {
        context.err << "tovrinctl: no network interface with an IPv4 address is up\n";
        return ExitFailed;
    }
    std::vector<std::vector<std::string>> rows { { "INTERFACE", "ADDRESS" } };
    for (const TCtlInterface& entry : interfaces)
        rows.push_back({ TerminalSafe(entry.Device), entry.Address }); // a name may hold any byte but /, : and blanks
    context.out << AlignedTable(rows);
    return ExitOk;
}

void AddInterfacesCommand(CLI::App& app, TCtlContext& context, int& status)
{
    app.add_subcommand("interfaces", "List the local interfaces discovery can use")->callback([&] {
        status = RunInterfaces(context);
    });
}
