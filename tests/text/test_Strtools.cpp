#include "platform/HostInfo.h"
#include "text/Strtools.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <locale.h>
#include <memory>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>
#include <utility>

namespace {

struct Split {
    bool found;
    std::string left, right;
};

Split SplitCopy(const std::string& source, const std::string& separator)
{
    Split s {};
    s.found = SplitAtFirst(source, s.left, separator, s.right);
    return s;
}

TEST(SplitAtFirst, SplitsAtFirstOccurrenceAndKeepsBlanksAndLaterSeparators)
{
    auto s = SplitCopy("Caption | notepad.exe", "|");
    EXPECT_TRUE(s.found);
    EXPECT_EQ(s.left, "Caption ");
    EXPECT_EQ(s.right, " notepad.exe");

    s = SplitCopy("a|b|c", "|");
    EXPECT_EQ(s.left, "a");
    EXPECT_EQ(s.right, "b|c");

    s = SplitCopy("a::b", "::");
    EXPECT_TRUE(s.found);
    EXPECT_EQ(s.left, "a");
    EXPECT_EQ(s.right, "b");

    s = SplitCopy("\"x|y\"|z", "|");
    EXPECT_EQ(s.left, "\"x");
}

TEST(SplitAtFirst, SeparatorAtEitherEnd)
{
    auto s = SplitCopy("|x", "|");
    EXPECT_TRUE(s.found);
    EXPECT_EQ(s.left, "");
    EXPECT_EQ(s.right, "x");

    s = SplitCopy("x|", "|");
    EXPECT_TRUE(s.found);
    EXPECT_EQ(s.left, "x");
    EXPECT_EQ(s.right, "");
}

TEST(SplitAtFirst, NotFoundGivesWholeTextLeftAndEmptyRight)
{
    std::string left = "old", right = "old";
    EXPECT_FALSE(SplitAtFirst("abc", left, "|", right));
    EXPECT_EQ(left, "abc");
    EXPECT_EQ(right, "");

    left = right = "old";
    EXPECT_FALSE(SplitAtFirst("abc", left, "", right));
    EXPECT_EQ(left, "abc");
    EXPECT_EQ(right, "");

    left = right = "old";
    EXPECT_FALSE(SplitAtFirst("", left, "|", right));
    EXPECT_EQ(left, "");
    EXPECT_EQ(right, "");
}

TEST(SplitAtFirst, PeelsFieldsInPlace)
{
    std::string rest = "udp:10.0.0.5:8001";
    std::string field;
    EXPECT_TRUE(SplitAtFirst(rest, field, ":", rest));
    EXPECT_EQ(field, "udp");
    EXPECT_EQ(rest, "10.0.0.5:8001");
    EXPECT_TRUE(SplitAtFirst(rest, field, ":", rest));
    EXPECT_EQ(field, "10.0.0.5");
    EXPECT_EQ(rest, "8001");
    EXPECT_FALSE(SplitAtFirst(rest, field, ":", rest));
    EXPECT_EQ(field, "8001");
    EXPECT_EQ(rest, "");
}

class TempDir : public ::testing::Test {
protected:
    std::filesystem::path dir = std::filesystem::temp_directory_path()
        / ("strtools-" + std::to_string(getpid()) + "-"
            + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    void SetUp() override { std::filesystem::create_directories(dir); }
    void TearDown() override { std::filesystem::remove_all(dir); }
    std::string Write(const std::string& name, const std::string& bytes)
    {
        const auto path = dir / name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path.string();
    }
};

using LoadFileBytesTest = TempDir;

using Block = TFileBytes;

TEST_F(LoadFileBytesTest, MissingFileGivesNullAndLeavesSize)
{
    uint32_t size = 77;
    Block block(LoadFileBytes((dir / "missing").c_str(), size));
    EXPECT_EQ(block, nullptr);
    EXPECT_EQ(size, 77u);
    EXPECT_EQ(FileSizeOf((dir / "missing").c_str()), -1);
    EXPECT_EQ(ReadFileBytes((dir / "missing").c_str(), nullptr, 0), -1);
}

TEST_F(LoadFileBytesTest, EmptyFileGivesReleasableBlockOfZeroBytes)
{
    uint32_t size = 77;
    Block block(LoadFileBytes(Write("empty", "").c_str(), size));
    EXPECT_NE(block, nullptr);
    EXPECT_EQ(size, 0u);
}

TEST_F(LoadFileBytesTest, LoadsEveryByteIncludingNulAndHighBytes)
{
    const std::string bytes("a\0b\r\n\xff", 6);
    uint32_t size = 0;
    Block block(LoadFileBytes(Write("bytes", bytes).c_str(), size));
    ASSERT_NE(block, nullptr);
    ASSERT_EQ(size, 6u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(block.get()), size), bytes);
}

// Only a regular file within the limit is read; a FIFO without a writer would hold the caller for
// ever. (The editor's tests go through devices, folders and a 4 GiB file.)
TEST_F(LoadFileBytesTest, OnlyRegularFilesWithinTheLimitAreReadAndNothingWaits)
{
    const auto fifo = dir / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const auto six = Write("six", "123456");
    const std::tuple<std::string, size_t, int, std::string> cases[] = {
        { six, 6, 0, "123456" },
        { six, 5, EFBIG, "kept" },
        { fifo.string(), 100, NotRegularFileError, "kept" },
    };
    for (const auto& [path, limit, error, read] : cases) {
        std::string bytes = "kept";
        EXPECT_EQ(LoadRegularFile(path.c_str(), limit, bytes), error) << path << " " << limit;
        EXPECT_EQ(bytes, read);
    }
    uint32_t size = 77;
    EXPECT_EQ(Block(LoadFileBytes(fifo.c_str(), size)), nullptr);
    EXPECT_EQ(size, 77u);
}

TEST_F(LoadFileBytesTest, ReadFileBytesReadsAtMostN)
{
    const auto path = Write("ten", "0123456789");
    unsigned char buffer[4] = {};
    EXPECT_EQ(ReadFileBytes(path.c_str(), buffer, 4), 4);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 4), "0123");
}

