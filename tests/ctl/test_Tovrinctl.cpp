// tovrinctl as a program, against a simulated amplifier on loopback: exit statuses, what goes to
// standard output and error, and usage errors.

#include "ctl/FileDigest.h"
#include "ctl/Rollout.h"
#include "support/CommandSimulator.h"
#include "support/CsvReader.h"
#include "support/ProgramRun.h"
#include "support/TestSockets.h"
#include "text/TextEncoding.h"
#include "tools/ampsim/Ampsim.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <regex>
#include <sstream>
#include <utility>

namespace fs = std::filesystem;

namespace {

const std::string Program = TOVRIN_BINARY_DIR "/tovrinctl";

class TovrinctlTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "tovrin-ctl-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        folder = pattern;
        sim = LoopbackCommandSimulator();
        std::string error;
        ASSERT_TRUE(sim->Start(error)) << error;
        port = std::to_string(sim->CommandPort());
    }
    void TearDown() override
    {
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }
    std::string File(const std::string& name, size_t size)
    {
        const std::string path = folder + "/" + name;
        std::ofstream(path, std::ios::binary) << std::string(size, 'x');
        return path;
    }
    ProgramResult Run(std::vector<std::string> args)
    {
        args.insert(args.begin(), { Program, "--port", port });
        return RunProgram(args);
    }

    std::string folder;
    std::unique_ptr<ampsim::Simulator> sim;
    std::string port;
};

TEST_F(TovrinctlTest, VersionPrintsTheReplyOrFails)
{
    ProgramResult r = Run({ "version", "127.0.0.1" });
    EXPECT_EQ(r.Status, 0) << r.Err;
    EXPECT_EQ(r.Out, ampsim::Options().Version + " " + sim->Amp(0).Mac + "\n");

    const std::string unused = std::to_string(UnusedLoopbackPort());
    r = RunProgram({ Program, "--port", unused, "version", "127.0.0.1" });
    EXPECT_EQ(r.Status, 1);
    EXPECT_EQ(r.Out, "");
    EXPECT_EQ(r.Err, "Connecting to 127.0.0.1:" + unused + " failed.\n");
}

TEST_F(TovrinctlTest, UploadSendsTheFileAndSaysSoOnlyWhenItArrived)
{
    const std::string file = File("my fw.bin", 100000);
    ProgramResult r = Run({ "upload", "127.0.0.1", file });
    EXPECT_EQ(r.Status, 0) << r.Err;
    EXPECT_TRUE(std::regex_match(r.Out,
        std::regex(
            "Uploaded my fw\\.bin to 127\\.0\\.0\\.1: 100000 bytes in [0-9.]+ s \\([0-9.]+ MB/s\\)\\.\n")))
        << r.Out;
    ASSERT_EQ(sim->Uploads().size(), 1u);
    EXPECT_TRUE(sim->Uploads()[0].Complete);

    // --verbose: the exchange's own lines, as the window logs them.
    r = Run({ "upload", "--verbose", "127.0.0.1", file });
    EXPECT_EQ(r.Status, 0) << r.Err;
    const std::string endpoint = "127.0.0.1:" + port;
    EXPECT_EQ(r.Out.substr(0, r.Out.find("Uploaded")),
        "Loaded file " + file + " (100000 bytes).\nConnected to " + endpoint + " ...\n$$$VER?\n"
            + ampsim::Options().Version + " " + sim->Amp(0).Mac + "\n$$$FILE_UPLOAD:000186a0:/tmp/my fw.bin\n"
            + "FILE_UPLOAD_START\nSending done.\nFILE_UPLOAD_DONE\nDisconnected from " + endpoint + ".\n");

    // Larger than the connection's buffers, so the sender still has data when the amplifier closes.
    sim->Modify(0, [](ampsim::Amplifier& amp) { amp.CloseAfterBytes = 1000; });
    r = Run({ "upload", "127.0.0.1", File("big.bin", 16u << 20) });
    EXPECT_EQ(r.Status, 1);
    EXPECT_EQ(r.Out, "");
    EXPECT_TRUE(r.Err.rfind("Sending failed after ", 0) == 0) << r.Err;

    r = Run({ "upload", "127.0.0.1", "/dev/zero" });
    EXPECT_EQ(r.Status, 1);
    EXPECT_EQ(r.Err.substr(0, r.Err.find('\n')),
        "File /dev/zero is not a regular file (a folder, a device or a pipe) and cannot be uploaded.");
    EXPECT_EQ(sim->Connections(), 3u);
}

