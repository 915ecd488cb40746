// Starting programs without a shell, as real processes: a recording program stands in for the
// user's programs, and recording stand-ins for the terminal and the desktop's opener.

#include "platform/DesktopLaunch.h"

#include "support/StandInDesktop.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

namespace fs = std::filesystem;
using platform::StartCommand;

namespace {

bool NoChildLeft()
{
    return waitpid(-1, nullptr, WNOHANG) < 0 && errno == ECHILD;
}

std::string WaitForOutput(const StandInDesktop& desktop, const std::string& part)
{
    for (int waited = 0; waited < 10000; waited += 20) {
        if (desktop.TerminalOutput().find(part) != std::string::npos)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return desktop.TerminalOutput();
}

TEST(DesktopLaunch, FindExecutableSearchesPathLikeExecvp)
{
    StandInDesktop desktop;
    const std::string probe = desktop.AddProgram("probe");
    std::ofstream(desktop.Bin + "/plain") << "text";
    int error = 0;
    EXPECT_EQ(platform::FindExecutable("probe", error), probe);
    EXPECT_EQ(platform::FindExecutable(probe, error), probe);
    EXPECT_EQ(platform::FindExecutable("plain", error), "");
    EXPECT_EQ(error, EACCES);
    EXPECT_EQ(platform::FindExecutable("no-such-program-here", error), "");
    EXPECT_EQ(error, ENOENT);
    EXPECT_EQ(platform::FindExecutable(desktop.Bin, error), "") << "a folder is no program";
    EXPECT_EQ(platform::FindExecutable("", error), "");
}

TEST(DesktopLaunch, ConsoleOrWindowProgramFromTheExecutableItself)
{
    StandInDesktop desktop;
    const std::string script = desktop.Folder + "/script";
    std::ofstream(script) << "#!/bin/sh\necho hi\n";
    const std::string text = desktop.Folder + "/text";
    std::ofstream(text) << "not a program at all";
    // The recording program with its need of the C library renamed to an X library: the same
    // file, only its list of needed libraries differs.
    std::ifstream in(RecordArgsProgram(), std::ios::binary);
    std::string elf(std::istreambuf_iterator<char>(in), {});
    const auto libc = elf.find(std::string("libc.so.6\0", 10));
    ASSERT_NE(libc, std::string::npos);
    elf.replace(libc, 9, "libX1.so.");
    const std::string patched = desktop.Folder + "/patched";
    std::ofstream(patched, std::ios::binary) << elf;

    EXPECT_TRUE(platform::IsConsoleProgram(RecordArgsProgram()));
    EXPECT_TRUE(platform::IsConsoleProgram("/bin/sh"));
    EXPECT_TRUE(platform::IsConsoleProgram(script));
    EXPECT_FALSE(platform::IsConsoleProgram(patched));
    EXPECT_FALSE(platform::IsConsoleProgram(text));
    if (!RecordArgsWindowProgram().empty()) {
        EXPECT_FALSE(platform::IsConsoleProgram(RecordArgsWindowProgram()));
    }
}

TEST(DesktopLaunch, UrlsHaveASchemeOfTwoOrMoreCharacters)
{
    for (const char* url : { "http://10.0.0.5/", "https://x", "mailto:a@b", "ssh+git://h", "x-y.z:1" })
        EXPECT_TRUE(platform::IsUrl(url)) << url;
    for (const char* other : { "C:\\temp", "/usr/bin", "ping", "1http://x", ":x", "a b:c", "" })
        EXPECT_FALSE(platform::IsUrl(other)) << other;
}

TEST(DesktopLaunch, ConsoleProgramRunsInATerminalWithItsArgumentsUntouched)
{
    StandInDesktop desktop;
    const std::string probe = desktop.AddProgram("probe");
    setenv("RECORD_EXIT", "5", 1);
    const std::vector<std::string> args { "$(touch${IFS}X)", ";touch X", "`id`", "a b", "~", "*", "" };
    const auto result = StartCommand("probe", args, desktop.Programs);
    EXPECT_EQ(result.Error, 0) << result.Note;
    EXPECT_TRUE(NoChildLeft()) << "the started program is no child of ours";

    const auto runs = desktop.Runs(2);
    ASSERT_EQ(runs.size(), 2u);
    const RecordedRun& terminal = runs[0];
    EXPECT_EQ(terminal.Args[0], desktop.Programs.Terminal);
    EXPECT_EQ(terminal.Args[1], "-e");
    EXPECT_EQ(terminal.Stdin, "/dev/null");
    EXPECT_NE(terminal.SessionId, getsid(0));
    EXPECT_NE(terminal.ParentPid, getpid());
    EXPECT_EQ(terminal.Folder, desktop.Folder);
    std::vector<std::string> probeArgs { probe };
    probeArgs.insert(probeArgs.end(), args.begin(), args.end());
    EXPECT_EQ(runs[1].Args, probeArgs);
    EXPECT_NE(WaitForOutput(desktop, "exit status 5").find("[" + probe + " ended with exit status 5]"),
        std::string::npos)
        << desktop.TerminalOutput();
    EXPECT_FALSE(fs::exists(desktop.Folder + "/X"));
}

TEST(DesktopLaunch, WindowProgramStartsDirectlyAndDetached)
{
    if (RecordArgsWindowProgram().empty())
        GTEST_SKIP() << "no X client library to build a window program with";
    StandInDesktop desktop;
    desktop.AddProgram("viewer", RecordArgsWindowProgram());
    const auto result = StartCommand("viewer.exe", { "--open", "a b" }, desktop.Programs);
    EXPECT_EQ(result.Error, 0);
    EXPECT_TRUE(NoChildLeft());
    const auto runs = desktop.Runs(1);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].Args, (std::vector<std::string> { "viewer.exe", "--open", "a b" }));
    EXPECT_EQ(runs[0].Stdin, "/dev/null");
    EXPECT_NE(runs[0].SessionId, getsid(0));
}

