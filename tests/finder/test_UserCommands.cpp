// The menu file and the command line, window-free: entries read from real files, the default
// text, the split into program and arguments, and where the file lives.

#include "finder/UserCommands.h"

#include "platform/UniqueFd.h"
#include "text/Strtools.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

static bool operator==(const TMenuEntry& a, const TMenuEntry& b)
{
    return a.Caption == b.Caption && a.Template == b.Template;
}

static std::ostream& operator<<(std::ostream& out, const TMenuEntry& e)
{
    return out << "{" << e.Caption << " | " << e.Template << "}";
}

namespace {

TEST(UserCommands, EntriesAreTrimmedSplitAtFirstBarAndCommentsSkipped)
{
    const std::string text = "  \t&Ping |  ping <IP>  \r\n"
                             "# comment\n"
                             "   # indented comment\r"
                             "\r\n"
                             " \x01\x1f \r\n"
                             "a | b | c\n"
                             "No bar here\r\n"
                             "Same|one\n"
                             "Same|two\n"
                             "|empty caption\n"
                             "x#y|#not a comment";
    const std::vector<TMenuEntry> expected {
        { "&Ping", "ping <IP>" },
        { "a", "b | c" },
        { "No bar here", "" },
        { "Same", "one" },
        { "Same", "two" },
        { "", "empty caption" },
        { "x#y", "#not a comment" },
    };
    EXPECT_EQ(ReadMenuEntries(text), expected);
    EXPECT_TRUE(ReadMenuEntries("").empty());
}

// A byte order mark as some editors write it: skipped at the start of the file only.
TEST(UserCommands, ByteOrderMarkAtTheStartIsSkipped)
{
    struct Case {
        std::string text;
        std::vector<TMenuEntry> entries;
    };
    const Case cases[] = {
        { "\xEF\xBB\xBF# comment\r\nping | ping <IP>", { { "ping", "ping <IP>" } } },
        { "\xEF\xBB\xBFping | ping <IP>", { { "ping", "ping <IP>" } } },
        { "a | b\n\xEF\xBB\xBF# not at the start",
            { { "a", "b" }, { "\xEF\xBB\xBF# not at the start", "" } } },
    };
    for (const Case& c : cases)
        EXPECT_EQ(ReadMenuEntries(c.text), c.entries) << c.text;
}

TEST(UserCommands, DefaultTextIs984BytesOfCommentLines)
{
    const std::string text = DefaultMenuText();
    ASSERT_EQ(text.size(), 984u);
    const TStringToks lines = SplitLines(text);
    ASSERT_EQ(lines.size(), 13u);
    EXPECT_EQ(lines.back(), "") << "ends with CR LF";
    for (size_t i = 0; i < 12; ++i) {
        EXPECT_EQ(lines[i].size(), 80u);
        EXPECT_EQ(text.substr(i * 82 + 80, 2), "\r\n");
    }
    EXPECT_EQ(TrimText(lines[0]),
        "# This file defines context menu items to each amplifier displayed in the list.");
    EXPECT_EQ(TrimText(lines[7]), "# or with optional with a default value <?ParameterName:DefaultValue>");
    EXPECT_EQ(TrimText(lines[11]), "# telnet to port ...| telnet.exe <IP> <?Port>");
    EXPECT_TRUE(ReadMenuEntries(text).empty());
}

TEST(UserCommands, ProgramAndParameters)
{
    struct Case {
        std::string line, program, parameters;
        std::vector<std::string> arguments;
    };
    const Case cases[] = {
        { "ping 10.0.0.7", "ping", "10.0.0.7", { "10.0.0.7" } },
        { "\"C:\\Program Files\\Tool\\tool.exe\" -a 10.0.0.7", "C:\\Program Files\\Tool\\tool.exe",
            " -a 10.0.0.7", { "-a", "10.0.0.7" } },
        { "\"/opt/my tool/run -x", "/opt/my tool/run -x", "", {} },
        { "notepad", "notepad", "", {} },
        { "", "", "", {} },
        { "a  \"b c\"  d\"e f\"g \"\" \"x\"\"y\"", "a", " \"b c\"  d\"e f\"g \"\" \"x\"\"y\"",
            { "b c", "de fg", "", "x\"y" } },
        { "echo $(id) `id` ;rm ~ *>x", "echo", "$(id) `id` ;rm ~ *>x",
            { "$(id)", "`id`", ";rm", "~", "*>x" } },
        { "echo 'a b'", "echo", "'a b'", { "'a", "b'" } },
        { "ping -c\t3", "ping", "-c\t3", { "-c", "3" } },
    };
    for (const Case& c : cases) {
        std::string program = "old", parameters = "old";
        SplitProgramAndParameters(c.line, program, parameters);
        EXPECT_EQ(program, c.program) << c.line;
        EXPECT_EQ(parameters, c.parameters) << c.line;
        EXPECT_EQ(SplitParameters(parameters), c.arguments) << c.line;
    }
}

TEST(UserCommands, MenuFileBesideAPortableCopyElseTheUsersOwnOverTheDefaults)
{
    const std::string name = MenuFileName;
    struct Case {
        TMenuFilePlaces places;
        std::string own;
        std::vector<std::string> defaults;
    };
    const Case cases[] = {
        { { "/home/u/tovrin", true, "/x", "/home/u", "/etc/xdg" }, "/home/u/tovrin/" + name, {} },
        { { "/usr/bin", true, "", "/root", "" }, "/root/.config/tovrin/" + name,
            { "/etc/xdg/tovrin/" + name, "/usr/bin/" + name } },
        { { "/usr", true, "", "/root", "" }, "/root/.config/tovrin/" + name,
            { "/etc/xdg/tovrin/" + name, "/usr/" + name } },
        { { "/usrlocal", true, "", "/home/u", "" }, "/usrlocal/" + name, {} },
        { { "/opt/tovrin", false, "/home/u/cfg/", "/home/u", "/site/xdg/:relative::/etc/xdg" },
            "/home/u/cfg/tovrin/" + name,
            { "/site/xdg/tovrin/" + name, "/etc/xdg/tovrin/" + name, "/opt/tovrin/" + name } },
        { { "/usr/local/bin", false, "relative/cfg", "/home/u", "relative" },
            "/home/u/.config/tovrin/" + name, { "/etc/xdg/tovrin/" + name, "/usr/local/bin/" + name } },
    };
    for (const Case& c : cases) {
        const TMenuFiles files = ChooseMenuFiles(c.places);
        EXPECT_EQ(files.Own, c.own) << c.places.ExecutableFolder;
        EXPECT_EQ(files.Defaults, c.defaults) << c.places.ExecutableFolder;
    }
}

TEST(UserCommands, SaveCreatesTheConfigFolderAndReplacesTheFileWhole)
{
    const fs::path root = fs::temp_directory_path() / ("tovrin-menu-" + std::to_string(::getpid()));
    fs::remove_all(root);
    const std::string path = (root / "cfg" / "tovrin" / MenuFileName).string();
    ASSERT_EQ(SaveMenuFile(path, DefaultMenuText()), 0);
    EXPECT_EQ(fs::file_size(path), 984u);
    ASSERT_EQ(SaveMenuFile(path, "a|b"), 0);
    std::ifstream in(path, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "a|b");
    EXPECT_EQ(std::distance(fs::directory_iterator(root / "cfg" / "tovrin"), {}), 1)
        << "no temporary file left";
    // A file where the folder should be.
    std::ofstream((root / "blocked").string()) << "x";
    EXPECT_EQ(SaveMenuFile((root / "blocked" / MenuFileName).string(), "x"), ENOTDIR);
    // The window that saves it does not write into a pipe, even one with a reader.
    const std::string fifo = (root / "fifo").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    UniqueFd reader(::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    EXPECT_EQ(SaveMenuFile(fifo, "x"), NotRegularFileError);
    fs::remove_all(root);
}

} // namespace
