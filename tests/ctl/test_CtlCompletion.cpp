// The bash completion of tovrinctl (packaging/tovrinctl.bash-completion), called the way bash
// calls it: a prepared command line in COMP_WORDS, the function run, COMPREPLY read back.

#include "support/PrivateNetworkTest.h"
#include "support/ProgramRun.h"
#include "support/TempTree.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <set>
#include <sstream>

namespace {

const std::string Program = TOVRIN_BINARY_DIR "/tovrinctl";
const std::string Script = TOVRIN_SOURCE_DIR "/packaging/tovrinctl.bash-completion";

using Words = std::set<std::string>;

// What completing the last word of line offers; the program word is the built tovrinctl.
Words Complete(std::vector<std::string> line, const std::string& namespacePath = {})
{
    std::vector<std::string> argv { "/bin/bash", "--norc", "-c",
        "source \"$1\" && shift && COMP_WORDS=(\"$@\") && COMP_CWORD=$(($# - 1)) && _tovrinctl tovrinctl"
        " && printf '%s\\n' \"${COMPREPLY[@]}\"",
        "bash", Script, Program };
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

TEST(CtlCompletion, SubCommandsOptionsAndFileArguments)
{
    TempTree files;
    const std::string dir = files.Root() + "/";
    files.File("fw one.bin", "x");
    files.File("fw2.bin", "x");
    files.File("$(touch pwned)", "x");
    files.Folder("sub");
    const Words subcommands { "interfaces", "discover", "set-ip", "version", "upload", "rollout", "monitor" };
    const Words allFiles { dir + "fw one.bin", dir + "fw2.bin", dir + "$(touch pwned)", dir + "sub" };

    const struct {
        std::vector<std::string> line;
        Words expected;
    } cases[] = {
        { { "" }, subcommands },
        { { "di" }, { "discover" } },
        { { "--port", "2600", "up" }, { "upload" } }, // an option's value is no sub-command
        { { "discover", "--" },
            { "--help", "--interface", "--seconds", "--json", "--csv", "--output", "--watch" } },
        { { "set-ip", "--d" }, { "--dhcp" } },
        { { "set-ip", "--ip", "" }, {} }, // an address: nothing to offer
        { { "set-ip", "" }, {} }, // a MAC suffix: a TAB sends no discovery
        { { "upload", "" }, {} }, // the host comes first
        { { "upload", "10.0.0.7", dir }, allFiles },
        { { "upload", "-v", "10.0.0.7", dir + "fw" }, { dir + "fw one.bin", dir + "fw2.bin" } },
        { { "rollout", dir + "s" }, { dir + "sub" } },
        { { "rollout", "--mac", "A1", "--seconds", "3", dir + "fw2" }, { dir + "fw2.bin" } },
        { { "rollout", "x.bin", "--audit", dir + "$" }, { dir + "$(touch pwned)" } },
        { { "discover", "-o", dir + "fw " }, { dir + "fw one.bin" } },
    };
    for (const auto& c : cases) {
        std::string line;
        for (const auto& word : c.line)
            line += "[" + word + "]";
        EXPECT_EQ(Complete(c.line), c.expected) << line;
    }
    EXPECT_NE(::access(files.Path("fw2.bin").c_str(), F_OK), -1);
    EXPECT_EQ(::access("pwned", F_OK), -1) << "a file name was run as a command";
    EXPECT_EQ(::access(files.Path("pwned").c_str(), F_OK), -1) << "a file name was run as a command";

    // The top level offers its options; newer ones may join.
    const Words top = Complete({ "--" });
    EXPECT_TRUE(top.count("--help") == 1 && top.count("--port") == 1) << top.size();
    EXPECT_EQ(top.count("--dhcp"), 0u);
}

class CtlCompletionNetworkTest : public PrivateNetworkTest<1> { };

TEST_F(CtlCompletionNetworkTest, InterfaceOffersTheNamesAndAddressesDiscoveryCanUse)
{
    const std::string app = net->NamespacePath(NetSide::App);
    const struct {
        std::vector<std::string> line;
        Words expected;
    } cases[] = {
        { { "discover", "--interface", "" }, { "tvapp", TestNetwork::AppAddress() } },
        { { "set-ip", "A1", "--interface", "t" }, { "tvapp" } },
        { { "rollout", "--interface", "198." }, { TestNetwork::AppAddress() } },
        { { "discover", "--interface", "eth" }, {} },
    };
    for (const auto& c : cases)
        EXPECT_EQ(Complete(c.line, app), c.expected) << c.line.back();
}

} // namespace
