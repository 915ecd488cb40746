#pragma once
// Small socket helpers shared by the primitives, the communication worker and the address checks.

#include <string>

#include <netinet/in.h>

// Strict dotted-quad IPv4 text ("a.b.c.d", each part 0..255) to an address in network order.
// Unlike inet_addr, 255.255.255.255 is a valid address and not an error marker.
bool ParseDottedAddress(const std::string& text, in_addr_t& address);

// The interface that carries a local IPv4 address (network order), found among the interfaces
// that are up; false when no interface owns it.
struct LocalInterface {
    std::string name;
    unsigned index = 0;
};
bool FindInterfaceOwning(in_addr_t address, LocalInterface& found);

// Waits until fd is readable or wakeFd (if not -1) is signalled, up to ms (negative: no limit).
enum class WaitResult { Readable, Woken, TimedOut, Failed };
WaitResult WaitReadable(int fd, int wakeFd, int ms);
