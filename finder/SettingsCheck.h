#pragma once
// Plausibility checks of the addresses about to be sent to an amplifier. The settings datagram
// carries the texts unchecked, so a typo would make the amplifier reboot into an address nobody can
// reach; the window asks before sending such settings.

#include <cstdint>
#include <string>

// Four decimal numbers 0..255 separated by dots, nothing else (no blanks, signs or leading zeros,
// which some parsers would read as octal). value receives the address in host order.
bool ParseDottedIPv4(const std::string& text, uint32_t& value);
bool IsDottedIPv4(const std::string& text);
// A dotted address whose ones are contiguous from the top; 0.0.0.0 is no usable mask.
bool IsValidNetmask(const std::string& text);
// One line per field that looks wrong, naming the field; empty when the fixed-address settings
// look usable. An empty gateway is allowed (it is optional).
std::string FindSettingsProblems(
    const std::string& ip, const std::string& netmask, const std::string& gateway);