TEST_F(TovrinctlTest, RolloutByAddressWritesOneAuditLinePerAmplifier)
{
    const std::string file = File("fw.bin", 70000);
    const std::string audit = folder + "/audit.jsonl";
    // Nothing listens on 127.0.0.2 at that port: the simulator took 127.0.0.1 only.
    const ProgramResult r
        = Run({ "rollout", file, "--host", "127.0.0.1", "--host", "127.0.0.2", "--audit", audit });
    EXPECT_EQ(r.Status, 1) << r.Err;
    std::ifstream in(audit);
    std::vector<nlohmann::json> records;
    for (std::string line; std::getline(in, line);)
        records.push_back(nlohmann::json::parse(line));
    ASSERT_EQ(records.size(), 2u);
    std::sort(records.begin(), records.end(), [](const auto& a, const auto& b) { return a["ip"] < b["ip"]; });
    EXPECT_EQ(records[0]["result"], "ok");
    EXPECT_EQ(records[0]["last_line"], "FILE_UPLOAD_DONE");
    EXPECT_EQ(records[0]["size"], 70000);
    EXPECT_EQ(records[1]["result"], "failed");
    EXPECT_EQ(records[1]["last_line"], "Connecting to 127.0.0.2:" + port + " failed.");
    EXPECT_EQ(records[1]["version"], "");
    EXPECT_NE(r.Out.find("1 of 2 amplifiers ok"), std::string::npos) << r.Out;
}

// The file may be replaced during a rollout (a build writes a newer one): each record names the
// bytes its upload sent, and an upload that sent other bytes than the file announced failed.
TEST_F(TovrinctlTest, RolloutRecordsTheBytesEachUploadSent)
{
    const std::string replacements[] = { std::string(70000, 'y'), std::string(300, 'x'), "" };
    for (const std::string& replacement : replacements) {
        TRolloutSettings settings;
        settings.SourcePath = File("fw.bin", 70000);
        std::string error;
        settings.Sha256 = Sha256OfFile(settings.SourcePath, error);
        settings.Size = 70000;
        settings.Parallel = 1;
        // Replaced once the first upload's bytes arrived, while its final reply is held back.
        bool replaced = false;
        const auto slow = LoopbackCommandSimulator([](ampsim::Amplifier& amp) { amp.CommandDelayMs = 200; },
            [&](ampsim::Options& options) {
                options.OnEvent = [&](const std::string& event) {
                    if (event.find(" complete: ") == std::string::npos || std::exchange(replaced, true))
                        return;
                    std::ofstream(settings.SourcePath + ".new", std::ios::binary) << replacement;
                    fs::rename(settings.SourcePath + ".new", settings.SourcePath);
                };
            });
        ASSERT_TRUE(slow->Start(error)) << error;
        settings.Upload.Port = slow->CommandPort();
        const TRolloutTarget target { {}, "127.0.0.1", {} };
        const auto records = TRollout().Run({ target, target }, settings, {}, {}, {});
        slow->Stop();
        ASSERT_EQ(records.size(), 2u);
        EXPECT_TRUE(records[0].Ok) << records[0].LastLine;
        EXPECT_EQ(records[0].Sha256, settings.Sha256);
        EXPECT_EQ(records[0].Size, 70000u);
        EXPECT_FALSE(records[1].Ok);
        EXPECT_EQ(records[1].LastLine, SourceChangedLine);
        EXPECT_EQ(records[1].Sha256, Sha256OfFile(settings.SourcePath, error)) << replacement.size();
        EXPECT_EQ(records[1].Size, replacement.size());
        EXPECT_NE(records[1].Sha256, settings.Sha256);
    }
}

// A version is shown, never interpreted: its bytes come through CSV and JSON exactly (made UTF-8 by
// the one rule), and the table cannot steer the terminal. One amplifier without an answer makes the
// exit status 1.
TEST_F(TovrinctlTest, VersionsKeepHostileVersionsExactAndTellWhoDidNotAnswer)
{
    const std::string hostile = "=V1\x1b]0;owned\x07\r,\"x\xff";
    sim->Modify(0, [&](ampsim::Amplifier& amp) { amp.Version = hostile; });
    const std::vector<std::string> hosts { "versions", "--host", "127.0.0.1", "--host", "127.0.0.2" };

    std::vector<std::string> args = hosts;
    args.insert(args.end(), { "--csv", "-o", folder + "/v.csv" });
    ProgramResult r = Run(args);
    EXPECT_EQ(r.Status, 1) << r.Err;
    std::string error;
    const auto rows = ReadCsvWithPython(folder + "/v.csv", error);
    ASSERT_TRUE(rows) << error;
    ASSERT_EQ(rows->size(), 3u);
    EXPECT_EQ((*rows)[0], (std::vector<std::string> { "mac", "ip", "name", "version", "error" }));
    // The leading = is kept from spreadsheets by a quote, as every field of the list's CSV; ESC and
    // BEL stand as their symbols U+241B and U+2407, the CR inside the quoted field stays.
    EXPECT_EQ((*rows)[1],
        (std::vector<std::string> {
            "", "127.0.0.1", "", "'=V1\xE2\x90\x9B]0;owned\xE2\x90\x87\r,\"x\xC3\xBF", "" }));
    EXPECT_EQ((*rows)[2], (std::vector<std::string> { "", "127.0.0.2", "", "", "refused" }));

    args = hosts;
    args.push_back("--json");
    r = Run(args);
    EXPECT_EQ(r.Status, 1) << r.Err;
    std::vector<nlohmann::json> lines;
    std::istringstream in(r.Out);
    for (std::string line; std::getline(in, line);)
        lines.push_back(nlohmann::json::parse(line));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0]["version"], AsUtf8(hostile));
    EXPECT_EQ(lines[0]["error"], "");
    EXPECT_EQ(lines[1]["version"], "");
    EXPECT_EQ(lines[1]["error"], "refused");

    r = Run(hosts);
    EXPECT_EQ(r.Status, 1) << r.Err;
    EXPECT_EQ(r.Out.find('\x1b'), std::string::npos) << r.Out;
    EXPECT_NE(r.Out.find("=V1\\x1b]0;owned\\x07\\x0d,\"x"), std::string::npos) << r.Out;

    r = Run({ "versions", "--host", "127.0.0.1" });
    EXPECT_EQ(r.Status, 0) << r.Err;
}

