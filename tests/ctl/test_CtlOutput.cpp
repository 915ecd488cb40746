// The command-line program's pieces that need no network: the interface choice, texts for the
// terminal and for JSON, tables, progress lines, times and audit records.

#include "ctl/CtlCommon.h"
#include "ctl/CtlInterfaces.h"
#include "ctl/CtlOutput.h"
#include "ctl/FileDigest.h"
#include "ctl/Rollout.h"
#include "ctl/VersionQuery.h"
#include "text/Strtools.h"
#include "text/TextEncoding.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <unistd.h>

TEST(ChooseInterfaceAddress, ByNameOrAddressAndOnlyWhenUnambiguous)
{
    const std::vector<TCtlInterface> interfaces { { "eth0", "10.0.0.1" }, { "eth1", "10.0.1.1" },
        { "eth1", "10.0.1.2" } };
    struct Case {
        std::string choice;
        std::vector<TCtlInterface> list;
        std::string address; // empty: refused
    };
    const Case cases[] = {
        { "eth0", interfaces, "10.0.0.1" },
        { "10.0.1.2", interfaces, "10.0.1.2" },
        { "eth1", interfaces, "" }, // two addresses: which one?
        { "", interfaces, "" }, // several interfaces
        { "wlan0", interfaces, "" },
        { "10.0.0", interfaces, "" },
        { "", { { "eth0", "10.0.0.1" } }, "10.0.0.1" },
        { "", {}, "" },
    };
    for (const Case& c : cases) {
        std::string error;
        EXPECT_EQ(ChooseInterfaceAddress(c.choice, c.list, error), c.address) << c.choice;
        EXPECT_EQ(error.empty(), !c.address.empty()) << c.choice << ": " << error;
    }
}

TEST(CtlOutput, NetworkTextCannotSteerTheTerminalAndJsonKeepsEveryByte)
{
    const struct {
        std::string text, shown;
    } terminal[] = {
        { "Amp\x1b[2J\x07-1\x7f", "Amp\\x1b[2J\\x07-1\\x7f" },
        { "B\xc3\xbchne 1", "B\xc3\xbchne 1" },
        { "\xe6\x97\xa5\xe6\x9c\xac e\xcc\x81", "\xe6\x97\xa5\xe6\x9c\xac e\xcc\x81" }, // wide, combining
        // C1 controls as UTF-8 (CSI, OSC) and as raw bytes.
        { "a\xc2\x9b" "2J\xc2\x9d" "0;t\xc2\x9c", "a\\xc2\\x9b2J\\xc2\\x9d0;t\\xc2\\x9c" },
        { "\xc2\x80\xc2\x9f\xc2\xa0", "\\xc2\\x80\\xc2\\x9f\xc2\xa0" },
        { "a\x9b" "2J\x80\x9f", "a\\x9b2J\\x80\\x9f" },
        // No UTF-8: cut short, overlong, a surrogate, beyond Unicode, Latin-1.
        { "x\xe2\x82", "x\\xe2\\x82" },
        { "\xc0\x9b\xed\xa0\x80", "\\xc0\\x9b\\xed\\xa0\\x80" },
        { "\xf4\x90\x80\x80" "B\xfc" "hne", "\\xf4\\x90\\x80\\x80B\\xfchne" },
        // A backslash is doubled, so a typed "\x1b" and a real ESC differ.
        { "\\x1b", "\\\\x1b" },
        { "a\\\x1b\\", "a\\\\\\x1b\\\\" },
    };
    for (const auto& c : terminal)
        EXPECT_EQ(TerminalSafe(c.text), c.shown) << c.shown;
    EXPECT_EQ(JsonText("B\xc3\xbchne"), "B\xc3\xbchne");
    // Not UTF-8: each byte read as Latin-1.
    EXPECT_EQ(JsonText("B\xfchne"), "B\xc3\xbchne");
    EXPECT_EQ(JsonText("x\xe2\x82"), "x\xc3\xa2\xc2\x82");
    EXPECT_EQ(JsonText("\xed\xa0\x80"), "\xc3\xad\xc2\xa0\xc2\x80"); // a surrogate is no UTF-8
    TTovrinData amp;
    amp.Mac = "0050C2A10001";
    amp.IP = "198.18.1.1";
    amp.NetMask = "255.255.0.0";
    amp.Gateway = "0.0.0.0";
    amp.Flag = true;
    amp.Name = "<b>\xff";
    EXPECT_EQ(JsonLine(AmplifierJson(amp)),
        "{\"flag\":\"1\",\"gateway\":\"0.0.0.0\",\"ip\":\"198.18.1.1\",\"mac\":\"0050C2A10001\","
        "\"name\":\"<b>\xc3\xbf\",\"netmask\":\"255.255.0.0\"}");
}

