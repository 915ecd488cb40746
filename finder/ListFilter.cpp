#include "finder/ListFilter.h"

#include "comm/SocketHelpers.h"
#include "finder/AmplifierSearch.h"

#include <algorithm>
#include <arpa/inet.h>

namespace {

char Lower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

int CompareNoCase(const std::string& a, const std::string& b)
{
    const size_t common = std::min(a.size(), b.size());
    for (size_t i = 0; i < common; ++i) {
        const auto x = static_cast<unsigned char>(Lower(a[i]));
        const auto y = static_cast<unsigned char>(Lower(b[i]));
        if (x != y)
            return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// The address's value, or more than any address for a text that is none.
uint64_t IpKey(const std::string& text)
{
    in_addr_t address = 0;
    return ParseDottedAddress(text, address) ? ntohl(address) : uint64_t { 1 } << 32;
}

} // namespace

// The window's Find and the command line's filter share one rule; only the empty text differs.
bool AmplifierMatches(const TTovrinData& amplifier, const std::string& text)
{
    return text.empty() || AmplifierMatcher(text).Matches(amplifier);
}

const char* ListSortName(TListSort sort)
{
    switch (sort) {
    case TListSort::Ip:
        return "ip";
    case TListSort::Mac:
        return "mac";
    case TListSort::Name:
        return "name";
    case TListSort::Seen:
        break;
    }
    return "seen";
}

bool ParseListSort(const std::string& name, TListSort& sort)
{
    for (const TListSort candidate : { TListSort::Seen, TListSort::Ip, TListSort::Mac, TListSort::Name })
        if (name == ListSortName(candidate)) {
            sort = candidate;
            return true;
        }
    return false;
}

TListSort NextListSort(TListSort sort)
{
    switch (sort) {
    case TListSort::Seen:
        return TListSort::Ip;
    case TListSort::Ip:
        return TListSort::Mac;
    case TListSort::Mac:
        return TListSort::Name;
    case TListSort::Name:
        break;
    }
    return TListSort::Seen;
}

int NaturalCompare(const std::string& a, const std::string& b)
{
    size_t i = 0;
    size_t j = 0;
    while (i < a.size() && j < b.size()) {
        if (IsDigit(a[i]) && IsDigit(b[j])) {
            // Leading zeros carry no value; then the longer run is the larger number.
            while (i < a.size() && a[i] == '0')
                ++i;
            while (j < b.size() && b[j] == '0')
                ++j;
            size_t endA = i;
            size_t endB = j;
            while (endA < a.size() && IsDigit(a[endA]))
                ++endA;
            while (endB < b.size() && IsDigit(b[endB]))
                ++endB;
            if (endA - i != endB - j)
                return endA - i < endB - j ? -1 : 1;
            if (const int digits = a.compare(i, endA - i, b, j, endB - j); digits != 0)
                return digits < 0 ? -1 : 1;
            i = endA;
            j = endB;
            continue;
        }
        const auto x = static_cast<unsigned char>(Lower(a[i]));
        const auto y = static_cast<unsigned char>(Lower(b[j]));
        if (x != y)
            return x < y ? -1 : 1;
        ++i;
        ++j;
    }
    if (i < a.size())
        return 1;
    return j < b.size() ? -1 : 0;
}

bool IpLess(const std::string& a, const std::string& b)
{
    const uint64_t x = IpKey(a);
    const uint64_t y = IpKey(b);
    return x != y ? x < y : a < b;
}

TRowSelection SelectRows(const AmplifierList& list, const std::string& filter, TListSort sort, size_t limit)
{
    TRowSelection selection;
    std::vector<int>& rows = selection.Rows;
    rows.reserve(static_cast<size_t>(list.Count()));
    const AmplifierMatcher matcher(filter);
    for (int i = 0; i < list.Count(); ++i)
        if (filter.empty() || matcher.Matches(list.Row(i)))
            rows.push_back(i);
    selection.Matching = rows.size();
    const size_t kept = std::min(limit, rows.size());
    // Ties keep the order of first replies.
    const auto sortBy = [&](auto compare) {
        std::partial_sort(
            rows.begin(), rows.begin() + static_cast<std::ptrdiff_t>(kept), rows.end(), [&](int x, int y) {
                const int order = compare(x, y);
                return order != 0 ? order < 0 : x < y;
            });
    };
    switch (sort) {
    case TListSort::Seen:
        break;
    case TListSort::Ip: {
        // The addresses are parsed once, not at every comparison.
        std::vector<uint64_t> keys(static_cast<size_t>(list.Count()));
        for (const int row : rows)
            keys[static_cast<size_t>(row)] = IpKey(list.Row(row).IP);
        sortBy([&](int x, int y) {
            const uint64_t a = keys[static_cast<size_t>(x)];
            const uint64_t b = keys[static_cast<size_t>(y)];
            return a != b ? (a < b ? -1 : 1) : list.Row(x).IP.compare(list.Row(y).IP);
        });
        break;
    }
    case TListSort::Mac:
        sortBy([&](int x, int y) { return CompareNoCase(list.Row(x).MacKey, list.Row(y).MacKey); });
        break;
    case TListSort::Name:
        sortBy([&](int x, int y) { return NaturalCompare(list.Row(x).Name, list.Row(y).Name); });
        break;
    }
    rows.resize(kept);
    return selection;
}
