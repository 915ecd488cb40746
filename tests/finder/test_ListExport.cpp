#include "finder/ListExport.h"
#include "support/CsvReader.h"
#include "support/TempTree.h"
#include "text/Strtools.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

namespace {

using std::chrono::seconds;
using TimePoint = std::chrono::system_clock::time_point;

// Local time is the process's TZ; each case sets it and puts it back.
class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char* zone)
    {
        if (const char* old = std::getenv("TZ"))
            FOld = old;
        ::setenv("TZ", zone, 1);
        ::tzset();
    }
    ~ScopedTimeZone()
    {
        if (FOld.empty())
            ::unsetenv("TZ");
        else
            ::setenv("TZ", FOld.c_str(), 1);
        ::tzset();
    }

private:
    std::string FOld;
};

TListedAmplifier Listed(
    const std::string& mac, const std::string& name, TimePoint first = {}, TimePoint last = {})
{
    TListedAmplifier a;
    a.Record.Mac = a.Record.MacKey = mac;
    a.Record.IP = "10.0.0.1";
    a.Record.NetMask = "255.255.255.0";
    a.Record.Gateway = "10.0.0.254";
    a.Record.Name = name;
    a.FirstSeen = first;
    a.LastSeen = last;
    return a;
}

TEST(IsoLocalTime, LocalTimeWithTheOffsetOfItsZone)
{
    const struct {
        const char* zone;
        long long epoch;
        const char* expected;
    } cases[] = {
        { "UTC0", 0, "1970-01-01T00:00:00+00:00" },
        { "<+0130>-1:30", 0, "1970-01-01T01:30:00+01:30" },
        { "<-0330>3:30", 59, "1969-12-31T20:30:59-03:30" },
        // Summer time: the offset of that moment, not of today.
        { "CET-1CEST,M3.5.0,M10.5.0/3", 1'782'907'200, "2026-07-01T14:00:00+02:00" },
        { "CET-1CEST,M3.5.0,M10.5.0/3", 1'796'130'000, "2026-12-01T14:00:00+01:00" },
    };
    for (const auto& c : cases) {
        ScopedTimeZone zone(c.zone);
        // Fractions of a second are cut, never rounded up into the next second.
        const TimePoint when = TimePoint(seconds(c.epoch)) + std::chrono::milliseconds(999);
        EXPECT_EQ(IsoLocalTime(when), c.expected) << c.zone;
    }
}

TEST(CsvField, NetworkTextIsNeutralisedQuotedAndMadeUtf8)
{
    const struct {
        std::string raw;
        std::string written;
    } cases[] = {
        { "Stage-Left", "Stage-Left" }, // quoted only where needed
        { "x=1", "x=1" }, // only a leading sign starts a formula
        { "=HYPERLINK(\"x\")", "\"'=HYPERLINK(\"\"x\"\")\"" }, // neutralised, then quoted
        { "\rx", "\"'\rx\"" }, { "B\xfchne", "B\xc3\xbchne" },
        { std::string("a\0b\x1b[2J\x7f", 8), "a\xe2\x90\x80\x62\xe2\x90\x9b[2J\x7f" }, // U+2400 + code
        { "\x01\x1f=1", "\xe2\x90\x81\xe2\x90\x9f=1" },
        { std::string("\0\xfc", 2), "\xe2\x90\x80\xc3\xbc" }, // NUL in Latin-1 text
    };
    for (const auto& c : cases)
        EXPECT_EQ(CsvField(c.raw), c.written) << c.raw;
}

// What the amplifier sent, and what a CSV reader must find in the file.
struct HostileCase {
    std::string sent;
    std::string read;
};

const HostileCase HostileFields[] = {
    { "=cmd|' /C calc'!A0", "'=cmd|' /C calc'!A0" },
    { "-1+1", "'-1+1" },
    { "@A1", "'@A1" },
    { "\t=1", "'\t=1" },
    { "\r=1", "'\r=1" },
    { "a,b,c", "a,b,c" },
    { "\"", "\"" },
    { "line\r\nbreak", "line\r\nbreak" },
    { "B\xfchne", "B\xc3\xbchne" },
    { "x\xe2\x82", "x\xc3\xa2\xc2\x82" }, // cut UTF-8: the whole field as Latin-1
    { "", "" },
};

TEST(SaveAmplifierCsv, ARealCsvReaderFindsEveryHostileFieldExactly)
{
    ScopedTimeZone zone("UTC0");
    TempTree files;
    std::vector<TListedAmplifier> list;
    int i = 0;
    for (const auto& c : HostileFields) {
        auto a = Listed("MAC" + std::to_string(i), c.sent, TimePoint(seconds(i)), TimePoint(seconds(i + 60)));
        a.Record.Flag = i % 2 == 1;
        list.push_back(a);
        ++i;
    }
    // The hostile texts in the other columns too.
    list[0].Record.Mac = "=MAC";
    list[0].Record.IP = "-1.2.3.4";
    list[0].Record.NetMask = "@mask";
    list[0].Record.Gateway = "+gw,\"1\"";
    list[1].Record.Gateway = std::string("\0\x1b\x07", 3);

    const std::string path = files.Path("amplifiers.csv");
    ASSERT_EQ(SaveAmplifierCsv(path, list, platform::TStreamTarget::Refuse), 0);
    std::string bytes;
    ASSERT_EQ(LoadRegularFile(path.c_str(), 1 << 20, bytes), 0);
    for (const char c : bytes)
        EXPECT_TRUE(static_cast<unsigned char>(c) >= 0x20 || c == '\t' || c == '\r' || c == '\n')
            << "control byte " << static_cast<int>(c) << " in the file";
    std::string error;
    const auto rows = ReadCsvWithPython(path, error);
    ASSERT_TRUE(rows) << error;
    ASSERT_EQ(rows->size(), list.size() + 1);
    EXPECT_EQ((*rows)[0],
        (std::vector<std::string> {
            "mac", "ip", "netmask", "gateway", "flag", "name", "first_seen", "last_seen" }));
    EXPECT_EQ((*rows)[1],
        (std::vector<std::string> { "'=MAC", "'-1.2.3.4", "'@mask", "'+gw,\"1\"", "0", HostileFields[0].read,
            "1970-01-01T00:00:00+00:00", "1970-01-01T00:01:00+00:00" }));
    for (size_t k = 1; k < list.size(); ++k) {
        const auto& row = (*rows)[k + 1];
        ASSERT_EQ(row.size(), 8u) << k;
        EXPECT_EQ(row[0], "MAC" + std::to_string(k));
        EXPECT_EQ(row[4], k % 2 == 1 ? "1" : "0");
        EXPECT_EQ(row[5], HostileFields[k].read) << HostileFields[k].sent;
        EXPECT_EQ(row[6], IsoLocalTime(TimePoint(seconds(k))));
    }
}

TEST(ListedAmplifiers, FirstSeenStaysLastSeenFollowsAndBothSurviveExpiry)
{
    AmplifierList list;
    const auto at = [](int s) { return TimePoint(seconds(1'000'000 + s)); };
    TTovrinData a, b, c;
    a.MacKey = "A";
    b.MacKey = "B";
    c.MacKey = "C";
    list.UpdateAmplifier(a, 0, at(0));
    list.UpdateAmplifier(b, 100, at(1));
    list.UpdateAmplifier(c, 200, at(2));
    list.UpdateAmplifier(c, 3000, at(30));
    list.UpdateAmplifier(a, 3000, at(31));
    // B falls silent: the rows behind it move up and keep their own times.
    ASSERT_EQ(list.RemoveStale(2000, 3000), 1);

    const auto rows = ListedAmplifiers(list);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].Record.MacKey, "A");
    EXPECT_EQ(rows[0].FirstSeen, at(0));
    EXPECT_EQ(rows[0].LastSeen, at(31));
    EXPECT_EQ(rows[1].Record.MacKey, "C");
    EXPECT_EQ(rows[1].FirstSeen, at(2));
    EXPECT_EQ(rows[1].LastSeen, at(30));
}

} // namespace