namespace {

// A character of U+0800..U+FFFF in UTF-8.
std::string Utf8Of(uint32_t code)
{
    return { static_cast<char>(0xE0 | code >> 12), static_cast<char>(0x80 | (code >> 6 & 0x3F)),
        static_cast<char>(0x80 | (code & 0x3F)) };
}

} // namespace

// Bidirectional and invisible format characters would reorder or hide text: each range shown as
// \u{...} at both its ends, the neighbours outside the ranges kept as they are.
TEST(CtlOutput, BidiAndInvisibleFormatCharactersAreShownAsCodes)
{
    const struct {
        uint32_t first, last;
    } escaped[] = { { 0x200B, 0x200F }, { 0x202A, 0x202E }, { 0x2060, 0x2064 }, { 0x2066, 0x2069 },
        { 0xFEFF, 0xFEFF } };
    const uint32_t kept[] = { 0x200A, 0x2010, 0x2029, 0x202F, 0x205F, 0x2065, 0x206A, 0xFEFE };
    for (const auto& range : escaped)
        for (const uint32_t code : { range.first, range.last, (range.first + range.last) / 2 })
            EXPECT_EQ(TerminalSafe("a" + Utf8Of(code) + "b"), FormatText("a\\u{%04X}b", code)) << code;
    for (const uint32_t code : kept)
        EXPECT_EQ(TerminalSafe(Utf8Of(code)), Utf8Of(code)) << code;
    // "Trojan Source": an override that would show "Amp-1" reversed.
    EXPECT_EQ(TerminalSafe("\xE2\x80\xAE\x31-pmA\xE2\x80\x8B"), "\\u{202E}1-pmA\\u{200B}");
    // Only the terminal's text: JSON keeps them exact.
    EXPECT_EQ(JsonText("\xE2\x80\xAEx"), "\xE2\x80\xAEx");
}

TEST(CtlOutput, CellsMarkBlanksAtTheirEnds)
{
    const struct {
        std::string text, shown;
    } cases[] = {
        { "FW 2.1.0", "FW 2.1.0" },
        { "FW 2.1.0 ", "FW 2.1.0\\x20" },
        { "  FW", "\\x20\\x20FW" },
        { " ", "\\x20" },
        { "FW\t", "FW\\x09" },
        { "", "-" },
    };
    for (const auto& c : cases)
        EXPECT_EQ(Cell(c.text), c.shown) << '"' << c.text << '"';
}

// The line's ending, LF or CR LF, is no part of the version; every other byte is.
TEST(VersionOfLine, DropsTheCrOfACrLfEndingOnly)
{
    const struct {
        std::string line, version;
    } cases[] = {
        { "FW 2.1.0", "FW 2.1.0" },
        { "FW 2.1.0\r", "FW 2.1.0" },
        { "FW 2.1.0 ", "FW 2.1.0 " },
        { " FW 2.1.0 \r", " FW 2.1.0 " },
        { "FW\r2\r\r", "FW\r2\r" },
        { "\r", "" },
        { "", "" },
    };
    for (const auto& c : cases)
        EXPECT_EQ(VersionOfLine(c.line), c.version) << c.version;
}

TEST(CtlOutput, TablesAlignTheirColumns)
{
    EXPECT_EQ(AlignedTable({ { "MAC", "IP" }, { "0050C2A10001", "1.2.3.4" }, { "x", "" } }),
        "MAC           IP\n0050C2A10001  1.2.3.4\nx\n");
    // By display width: a wide character takes two columns, a combining mark none.
    EXPECT_EQ(AlignedTable({ { "\xe6\x97\xa5\xe6\x9c\xac", "x" }, { "e\xcc\x81", "y" }, { "\\x9b", "z" } }),
        "\xe6\x97\xa5\xe6\x9c\xac  x\ne\xcc\x81     y\n\\x9b  z\n");
}

