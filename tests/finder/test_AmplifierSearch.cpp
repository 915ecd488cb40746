#include "finder/AmplifierSearch.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

AmplifierList ListOf(const std::vector<TTovrinData>& records)
{
    AmplifierList list;
    for (const auto& record : records)
        list.UpdateAmplifier(record, 1000);
    return list;
}

TTovrinData Amp(const std::string& mac, const std::string& ip, const std::string& name)
{
    TTovrinData record;
    record.Mac = record.MacKey = mac;
    record.IP = ip;
    record.Name = name;
    record.NetMask = "255.255.0.0";
    record.Gateway = "10.0.0.99"; // not searched
    return record;
}

TEST(FindAmplifier, FindsTheNextRowWhoseMacIpOrNameContainsTheTextWithoutCase)
{
    const AmplifierList list = ListOf({
        Amp("0A1B2C", "10.0.0.1", "Stage-Left"), // 0
        Amp("0A1B2D", "10.0.0.2", "Foyer"), // 1
        Amp("FFEE01", "192.168.7.30", "stage-right"), // 2
        Amp("FFEE02", "10.0.0.4", "Bar.1"), // 3
        Amp("FFEE03", "10.0.0.5", "Bar-1"), // 4
    });
    const struct {
        const char* text;
        int after;
        int found;
    } cases[] = {
        { "1b2d", -1, 1 }, // MAC, lower case for upper
        { "0a1b2", 0, 1 }, // starts after the selected row
        { "0a1b2", 1, 0 }, // wraps at the end
        { "0a1b2", 4, 0 }, { "168.7", -1, 2 }, // IP
        { "STAGE", 0, 2 }, // name, upper case for lower and mixed
        { "STAGE", 2, 0 }, { "Foyer", 1, 1 }, // the selected row itself comes last
        { "bar.1", -1, 3 }, // plain text: the dot is a dot
        { "bar?1", -1, -1 }, { "B*", -1, -1 }, { "99", -1, -1 }, // the gateway is not searched
        { "nothing", 2, -1 }, { "", -1, -1 },
        { "foyer", 17, 1 }, // a selection out of range starts at the first row
    };
    for (const auto& c : cases)
        EXPECT_EQ(FindAmplifier(list, c.text, c.after), c.found) << '"' << c.text << "\" after " << c.after;
}

TEST(FindAmplifier, NamesInUtf8OrLatin1MatchAsShownWithLatin1LettersFolded)
{
    const AmplifierList list = ListOf({
        Amp("A1", "10.0.0.1", "B\xC3\xBChne"), // "Bühne" in UTF-8
        Amp("A2", "10.0.0.2", "B\xFCHNE-2"), // "BüHNE-2", not UTF-8: read as Latin-1
        Amp("A3", "10.0.0.3",
            "Stra\xC3\x9F"
            "e\xC3\x97"
            "2"), // "Straße×2"
        Amp("A4", "10.0.0.4", "\xFF\xFE"), // bytes no text has
    });
    const struct {
        const char* text;
        int after;
        int found;
    } cases[] = {
        { "B\xC3\x9Chne", -1, 0 }, // "BÜhne"
        { "b\xC3\xbchne", 0, 1 }, // "bühne" in the Latin-1 name
        { "\xC3\xBC", 1, 0 }, // "ü" alone, both ways
        { "\xFC", -1, 0 }, // the text typed in Latin-1 reads as "ü" too
        { "STRASSE", -1, -1 }, // no folding beyond one letter to one
        { "\xC3\x9F"
          "E",
            -1, 2 }, // "ßE": ß has no capital in Latin-1
        { "\xC3\xB7", -1, -1 }, // "÷" is not the lower case of "×"
        { "\xC3\x97", -1, 2 },
        { "\xC3\xBF\xC3\xBE", -1, 3 }, // "ÿþ", what Latin-1 makes of the bytes
        { "hne", 0, 1 },
    };
    for (const auto& c : cases)
        EXPECT_EQ(FindAmplifier(list, c.text, c.after), c.found) << c.text << " after " << c.after;
}

// Every capital of Latin-1, U+00C0..U+00DE but U+00D7, finds its small letter (U+0020 higher) and
// the other way round, in UTF-8 and in Latin-1 names alike; the letters just outside stay apart.
TEST(AmplifierMatcher, FoldsEveryLatin1CapitalAcrossTheWholeRange)
{
    const auto utf8 = [](unsigned code) {
        return std::string { static_cast<char>(0xC0 | code >> 6), static_cast<char>(0x80 | (code & 0x3F)) };
    };
    for (unsigned capital = 0xC0; capital <= 0xDE; ++capital) {
        if (capital == 0xD7)
            continue;
        const unsigned small = capital + 0x20;
        SCOPED_TRACE(::testing::Message() << std::hex << "U+" << capital);
        for (const std::string& name :
            { "x" + utf8(small) + "y", "x" + std::string(1, static_cast<char>(small)) + "y" })
            EXPECT_TRUE(AmplifierMatcher("X" + utf8(capital) + "Y").Contains(name));
        for (const std::string& name :
            { "x" + utf8(capital) + "y", "x" + std::string(1, static_cast<char>(capital)) + "y" })
            EXPECT_TRUE(AmplifierMatcher(utf8(small)).Contains(name));
    }
    // Outside the range: ¿ (U+00BF) is no capital of ß (U+00DF), ß none of ÿ (U+00FF).
    EXPECT_FALSE(AmplifierMatcher(utf8(0xBF)).Contains(utf8(0xDF)));
    EXPECT_FALSE(AmplifierMatcher(utf8(0xDF)).Contains(utf8(0xFF)));
    EXPECT_FALSE(AmplifierMatcher(utf8(0xFF)).Contains(utf8(0xDF)));
}

TEST(FindAmplifier, EmptyListFindsNothing)
{
    const AmplifierList list;
    EXPECT_EQ(FindAmplifier(list, "a", -1), -1);
    EXPECT_EQ(FindAmplifier(list, "a", 0), -1);
}

} // namespace