TEST(DesktopLaunch, FoldersDocumentsAndUrlsGoToTheOpener)
{
    StandInDesktop desktop;
    const std::string document = desktop.Folder + "/notes.txt";
    std::ofstream(document) << "x";
    const std::string targets[]
        = { "http://198.51.100.7/status?a=1&b=2", desktop.Folder, document, "notes.txt" };
    for (const std::string& target : targets)
        EXPECT_EQ(StartCommand(target, { "ignored" }, desktop.Programs).Error, 0) << target;
    // Detached, they may record themselves in any order.
    std::vector<std::vector<std::string>> given, expected;
    for (const auto& run : desktop.Runs(4))
        given.push_back(run.Args);
    for (const std::string& target : targets)
        expected.push_back({ desktop.Programs.Opener, target });
    std::sort(given.begin(), given.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(given, expected);
}

TEST(DesktopLaunch, FailuresReportAnErrorCodeAndStartNothing)
{
    StandInDesktop desktop;
    std::ofstream(desktop.Bin + "/plain") << "text";
    EXPECT_EQ(StartCommand("", {}, desktop.Programs).Error, ENOENT);
    EXPECT_EQ(StartCommand("no-such-program.exe", {}, desktop.Programs).Error, ENOENT);
    EXPECT_EQ(StartCommand("plain", {}, desktop.Programs).Error, EACCES);

    desktop.AddProgram("probe");
    platform::TDesktopPrograms missing { "/nonexistent/opener", "/nonexistent/terminal" };
    auto result = StartCommand("probe", {}, missing);
    EXPECT_EQ(result.Error, ENOENT);
    EXPECT_NE(result.Note.find("terminal"), std::string::npos);
    result = StartCommand("http://x/", {}, missing);
    EXPECT_EQ(result.Error, ENOENT);
    EXPECT_NE(result.Note.find("/nonexistent/opener"), std::string::npos);

    EXPECT_EQ(
        platform::SpawnDetached(desktop.Bin + "/probe", { "probe" }, desktop.Folder + "/missing"), ENOENT);
    EXPECT_EQ(platform::SpawnDetached(desktop.Bin + "/plain", { "plain" }), EACCES);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_TRUE(desktop.RunsSoFar().empty());
    EXPECT_TRUE(NoChildLeft());
}

TEST(DesktopLaunch, TerminalOpensInAFolder)
{
    StandInDesktop desktop;
    const std::string folder = desktop.Folder + "/Project 1395";
    fs::create_directory(folder);
    EXPECT_EQ(platform::OpenTerminalIn(folder, desktop.Programs).Error, 0);
    const auto runs = desktop.Runs(1);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].Folder, folder);
    EXPECT_EQ(runs[0].Args, std::vector<std::string> { desktop.Programs.Terminal });
}

