// tovrinctl discover --watch in a real terminal: a tmux pane inside the private test network, read
// back as the user sees it while amplifiers come and go and the pane is resized.

#include "ctl/CtlOutput.h"
#include "support/PrivateNetworkTest.h"
#include "support/ProgramRun.h"
#include "support/TempTree.h"
#include "tools/ampsim/Ampsim.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <functional>
#include <sstream>

namespace {

const std::string Program = TOVRIN_BINARY_DIR "/tovrinctl";
// Hostile names: C1 controls (CSI, OSC) as UTF-8 and as raw bytes, and wide characters.
const std::vector<std::string> Names { "Amp\xc2\x9b"
                                       "2J\xc2\x9d"
                                       "0;x\x07\x9b"
                                       "1A",
    "\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa"
    "\x9e" };

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

int CountOf(const std::string& text, const std::string& part)
{
    int count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

class TovrinctlWatchTest : public PrivateNetworkTest<2> {
protected:
    void SetUp() override
    {
        PrivateNetworkTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        if (::access("/usr/bin/tmux", X_OK) != 0)
            GTEST_SKIP() << "tmux is not installed (scripts/setup.sh installs it)";
        sim = std::make_unique<ampsim::Simulator>(
            ampsim::Options {}, ampsim::MakeAmplifiers(2, "198.18.1.1", "255.255.0.0", Names));
        bool started = false;
        std::string error;
        net->RunInAmp([&] { started = sim->Start(error); });
        ASSERT_TRUE(started) << error;
        socket = folder.Path("tmux.sock");
        // A server without the user's configuration; panes stay readable after their program ended.
        ASSERT_EQ(Tmux({ "-f", "/dev/null", "new-session", "-d", "-s", "idle" }).Status, 0);
        ASSERT_EQ(Tmux({ "set-option", "-g", "remain-on-exit", "on" }).Status, 0);
    }
    void TearDown() override
    {
        if (!socket.empty())
            Tmux({ "kill-server" });
        if (sim)
            sim->Stop();
    }

    // tmux runs on the app side: the server it starts, and the program in its pane, stay there.
    ProgramResult Tmux(std::vector<std::string> args)
    {
        args.insert(args.begin(), { "/usr/bin/tmux", "-S", socket });
        return RunProgram(args, 10000, net->NamespacePath(NetSide::App));
    }
    std::string Pane() { return Tmux({ "capture-pane", "-p", "-t", "watch" }).Out; }
    // Waits until the pane shows what check wants; the last pane read is left in shown.
    bool PaneShows(const std::function<bool(const std::string&)>& check, std::string& shown)
    {
        for (int tries = 0; tries < 300; ++tries) {
            shown = Pane();
            if (check(shown))
                return true;
            ::usleep(100 * 1000);
        }
        return false;
    }
    std::string Mac(int i) { return sim->Amp(static_cast<size_t>(i)).Mac; }
    // The screen shows the header (how many shown of how many, the keys), then exactly these of
    // the amplifiers listed in the table below its one heading.
    std::function<bool(const std::string&)> TableOf(std::vector<int> shown, const std::string& header = {})
    {
        return [this, shown, header](const std::string& text) {
            const auto lines = Lines(text);
            int rows = 0;
            for (const auto& line : lines)
                rows += line.empty() ? 0 : 1;
            const std::string counted = std::to_string(shown.size()) + " shown of ";
            bool all = lines.size() > 2 && lines[0].rfind(counted, 0) == 0 && lines[2].rfind("MAC ", 0) == 0
                && CountOf(text, "MAC ") == 1 && lines[0].find(header) != std::string::npos;
            for (int i = 0; i < 2; ++i) {
                const bool wanted = std::find(shown.begin(), shown.end(), i) != shown.end();
                all = all && (CountOf(text, Mac(i)) == (wanted ? 1 : 0));
            }
            return all && rows == 3 + static_cast<int>(shown.size());
        };
    }
    void SetSilent(int i, bool silent)
    {
        sim->Modify(static_cast<size_t>(i), [silent](ampsim::Amplifier& amp) { amp.Silent = silent; });
    }

    TempTree folder { "tovrin-watch" };
    std::string socket;
    std::unique_ptr<ampsim::Simulator> sim;
};

TEST_F(TovrinctlWatchTest, TheTableFollowsAmplifiersAndFitsThePaneAsItIsResized)
{
    // A small shell in the pane reports the program's exit status (tmux may mark a pane dead
    // before it has collected the status); the shell's trap outlives Ctrl+C, the program gets it.
    ASSERT_EQ(Tmux({ "new-session", "-d", "-s", "watch", "-x", "100", "-y", "20", "/bin/sh", "-c",
                       "trap : INT; \"$0\" discover --watch --interface \"$1\"; echo \"exit status $?\"",
                       Program, TestNetwork::AppAddress() })
                  .Status,
        0);
    std::string pane;
    const auto tableOf = [&](std::vector<int> shown) { return TableOf(shown); };

    ASSERT_TRUE(PaneShows(tableOf({ 0, 1 }), pane)) << pane;
    EXPECT_NE(pane.find(Mac(1) + "  " + sim->Amp(1).IP + "  "), std::string::npos) << pane;
    EXPECT_NE(pane.find("Amp\\xc2\\x9b2J\\xc2\\x9d0;x\\x07\\x9b1A\n"), std::string::npos) << pane;
    EXPECT_NE(pane.find(Names[1] + "\n"), std::string::npos) << pane;

    // One falls silent and goes from the table; it answers again and is back.
    SetSilent(1, true);
    EXPECT_TRUE(PaneShows(tableOf({ 0 }), pane)) << pane;
    SetSilent(1, false);
    EXPECT_TRUE(PaneShows(tableOf({ 0, 1 }), pane)) << pane;

    // Narrower than the table: every line is cut to fit, by what it shows (a wide character takes
    // two columns), none wraps onto the next.
    ASSERT_EQ(Tmux({ "resize-window", "-t", "watch", "-x", "64", "-y", "20" }).Status, 0);
    EXPECT_TRUE(PaneShows(
        [&](const std::string& text) {
            for (const auto& line : Lines(text))
                if (DisplayWidth(line) > 63)
                    return false;
            return tableOf({ 0, 1 })(text);
        },
        pane))
        << pane;

    // Lower than the table: what does not fit is counted on the last line.
    ASSERT_EQ(Tmux({ "resize-window", "-t", "watch", "-x", "100", "-y", "3" }).Status, 0);
    EXPECT_TRUE(PaneShows(
        [&](const std::string& text) {
            const auto lines = Lines(text);
            return lines.size() >= 2 && lines[0].rfind("2 shown of 2", 0) == 0
                && lines[1] == "... 2 more lines";
        },
        pane))
        << pane;

    // Ctrl+C ends it; the last table stays on the normal screen.
    ASSERT_EQ(Tmux({ "resize-window", "-t", "watch", "-x", "100", "-y", "20" }).Status, 0);
    ASSERT_EQ(Tmux({ "send-keys", "-t", "watch", "C-c" }).Status, 0);
    EXPECT_TRUE(PaneShows(
        [](const std::string& text) { return text.find("exit status") != std::string::npos; }, pane))
        << pane;
    EXPECT_NE(pane.find("exit status 0\n"), std::string::npos) << pane;
    // With the lines the pane's resizing pushed into its history.
    pane = Tmux({ "capture-pane", "-p", "-S", "-", "-t", "watch" }).Out;
    EXPECT_EQ(CountOf(pane, "MAC "), 1) << pane;
    EXPECT_EQ(CountOf(pane, Mac(0)), 1) << pane;
    EXPECT_EQ(CountOf(pane, Mac(1)), 1) << pane;
}

TEST_F(TovrinctlWatchTest, KeysFilterSortAndQuitAndTheTerminalIsRestored)
{
    // The shell compares the terminal's settings before and after: raw mode must not outlive it.
    ASSERT_EQ(Tmux({ "new-session", "-d", "-s", "watch", "-x", "100", "-y", "20", "/bin/sh", "-c",
                       "before=$(stty -g); \"$0\" discover --watch --interface \"$1\"; status=$?; "
                       "[ \"$before\" = \"$(stty -g)\" ] && echo restored; echo \"exit status $status\"",
                       Program, TestNetwork::AppAddress() })
                  .Status,
        0);
    std::string pane;
    ASSERT_TRUE(PaneShows(TableOf({ 0, 1 }, "Sort: seen"), pane)) << pane;

    // "/" then the end of one MAC suffix, in lower case: only that amplifier, while it is typed.
    const std::string tail = Mac(1).substr(8);
    std::string lower = tail;
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    ASSERT_EQ(Tmux({ "send-keys", "-t", "watch", "/" }).Status, 0);
    ASSERT_EQ(Tmux({ "send-keys", "-t", "watch", "-l", lower }).Status, 0);
    EXPECT_TRUE(PaneShows(TableOf({ 1 }, "Filter: " + lower), pane)) << pane;
    EXPECT_NE(pane.find("Enter keeps it"), std::string::npos) << pane;
    // A control key does not go into the filter; Backspace takes out the last character.
    ASSERT_EQ(Tmux({ "send-keys", "-t", "watch", "C-a", "z", "BSpace", "Enter" }).Status, 0);
    EXPECT_TRUE(PaneShows(
        [&](const std::string& text) {
            return TableOf({ 1 }, "Filter: " + lower)(text)
                && text.find("Keys: / filter") != std::string::npos;
        },
        pane))
        << pane;

    // "s" is a key again once Enter kept the filter: the order changes, the filter stays.
    ASSERT_EQ(Tmux({ "send-keys", "-t", "watch", "s" }).Status, 0);
    EXPECT_TRUE(PaneShows(TableOf({ 1 }, "Sort: ip  Filter: " + lower), pane)) << pane;

    // Escape while typing clears the filter: both again.
    ASSERT_EQ(Tmux({ "send-keys", "-t", "watch", "/", "x", "Escape" }).Status, 0);
    EXPECT_TRUE(PaneShows(TableOf({ 0, 1 }, "Sort: ip"), pane)) << pane;
    EXPECT_EQ(pane.find("Filter:"), std::string::npos) << pane;

    ASSERT_EQ(Tmux({ "send-keys", "-t", "watch", "q" }).Status, 0);
    EXPECT_TRUE(PaneShows(
        [](const std::string& text) { return text.find("exit status") != std::string::npos; }, pane))
        << pane;
    EXPECT_NE(pane.find("restored\nexit status 0\n"), std::string::npos) << pane;
}

} // namespace
