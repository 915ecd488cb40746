#include "ctl/CtlInterfaces.h"

#include "platform/LocalInterfaces.h"

#include <arpa/inet.h>

std::vector<TCtlInterface> DiscoveryInterfaces()
{
    std::vector<TCtlInterface> found;
    for (const platform::InterfaceAddress& entry : platform::UpInterfaceAddresses()) {
        if (entry.loopback)
            continue;
        in_addr address { entry.address };
        char text[INET_ADDRSTRLEN] = {};
        if (inet_ntop(AF_INET, &address, text, sizeof text) != nullptr)
            found.push_back({ entry.device, text });
    }
    return found;
}

std::string ChooseInterfaceAddress(
    const std::string& choice, const std::vector<TCtlInterface>& interfaces, std::string& error)
{
    if (interfaces.empty()) {
        error = "no network interface with an IPv4 address is up";
        return {};
    }
    if (choice.empty()) {
        if (interfaces.size() == 1)
            return interfaces.front().Address;
        error = "several interfaces are up; choose one with --interface (see tovrinctl interfaces)";
        return {};
    }
    std::vector<std::string> matches;
    for (const TCtlInterface& entry : interfaces)
        if (entry.Address == choice || entry.Device == choice)
            matches.push_back(entry.Address);
    if (matches.size() == 1)
        return matches.front();
    error = matches.empty() ? "no interface named or addressed " + choice + " is up"
                            : "interface " + choice + " has several addresses; give one of them";
    return {};
}