TEST(DesktopLaunch, TerminalsAreToldTheirFolderTheirOwnWay)
{
    StandInDesktop desktop;
    const std::string folder = desktop.Folder + "/Project 1395";
    fs::create_directory(folder);
    desktop.CopyProgram("konsole");
    desktop.CopyProgram("xterm");
    // The link is named for the desktop's choice; the terminal it leads to decides.
    fs::create_symlink(desktop.CopyProgram("gnome-terminal.wrapper"), desktop.Bin + "/x-terminal-emulator");
    const struct {
        const char* terminal;
        std::vector<std::string> told;
    } cases[] = {
        { "konsole", { "--workdir", folder } },
        { "x-terminal-emulator", { "--working-directory=" + folder } },
        { "xterm", {} },
    };
    size_t started = 0;
    for (const auto& c : cases) {
        desktop.Programs.Terminal = c.terminal;
        const std::string path = desktop.Bin + "/" + c.terminal;
        EXPECT_EQ(platform::TerminalFolderArguments(path, folder), c.told) << c.terminal;
        ASSERT_EQ(platform::OpenTerminalIn(folder, desktop.Programs).Error, 0) << c.terminal;
        const auto runs = desktop.Runs(++started);
        ASSERT_EQ(runs.size(), started);
        std::vector<std::string> expected { path };
        expected.insert(expected.end(), c.told.begin(), c.told.end());
        EXPECT_EQ(runs.back().Args, expected);
        EXPECT_EQ(runs.back().Folder, folder);
    }
}

TEST(DesktopLaunch, ATerminalThatTakesOnlyACommandLineOpensButRunsNothing)
{
    StandInDesktop desktop;
    const std::string probe = desktop.AddProgram("probe");
    const std::string lxterminal = desktop.CopyProgram("lxterminal");
    const std::string xterm = desktop.CopyProgram("xterm");
    // Only the stand-ins: no terminal of this computer may start.
    setenv("PATH", desktop.Bin.c_str(), 1);
    const char* before = std::getenv("TERMINAL");
    const std::string chosen = before != nullptr ? before : "";
    setenv("TERMINAL", "lxterminal", 1);
    int error = 0;
    EXPECT_EQ(platform::FindTerminal({}, error), lxterminal);
    EXPECT_EQ(platform::OpenTerminalIn(desktop.Folder).Error, 0);
    EXPECT_EQ(platform::RunInTerminal(probe, { "a b" }).Error, 0);
    if (before != nullptr)
        setenv("TERMINAL", chosen.c_str(), 1);
    else
        unsetenv("TERMINAL");
    std::vector<std::vector<std::string>> given;
    for (const auto& run : desktop.Runs(2))
        given.push_back(run.Args);
    std::sort(given.begin(), given.end());
    ASSERT_EQ(given.size(), 2u);
    EXPECT_EQ(given[0], std::vector<std::string> { lxterminal });
    EXPECT_EQ(given[1].at(0), xterm);
    EXPECT_EQ(given[1].at(1), "-e");
    EXPECT_EQ(given[1].back(), "a b");
}

} // namespace
