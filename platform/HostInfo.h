#pragma once
// Facts about this computer that the program asks the operating system for.

#include <cstdint>
#include <string>

namespace platform {

// The host's canonical (fully qualified) name, as `hostname -f` prints it; empty when unknown.
std::string CanonicalHostName();
// The part of a host name after its first dot ("" when there is none), as `hostname -d` does.
std::string DnsDomainOf(const std::string& hostName);
// Milliseconds from a monotonic clock, wrapping at 2^32 like a tick counter.
uint32_t TickCount();
// The folder of the running program's executable, without a trailing "/"; empty when unknown.
std::string ExecutableFolder();

} // namespace platform