TEST(CtlOutput, ProgressLineShowsShareBytesRateAndTimeLeft)
{
    EXPECT_EQ(
        ProgressLine(50000000, 100000000, 2.0, 10), "[#####.....]  50%  50.0/100.0 MB  25.0 MB/s  0:02 left");
    EXPECT_EQ(
        ProgressLine(100000000, 100000000, 65.0, 10), "[##########] 100%  100.0/100.0 MB  1.5 MB/s  1:05");
    EXPECT_EQ(ProgressLine(0, 0, 0.0, 4), "[####] 100%  0.0/0.0 MB  0.0 MB/s  0:00");
}

TEST(CtlOutput, AuditRecordsCarryEveryField)
{
    TAuditRecord record;
    record.Time = IsoTimeUtc(std::chrono::system_clock::time_point(std::chrono::milliseconds(86401500)));
    EXPECT_EQ(record.Time, "1970-01-02T00:00:01.500Z");
    record.Mac = "0050C2A10001";
    record.IP = "198.18.1.1";
    record.Name = "Amp-0001";
    record.File = "fw.bin";
    record.Size = 1000;
    record.Sha256 = "ab";
    record.Version = "AMPSIM V1.0";
    record.Ok = true;
    record.Seconds = 0.5;
    record.LastLine = "FILE_UPLOAD_DONE";
    EXPECT_EQ(JsonLine(AuditJson(record)),
        "{\"file\":\"fw.bin\",\"ip\":\"198.18.1.1\",\"last_line\":\"FILE_UPLOAD_DONE\",\"mac\":"
        "\"0050C2A10001\","
        "\"name\":\"Amp-0001\",\"result\":\"ok\",\"seconds\":0.5,\"sha256\":\"ab\",\"size\":1000,"
        "\"time\":\"1970-01-02T00:00:01.500Z\",\"version\":\"AMPSIM V1.0\"}");
    record.Ok = false;
    EXPECT_EQ(AuditJson(record)["result"], "failed");
}

TEST(FileDigest, Sha256OfAKnownText)
{
    char path[] = "/tmp/tovrin-digest-XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, "abc", 3), 3);
    close(fd);
    std::string error;
    EXPECT_EQ(Sha256OfFile(path, error), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    unlink(path);
    EXPECT_EQ(Sha256OfFile(path, error), "");
    EXPECT_FALSE(error.empty());
}

TEST(CtlOutput, LiveTablesFitTheTerminalWithoutCuttingCharactersApart)
{
    using Lines = std::vector<std::string>;
    const std::string table = "MAC  NAME\nA1   B\xc3\xbchne\nA2   Foyer\nA3   Bar\n";
    const struct {
        int columns, rows;
        Lines expected;
    } cases[] = {
        { 0, 0, { "MAC  NAME", "A1   B\xc3\xbchne", "A2   Foyer", "A3   Bar" } },
        { 80, 24, { "MAC  NAME", "A1   B\xc3\xbchne", "A2   Foyer", "A3   Bar" } },
        // One column stays free; the two bytes of the u umlaut count as one.
        { 8, 0, { "MAC  NA", "A1   B\xc3\xbc", "A2   Fo", "A3   Ba" } },
        { 7, 0, { "MAC  N", "A1   B", "A2   F", "A3   B" } },
        { 1, 0, { "", "", "", "" } },
        // The last row stays free for the cursor; what does not fit is counted.
        { 0, 5, { "MAC  NAME", "A1   B\xc3\xbchne", "A2   Foyer", "A3   Bar" } },
        { 0, 4, { "MAC  NAME", "A1   B\xc3\xbchne", "... 2 more lines" } },
        { 12, 3, { "MAC  NAME", "... 3 more " } },
        { 0, 2, { "... 4 more lines" } },
        { 0, 1, {} },
    };
    for (const auto& c : cases)
        EXPECT_EQ(FitToScreen(table, c.columns, c.rows), c.expected) << c.columns << "x" << c.rows;

    // Wide characters take two columns, combining marks none: cut by what is drawn.
    const std::string wide = "A\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e\ne\xcc\x81\xcc\x81xyz\n";
    const struct {
        int columns;
        Lines expected;
    } wideCases[] = {
        { 7, { "A\xe6\x97\xa5\xe6\x9c\xac", "e\xcc\x81\xcc\x81xyz" } },
        { 5, { "A\xe6\x97\xa5", "e\xcc\x81\xcc\x81xyz" } },
        { 4, { "A\xe6\x97\xa5", "e\xcc\x81\xcc\x81xy" } },
        { 2, { "A", "e\xcc\x81\xcc\x81" } },
    };
    for (const auto& c : wideCases)
        EXPECT_EQ(FitToScreen(wide, c.columns, 0), c.expected) << c.columns;
}