TEST_F(LoadFileBytesTest, FileOfTwoGibibytesIsRefusedNotMisread)
{
    // A sparse file takes no disk space but reports its full size.
    const auto path = Write("huge", "");
    std::filesystem::resize_file(path, (uint64_t(1) << 31) + 5);
    EXPECT_EQ(FileSizeOf(path.c_str()), -1);
    uint32_t size = 77;
    Block block(LoadFileBytes(path.c_str(), size));
    EXPECT_EQ(block, nullptr);
    EXPECT_EQ(size, 77u);
}

TEST(TrimText, RemovesBlanksAndControlCharactersAtBothEndsOnly)
{
    const std::pair<const char*, const char*> cases[] = {
        { " \t1395\r\n", "1395" }, { "14 *QTRX", "14 *QTRX" },
        { "\x01\x1f x \x7f", "x \x7f" }, // DEL is not a control character here
        { "   ", "" }, { "", "" }, { "\xC3\xA4 ", "\xC3\xA4" }, // bytes above 127 are kept
    };
    for (const auto& [text, trimmed] : cases)
        EXPECT_EQ(TrimText(text), trimmed) << text;
}

TEST(SystemErrorText, KnownCodeEndsInLineBreakUnknownIsEmpty)
{
    const std::string text = SystemErrorText(ENOENT);
    EXPECT_EQ(text, "No such file or directory\n");
    EXPECT_EQ(SystemErrorText(987654), "");
}

// The same under a language whose messages are translated: a German locale made for the test from
// the C locale's data (so no installed locale is needed), with the system's German messages.
TEST(SystemErrorText, UnknownCodeIsEmptyInATranslatedLanguageToo)
{
    std::string made = (std::filesystem::temp_directory_path() / "tovrin-locales-XXXXXX").string();
    if (mkdtemp(made.data()) == nullptr)
        GTEST_SKIP() << "no temporary folder";
    const std::filesystem::path root = made;
    const std::string command
        = "localedef -i C -f UTF-8 " + (root / "de_DE.UTF-8").string() + " >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) {
        std::filesystem::remove_all(root);
        GTEST_SKIP() << "localedef cannot make a locale here";
    }
    setenv("LOCPATH", root.c_str(), 1);
    const locale_t german = newlocale(LC_ALL_MASK, "de_DE.UTF-8", locale_t {});
    unsetenv("LOCPATH");
    std::filesystem::remove_all(root);
    if (german == locale_t {})
        GTEST_SKIP() << "the made locale cannot be loaded";
    const locale_t previous = uselocale(german);
    char buffer[256];
    const std::string unknown = strerror_r(987654, buffer, sizeof buffer);
    const std::string text = SystemErrorText(987654);
    const std::string known = SystemErrorText(ENOENT);
    uselocale(previous);
    freelocale(german);
    if (unknown.rfind("Unknown error", 0) == 0)
        GTEST_SKIP() << "the system has no translated messages";
    EXPECT_EQ(text, "") << unknown;
    EXPECT_FALSE(known.empty());
    EXPECT_NE(known, "No such file or directory\n") << "the known text comes in the language";
}

TEST(FormatText, FormatsLongTextsWhole)
{
    EXPECT_EQ(FormatText("%08x:%s", 255u, "/tmp/a.bin"), "000000ff:/tmp/a.bin");
    const std::string longText(5000, 'x');
    EXPECT_EQ(FormatText("<%s>", longText.c_str()), "<" + longText + ">");
    EXPECT_EQ(FormatText("%s", ""), "");
}

TEST(StrToIntLoose, BehavesLikeAtoi)
{
    EXPECT_EQ(StrToIntLoose("  42x"), 42);
    EXPECT_EQ(StrToIntLoose("-7"), -7);
    EXPECT_EQ(StrToIntLoose("+9000"), 9000);
    EXPECT_EQ(StrToIntLoose("abc"), 0);
    EXPECT_EQ(StrToIntLoose(""), 0);
}

TEST(GetLocalDnsDomain, IsTheDomainPartOfTheCanonicalName)
{
    EXPECT_EQ(platform::DnsDomainOf("amp-host.lab.example.org"), "lab.example.org");
    EXPECT_EQ(platform::DnsDomainOf("plainhost"), "");
}

// What the system's own tool says this computer's DNS domain is.
TEST(GetLocalDnsDomain, AgreesWithHostnameDashD)
{
    std::unique_ptr<FILE, int (*)(FILE*)> tool(::popen("hostname -d 2>/dev/null", "r"), ::pclose);
    ASSERT_TRUE(tool);
    std::string printed;
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, tool.get()) != nullptr)
        printed += buffer;
    if (::pclose(tool.release()) != 0)
        GTEST_SKIP() << "hostname -d failed here";
    while (!printed.empty() && (printed.back() == '\n' || printed.back() == ' '))
        printed.pop_back();
    EXPECT_EQ(GetLocalDnsDomain(), printed);
}

} // namespace
