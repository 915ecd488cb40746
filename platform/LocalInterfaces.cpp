#include "platform/LocalInterfaces.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>

#include <cstring>
#include <memory>

namespace platform {

std::vector<InterfaceAddress> UpInterfaceAddresses()
{
    std::vector<InterfaceAddress> found;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
        return found;
    const std::unique_ptr<ifaddrs, decltype(&freeifaddrs)> owner(list, &freeifaddrs);
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET
            || (entry->ifa_flags & IFF_UP) == 0)
            continue;
        sockaddr_in inet {};
        std::memcpy(&inet, entry->ifa_addr, sizeof inet);
        const std::string label = entry->ifa_name;
        found.push_back({ label.substr(0, label.find(':')), inet.sin_addr.s_addr,
            (entry->ifa_flags & IFF_LOOPBACK) != 0 });
    }
    return found;
}

std::vector<std::string> LocalIPv4Addresses()
{
    std::vector<std::string> addresses;
    for (const InterfaceAddress& entry : UpInterfaceAddresses()) {
        if (entry.loopback)
            continue;
        in_addr address { entry.address };
        char text[INET_ADDRSTRLEN] = {};
        if (inet_ntop(AF_INET, &address, text, sizeof text) != nullptr)
            addresses.emplace_back(text);
    }
    return addresses;
}

} // namespace platform
