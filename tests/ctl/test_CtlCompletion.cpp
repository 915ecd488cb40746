// The bash completion of tovrinctl (packaging/tovrinctl.bash-completion), called the way bash
// calls it: a prepared command line in COMP_WORDS, the function run, COMPREPLY read back.

#include "support/PrivateNetworkTest.h"
#include "support/ProgramRun.h"
#include "support/TempTree.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <set>
#include <sstream>

namespace {

const std::string Program = TOVRIN_BINARY_DIR "/tovrinctl";
const std::string Script = TOVRIN_SOURCE_DIR "/packaging/tovrinctl.bash-completion";

using Words = std::set<std::string>;

// What completing the last word of line offers; the program word is the built tovrinctl, or with
// stubs, the tovrinctl found first in that folder, which is then also the current folder.
// With typed, the line as typed: COMP_LINE and COMP_POINT then tell where the blanks were.
Words Complete(std::vector<std::string> line, const std::string& namespacePath = {},
    const std::string& stubs = {}, const std::string& typed = {})
{
    std::vector<std::string> argv { "/bin/bash", "--norc", "-c",
        "source \"$1\" && cd \"$2\" && PATH=\"$2:$PATH\" && COMP_LINE=${3:+$4 $3} && COMP_POINT=${#COMP_LINE}"
        " && shift 3"
        " && COMP_WORDS=(\"$@\") && COMP_CWORD=$(($# - 1)) && _tovrinctl tovrinctl"
        " && printf '%s\\n' \"${COMPREPLY[@]}\"",
        "bash", Script, stubs.empty() ? "/" : stubs, typed, stubs.empty() ? Program : "tovrinctl" };
    argv.insert(argv.end(), line.begin(), line.end());
    const ProgramResult r = RunProgram(argv, 20000, namespacePath);
    EXPECT_EQ(r.Status, 0) << r.Err;
    EXPECT_EQ(r.Err, "");
    Words words;
    std::istringstream out(r.Out);
    for (std::string word; std::getline(out, word);)
        if (!word.empty())
            words.insert(word);
    return words;
}

// Completes the end of typed, split into words as bash splits them: at blanks, and around every run
// of = and : (COMP_WORDBREAKS).
Words CompleteTyped(const std::string& typed, const std::string& stubs = {})
{
    std::vector<std::string> words;
    bool newWord = true;
    for (const char c : typed) {
        const bool blank = c == ' ';
        const bool breaks = c == '=' || c == ':';
        if (blank) {
            newWord = true;
            continue;
        }
        const bool lastBreaks = !words.empty() && !words.back().empty()
            && (words.back().back() == '=' || words.back().back() == ':');
        if (newWord || breaks != lastBreaks)
            words.emplace_back();
        words.back() += c;
        newWord = false;
    }
    if (newWord)
        words.emplace_back();
    return Complete(words, {}, stubs, typed);
}

TEST(CtlCompletion, SubCommandsOptionsAndFileArguments)
{
    TempTree files;
    const std::string dir = files.Root() + "/";
    files.File("fw one.bin", "x");
    files.File("fw2.bin", "x");
    files.File("$(touch pwned)", "x");
    files.Folder("sub");
    files.File("a:b.bin", "x");
    const Words subcommands { "interfaces", "discover", "set-ip", "version", "versions", "upload",
        "rollout", "monitor" };
    const Words allFiles { dir + "fw one.bin", dir + "fw2.bin", dir + "$(touch pwned)", dir + "sub",
        dir + "a:b.bin" };

    const struct {
        std::vector<std::string> line;
        Words expected;
    } cases[] = {
        { { "" }, subcommands },
        { { "di" }, { "discover" } },
        // Options come from --help: the newer ones too.
        { { "discover", "--so" }, { "--sort" } },
        { { "rollout", "--skip" }, { "--skip-version" } },
        { { "--port", "2600", "up" }, { "upload" } }, // an option's value is no sub-command
        { { "discover", "--" },
            { "--help", "--interface", "--seconds", "--json", "--csv", "--output", "--filter", "--sort",
                "--watch" } },
        { { "set-ip", "--d" }, { "--dhcp", "--dry-run" } },
        { { "set-ip", "--plan", dir + "fw2" }, { dir + "fw2.bin" } },
        { { "set-ip", "--ip", "" }, {} }, // an address: nothing to offer
        { { "set-ip", "" }, {} }, // a MAC suffix: a TAB sends no discovery
        { { "upload", "" }, {} }, // the host comes first
        { { "upload", "10.0.0.7", dir }, allFiles },
        { { "upload", "-v", "10.0.0.7", dir + "fw" }, { dir + "fw one.bin", dir + "fw2.bin" } },
        { { "rollout", dir + "s" }, { dir + "sub" } },
        { { "rollout", "--mac", "A1", "--seconds", "3", dir + "fw2" }, { dir + "fw2.bin" } },
        { { "rollout", "x.bin", "--audit", dir + "$" }, { dir + "$(touch pwned)" } },
        { { "discover", "-o", dir + "fw " }, { dir + "fw one.bin" } },
        { { "monitor", "--state", dir + "fw2" }, { dir + "fw2.bin" } },
    };
    for (const auto& c : cases) {
        std::string line;
        for (const auto& word : c.line)
            line += "[" + word + "]";
        EXPECT_EQ(Complete(c.line), c.expected) << line;
    }
    // Typed lines: bash has split the words at = and :, the completion joins them again. Bash then
    // replaces only what follows the last = or :, so that is what is offered.
    const struct {
        std::string typed;
        Words expected;
    } typed[] = {
        { "discover --output=" + dir + "fw", { dir + "fw one.bin", dir + "fw2.bin" } },
        { "rollout x.bin --audit=" + dir + "$", { dir + "$(touch pwned)" } },
        { "rollout --skip-version FW:2 " + dir + "fw2", { dir + "fw2.bin" } }, // FILE is the first
        { "rollout --skip-version FW:2.1:0 --mac=A1 " + dir + "s", { dir + "sub" } },
        { "upload 10.0.0.7 " + dir + "fw2", { dir + "fw2.bin" } },
        { "rollout --mac=A1 " + dir + "fw2", { dir + "fw2.bin" } },
        { "rollout --skip-version FW:2 x.bin " + dir + "fw", {} }, // no second FILE
        { "discover -o " + dir + "a:b", { "b.bin" } }, // bash's word is what follows the colon
    };
    for (const auto& c : typed)
        EXPECT_EQ(CompleteTyped(c.typed), c.expected) << c.typed;
    EXPECT_NE(::access(files.Path("fw2.bin").c_str(), F_OK), -1);
    EXPECT_EQ(::access("pwned", F_OK), -1) << "a file name was run as a command";
    EXPECT_EQ(::access(files.Path("pwned").c_str(), F_OK), -1) << "a file name was run as a command";

    // The top level offers its options; newer ones may join.
    const Words top = Complete({ "--" });
    EXPECT_TRUE(top.count("--help") == 1 && top.count("--port") == 1) << top.size();
    EXPECT_EQ(top.count("--dhcp"), 0u);
}

// Whatever the program prints is offered as it is: never run, never globbed, never split.
TEST(CtlCompletion, HostileNamesFromTheProgramAreOfferedAsPrinted)
{
    TempTree stubs;
    const std::string stub = stubs.File("tovrinctl",
        "#!/bin/sh\nif [ \"$1\" = interfaces ]; then cat \"$0.interfaces\"; else cat \"$0.help\"; fi\n");
    ASSERT_EQ(::chmod(stub.c_str(), 0755), 0);
    const std::vector<std::string> hostile { "$(id>pwn)", "`id>pwn`", "*", "fw*", "~", "a;id>pwn", "{a..c}" };
    std::string help = "Options:\n  -h,--help  Help\n  --interface TEXT  Interface\n";
    std::string interfaces = "INTERFACE  ADDRESS\n";
    for (const auto& name : hostile) {
        help += "  --" + name + " TEXT  An option\n";
        interfaces += name + "  10.0.0.1\n";
    }
    help += "\nSubcommands:\n";
    for (const auto& name : hostile)
        help += "  " + name + "  A sub-command\n";
    stubs.File("tovrinctl.help", help);
    stubs.File("tovrinctl.interfaces", interfaces);
    stubs.File("fw1.bin", "x"); // what fw* would match as a wildcard
    const Words all(hostile.begin(), hostile.end());
    Words withAddress = all;
    withAddress.insert("10.0.0.1");

    const struct {
        std::vector<std::string> line;
        Words expected;
    } cases[] = {
        { { "" }, all },
        { { "$" }, { "$(id>pwn)" } },
        { { "*" }, { "*" } },
        { { "fw" }, { "fw*" } },
        { { "~" }, { "~" } },
        { { "a;" }, { "a;id>pwn" } },
        { { "--$" }, { "--$(id>pwn)" } },
        { { "x", "--" },
            { "--help", "--$(id>pwn)", "--`id>pwn`", "--*", "--fw*", "--~", "--a;id>pwn", "--{a..c}",
                "--interface" } },
        { { "x", "--*", "--interface", "" }, {} }, // --* takes a value: here "--interface"
        { { "x", "--interface", "" }, withAddress },
        { { "x", "--interface", "1" }, { "10.0.0.1" } },
        { { "x", "--interface", "`" }, { "`id>pwn`" } },
        { { "x", "--interface", "$(id> " }, {} },
    };
    for (const auto& c : cases) {
        std::string line;
        for (const auto& word : c.line)
            line += "[" + word + "]";
        EXPECT_EQ(Complete(c.line, {}, stubs.Root()), c.expected) << line;
    }
    EXPECT_EQ(CompleteTyped("x --interface=1", stubs.Root()), Words { "10.0.0.1" });
    EXPECT_EQ(CompleteTyped("x --interface=$", stubs.Root()), Words { "$(id>pwn)" });
    EXPECT_EQ(::access(stubs.Path("pwn").c_str(), F_OK), -1) << "a printed name was run as a command";
}

class CtlCompletionNetworkTest : public PrivateNetworkTest<1> {
protected:
    // A veth pair in the namespace at path: name with address (CIDR) and its peer, both up.
    static void AddInterface(
        const std::string& path, const std::string& name, const std::string& address, const std::string& peer)
    {
        for (const std::vector<std::string>& command :
            { std::vector<std::string> { "link", "add", "name", name, "type", "veth", "peer", "name", peer },
                { "address", "add", address, "dev", name }, { "link", "set", peer, "up" },
                { "link", "set", name, "up" } }) {
            std::vector<std::string> argv { "/usr/bin/env", "PATH=/usr/sbin:/usr/bin:/sbin:/bin", "ip" };
            argv.insert(argv.end(), command.begin(), command.end());
            const ProgramResult r = RunProgram(argv, 5000, path);
            ASSERT_EQ(r.Status, 0) << command[1] << ": " << r.Err;
        }
    }
};

TEST_F(CtlCompletionNetworkTest, InterfaceOffersTheNamesAndAddressesDiscoveryCanUse)
{
    const std::string app = net->NamespacePath(NetSide::App);
    // Interface names may hold $ ( ) > ; and the like: offered as they are, never run. The
    // completion runs in folder, where such a name run as a command would leave a file.
    TempTree folder;
    ASSERT_EQ(::symlink(Program.c_str(), folder.Path("tovrinctl").c_str()), 0);
    const std::string hostile = "$(id>pwn)";
    ASSERT_NO_FATAL_FAILURE(AddInterface(app, hostile, "10.77.0.1/24", "tvpeer"));
    const struct {
        std::vector<std::string> line;
        Words expected;
    } cases[] = {
        { { "discover", "--interface", "" }, { "tvapp", TestNetwork::AppAddress(), hostile, "10.77.0.1" } },
        { { "set-ip", "A1", "--interface", "t" }, { "tvapp" } },
        { { "rollout", "--interface", "198." }, { TestNetwork::AppAddress() } },
        { { "discover", "--interface", "eth" }, {} },
        { { "discover", "--interface", "$" }, { hostile } },
        { { "discover", "--interface", "$(id>" }, { hostile } },
        { { "discover", "--interface", "10.77" }, { "10.77.0.1" } },
    };
    for (const auto& c : cases)
        EXPECT_EQ(Complete(c.line, app, folder.Root()), c.expected) << c.line.back();
    EXPECT_EQ(::access(folder.Path("pwn").c_str(), F_OK), -1) << "an interface name was run as a command";

    // A name may also hold terminal escapes (ESC ] sets the window title): listed escaped.
    const std::string steering = "\x1b]0;x\x07";
    ASSERT_NO_FATAL_FAILURE(AddInterface(app, steering, "10.78.0.1/24", "tvpeer2"));
    const ProgramResult listed = RunProgram({ Program, "interfaces" }, 10000, app);
    EXPECT_EQ(listed.Status, 0) << listed.Err;
    EXPECT_EQ(listed.Out.find('\x1b'), std::string::npos) << listed.Out;
    EXPECT_NE(listed.Out.find("\\x1b]0;x\\x07  10.78.0.1"), std::string::npos) << listed.Out;
}

} // namespace
