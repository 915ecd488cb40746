#pragma once
// The local interfaces discovery can use, and the choice of one by name or address.

#include <string>
#include <vector>

struct TCtlInterface {
    std::string Device; // "eth0"
    std::string Address; // dotted IPv4
};

// The same list the window offers: the IPv4 addresses of the interfaces that are up, loopback left
// out, in system order.
std::vector<TCtlInterface> DiscoveryInterfaces();

// The local address for an --interface choice: a device name or one of its addresses. An empty
// choice takes the only interface there is. Empty, with the reason in error, when nothing fits.
std::string ChooseInterfaceAddress(
    const std::string& choice, const std::vector<TCtlInterface>& interfaces, std::string& error);
