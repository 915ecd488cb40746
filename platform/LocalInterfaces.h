#pragma once
// The local IPv4 addresses a discovery channel can be bound to.

#include <string>
#include <vector>

namespace platform {

// Dotted IPv4 addresses of the interfaces that are up, in the order the system lists them.
// Loopback is left out: no amplifier can answer a broadcast there.
std::vector<std::string> LocalIPv4Addresses();

} // namespace platform
