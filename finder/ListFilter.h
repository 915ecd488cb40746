#pragma once
// Finding rows in the amplifier list: one rule for what "matches a text" means (the MAC suffix, the
// IP address or the name contains it, case-insensitive, plain text) and the orders a list can be
// shown in. The list itself keeps the order of first replies; these only choose what is shown.

#include "finder/Discovery.h"

#include <cstddef>
#include <string>
#include <vector>

// Empty text matches every row; otherwise AmplifierMatcher's rule (finder/AmplifierSearch.h).
bool AmplifierMatches(const TTovrinData& amplifier, const std::string& text);

enum class TListSort { Seen, Ip, Mac, Name };
// "seen", "ip", "mac", "name"
const char* ListSortName(TListSort sort);
bool ParseListSort(const std::string& name, TListSort& sort);
// seen, ip, mac, name, then seen again.
TListSort NextListSort(TListSort sort);

// Negative, 0 or positive: runs of digits compare by their value (Amp-2 before Amp-10), the rest
// byte by byte without case.
int NaturalCompare(const std::string& a, const std::string& b);
// Dotted IPv4 addresses by their value; texts that are no address after all addresses, by text.
bool IpLess(const std::string& a, const std::string& b);

struct TRowSelection {
    std::vector<int> Rows; // list rows in the order shown, at most the limit asked for
    size_t Matching = 0; // rows that match the filter, shown or not
};
// The rows of list that match filter, in the order sort gives (ties by first reply); only the first
// limit of them are ordered and returned, so a screenful of a long list stays cheap.
TRowSelection SelectRows(const AmplifierList& list, const std::string& filter, TListSort sort,
    size_t limit = static_cast<size_t>(-1));
