// Finding and ordering amplifier list rows: the match rule, natural and numeric orders, and the
// selection a screen or a file shows.

#include "finder/ListFilter.h"

#include <gtest/gtest.h>

namespace {

TTovrinData Amp(const std::string& mac, const std::string& ip, const std::string& name)
{
    TTovrinData a;
    a.Mac = mac;
    a.MacKey = mac;
    a.IP = ip;
    a.Name = name;
    return a;
}

// Rows in the order of first replies.
AmplifierList ListOf(const std::vector<TTovrinData>& amps)
{
    AmplifierList list;
    for (size_t i = 0; i < amps.size(); ++i)
        list.UpdateAmplifier(amps[i], static_cast<uint32_t>(i));
    return list;
}

std::vector<std::string> Names(const AmplifierList& list, const TRowSelection& selection)
{
    std::vector<std::string> names;
    for (const int row : selection.Rows)
        names.push_back(list.Row(row).Name);
    return names;
}

TEST(AmplifierMatches, ContainsInMacSuffixIpOrNameWithoutCase)
{
    const TTovrinData a = Amp("0050C2A1BEEF", "10.1.2.30", "Stage Left*");
    const struct {
        const char* text;
        bool matches;
    } cases[] = {
        { "", true },
        { "beef", true }, // MAC suffix, any case
        { "0050c2", true },
        { "2.3", true }, // inside the address
        { "stage l", true },
        { "LEFT*", true }, // plain text: * is a character, no pattern
        { "Stage*", false },
        { "10.1.2.31", false },
        { "gateway", false },
    };
    for (const auto& c : cases)
        EXPECT_EQ(AmplifierMatches(a, c.text), c.matches) << c.text;
    TTovrinData other = a;
    other.Gateway = "10.9.9.9"; // fields beside MAC, IP and name are not searched
    EXPECT_FALSE(AmplifierMatches(other, "10.9.9"));
}

TEST(NaturalCompare, DigitRunsByValueLettersWithoutCase)
{
    const struct {
        const char* a;
        const char* b;
        int order;
    } cases[] = {
        { "Amp-2", "Amp-10", -1 },
        { "Amp-10", "Amp-9", 1 },
        { "amp-3", "AMP-3", 0 },
        { "Amp-02", "Amp-2", 0 },
        { "Amp-2", "Amp-2a", -1 },
        { "Amp", "Amp-1", -1 },
        { "B", "a", 1 },
        { "99999999999999999999", "100000000000000000000", -1 }, // beyond any integer type
        { "", "", 0 },
    };
    for (const auto& c : cases) {
        EXPECT_EQ(NaturalCompare(c.a, c.b), c.order) << c.a << " / " << c.b;
        EXPECT_EQ(NaturalCompare(c.b, c.a), -c.order) << c.b << " / " << c.a;
    }
}

TEST(SelectRows, OrdersByIpValueNameMacOrFirstReplyAfterFiltering)
{
    const AmplifierList list = ListOf({
        Amp("0050C2A10003", "10.0.0.10", "Amp-10"),
        Amp("0050C2A10001", "10.0.0.9", "Amp-2"),
        Amp("0050C2A1000a", "9.255.0.1", "amp-1"),
        Amp("0050C2A10002", "not an address", "Amp-2"),
        Amp("0050C2A10004", "10.0.0.100", "Foyer"),
    });
    const struct {
        TListSort sort;
        const char* filter;
        std::vector<std::string> names;
    } cases[] = {
        { TListSort::Seen, "", { "Amp-10", "Amp-2", "amp-1", "Amp-2", "Foyer" } },
        { TListSort::Ip, "", { "amp-1", "Amp-2", "Amp-10", "Foyer", "Amp-2" } },
        { TListSort::Name, "", { "amp-1", "Amp-2", "Amp-2", "Amp-10", "Foyer" } },
        { TListSort::Mac, "", { "Amp-2", "Amp-2", "Amp-10", "Foyer", "amp-1" } },
        { TListSort::Name, "AMP", { "amp-1", "Amp-2", "Amp-2", "Amp-10" } },
        { TListSort::Ip, "10.0.0.1", { "Amp-10", "Foyer" } },
        { TListSort::Seen, "nobody", {} },
    };
    for (const auto& c : cases) {
        const TRowSelection all = SelectRows(list, c.filter, c.sort);
        EXPECT_EQ(Names(list, all), c.names) << ListSortName(c.sort) << " " << c.filter;
        EXPECT_EQ(all.Matching, c.names.size());
        // A screenful: the first rows of the same order, still counting every match.
        const TRowSelection two = SelectRows(list, c.filter, c.sort, 2);
        const std::vector<std::string> first(
            c.names.begin(), c.names.begin() + std::min<size_t>(2, c.names.size()));
        EXPECT_EQ(Names(list, two), first) << ListSortName(c.sort) << " " << c.filter;
        EXPECT_EQ(two.Matching, c.names.size());
    }
    // Equal names keep the order of first replies.
    const TRowSelection byName = SelectRows(list, "Amp-2", TListSort::Name);
    ASSERT_EQ(byName.Rows.size(), 2u);
    EXPECT_LT(byName.Rows[0], byName.Rows[1]);
}

// By value over all four octets: each pair differs first in another octet, where the order of the
// last octet alone (or of the text) would say the opposite.
TEST(IpLess, ComparesAllFourOctetsByValue)
{
    const std::vector<std::string> ascending { "9.255.255.255", "10.0.0.9", "10.0.1.0", "10.0.1.2",
        "10.1.0.0", "10.1.0.1", "11.0.0.0", "100.0.0.0", "255.255.255.254", "not an address" };
    for (size_t i = 0; i < ascending.size(); ++i)
        for (size_t k = 0; k < ascending.size(); ++k)
            EXPECT_EQ(IpLess(ascending[i], ascending[k]), i < k) << ascending[i] << " / " << ascending[k];

    AmplifierList list;
    int mac = 0;
    for (auto it = ascending.rbegin(); it != ascending.rend(); ++it)
        list.UpdateAmplifier(Amp(std::to_string(++mac), *it, *it), 1000);
    EXPECT_EQ(Names(list, SelectRows(list, "", TListSort::Ip)), ascending);
}

TEST(ListSort, NamesParseAndCycle)
{
    TListSort sort = TListSort::Seen;
    std::vector<std::string> cycle;
    for (int i = 0; i < 5; ++i) {
        cycle.push_back(ListSortName(sort));
        TListSort parsed = TListSort::Name;
        EXPECT_TRUE(ParseListSort(cycle.back(), parsed));
        EXPECT_EQ(parsed, sort);
        sort = NextListSort(sort);
    }
    EXPECT_EQ(cycle, (std::vector<std::string> { "seen", "ip", "mac", "name", "seen" }));
    EXPECT_FALSE(ParseListSort("IP", sort));
}

} // namespace
