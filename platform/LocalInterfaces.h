#pragma once
// The local interfaces and their IPv4 addresses.

#include <netinet/in.h>

#include <string>
#include <vector>

namespace platform {

struct InterfaceAddress {
    std::string device;  // alias labels such as "eth0:1" reduced to the device, "eth0"
    in_addr_t address;   // network order
    bool loopback;
};

// The IPv4 addresses of the interfaces that are up, in the order the system lists them.
std::vector<InterfaceAddress> UpInterfaceAddresses();

// Dotted IPv4 addresses of the interfaces that are up, in system order. Loopback is left out: no
// amplifier can answer a broadcast there.
std::vector<std::string> LocalIPv4Addresses();

} // namespace platform
