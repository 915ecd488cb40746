#include "finder/Discovery.h"

std::string BuildSettingsDatagram(const std::string& mac, bool dhcp, const std::string& ip,
    const std::string& netmask, const std::string& gateway)
{
    if (dhcp)
        return mac + " 5 1";
    return mac + " 5 0 " + ip + " " + netmask + " " + gateway;
}
