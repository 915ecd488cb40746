#include "finder/SettingsCheck.h"

#include "comm/SocketHelpers.h"

#include <arpa/inet.h>

bool ParseDottedIPv4(const std::string& text, uint32_t& value)
{
    in_addr_t address = 0;
    if (!ParseDottedAddress(text, address))
        return false;
    value = ntohl(address);
    return true;
}

bool IsDottedIPv4(const std::string& text)
{
    uint32_t value = 0;
    return ParseDottedIPv4(text, value);
}

bool IsValidNetmask(const std::string& text)
{
    uint32_t mask = 0;
    if (!ParseDottedIPv4(text, mask) || mask == 0)
        return false;
    // Contiguous ones from the top: the inverted mask plus one is a power of two.
    const uint32_t hostBits = ~mask;
    return (hostBits & (hostBits + 1)) == 0;
}

std::string FindSettingsProblems(
    const std::string& ip, const std::string& netmask, const std::string& gateway)
{
    std::string problems;
    if (!IsDottedIPv4(ip))
        problems += "IP Address \"" + ip + "\" is not a dotted IPv4 address.\n";
    if (!IsDottedIPv4(netmask))
        problems += "Netmask \"" + netmask + "\" is not a dotted IPv4 address.\n";
    else if (!IsValidNetmask(netmask))
        problems += "Netmask \"" + netmask + "\" is not a valid netmask (its ones must be contiguous).\n";
    if (!gateway.empty() && !IsDottedIPv4(gateway))
        problems += "Default Gateway \"" + gateway + "\" is not a dotted IPv4 address.\n";
    return problems;
}
