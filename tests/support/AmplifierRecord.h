#pragma once

#include "finder/Discovery.h"

#include <string>

// An amplifier's record as its reply gives it: the MAC suffix is also its key, and netmask and
// gateway are those of the tests' networks.
inline TTovrinData AmplifierRecord(const std::string& mac, const std::string& ip, const std::string& name = {})
{
    TTovrinData record;
    record.Mac = record.MacKey = mac;
    record.IP = ip;
    record.NetMask = "255.255.0.0";
    record.Gateway = "0.0.0.0";
    record.Name = name;
    return record;
}