// A resumed rollout: the amplifier that already runs the version is asked, not uploaded to, and
// recorded as skipped with the version it reported; the other is uploaded to as before.
TEST_F(TovrinctlTest, RolloutSkipsAmplifiersThatReportTheVersion)
{
    sim->Modify(0, [](ampsim::Amplifier& amp) { amp.Version = "FW 2.0"; });
    const std::string file = File("fw.bin", 5000);
    const std::string audit = folder + "/audit.jsonl";
    ProgramResult r
        = Run({ "rollout", file, "--host", "127.0.0.1", "--skip-version", "FW 2.0", "--audit", audit });
    EXPECT_EQ(r.Status, 0) << r.Err;
    EXPECT_TRUE(sim->Uploads().empty());
    EXPECT_NE(r.Out.find("0 of 1 amplifiers ok, 1 skipped"), std::string::npos) << r.Out;

    r = Run({ "rollout", file, "--host", "127.0.0.1", "--skip-version", "FW 2", "--audit", audit });
    EXPECT_EQ(r.Status, 0) << r.Err;
    EXPECT_EQ(sim->Uploads().size(), 1u);
    EXPECT_NE(r.Out.find("1 of 1 amplifiers ok, 0 skipped"), std::string::npos) << r.Out;

    std::ifstream in(audit);
    std::vector<nlohmann::json> records;
    for (std::string line; std::getline(in, line);)
        records.push_back(nlohmann::json::parse(line));
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0]["result"], "skipped");
    EXPECT_EQ(records[0]["version"], "FW 2.0");
    EXPECT_EQ(records[0]["last_line"], SkippedLine);
    EXPECT_EQ(records[1]["result"], "ok");
    EXPECT_EQ(records[1]["version"], "FW 2.0");
}

TEST(Tovrinctl, UsageErrorsExitWithTwoAndHelpWithZero)
{
    const std::vector<std::vector<std::string>> usage {
        {},
        { "frobnicate" },
        { "version" },
        { "upload", "127.0.0.1" },
        { "set-ip", "0050C2A10001" },
        { "set-ip", "0050C2A10001", "--dhcp", "--ip", "10.0.0.2" },
        { "set-ip", "0050C2A10001", "--ip", "10.0.0.2" },
        { "rollout", "/etc/hostname" },
        { "rollout", "/etc/hostname", "--all", "--mac", "0050C2A10001" },
        { "rollout", "/etc/hostname", "--host", "127.0.0.1", "--parallel", "0" },
        { "discover", "--json", "--watch" },
        { "discover", "--sort", "size" },
        { "versions", "--csv", "--json" },
        { "versions", "--parallel", "0" },
        { "rollout", "/etc/hostname", "--host", "127.0.0.1", "--skip-version" },
        { "--port", "0", "version", "127.0.0.1" },
    };
    for (auto args : usage) {
        args.insert(args.begin(), Program);
        const ProgramResult r = RunProgram(args);
        EXPECT_EQ(r.Status, 2) << args.size() << " " << args.back() << "\n" << r.Err;
        EXPECT_FALSE(r.Err.empty());
    }
    // help2man and packagers read the version from the program.
    const ProgramResult version = RunProgram({ Program, "--version" });
    EXPECT_EQ(version.Status, 0) << version.Err;
    EXPECT_TRUE(std::regex_match(version.Out, std::regex("tovrinctl [0-9]+\\.[0-9]+[0-9.]*\n")))
        << version.Out;
    for (const char* command :
        { "interfaces", "discover", "set-ip", "version", "versions", "upload", "rollout" }) {
        const ProgramResult r = RunProgram({ Program, command, "--help" });
        EXPECT_EQ(r.Status, 0) << command;
        EXPECT_NE(r.Out.find("Usage: tovrinctl " + std::string(command)), std::string::npos) << r.Out;
    }
}

} // namespace
