#include "finder/SettingsCheck.h"

bool ParseDottedIPv4(const std::string& text, uint32_t& value)
{
    uint32_t result = 0;
    size_t pos = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (pos >= text.size() || text[pos] != '.')
                return false;
            ++pos;
        }
        const size_t start = pos;
        unsigned number = 0;
        while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && pos - start < 3)
            number = number * 10 + static_cast<unsigned>(text[pos++] - '0');
        const size_t digits = pos - start;
        if (digits == 0 || number > 255 || (digits > 1 && text[start] == '0'))
            return false;
        result = (result << 8) | number;
    }
    if (pos != text.size())
        return false;
    value = result;
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
