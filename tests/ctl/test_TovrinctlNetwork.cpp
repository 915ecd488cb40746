// tovrinctl in the private test network: discover, set-ip and rollout against 20 simulated
// amplifiers on the other side (the program runs on the app side; nothing leaves the namespaces).

#include "ctl/FileDigest.h"
#include "ctl/Rollout.h"
#include "finder/ListExport.h"
#include "platform/UniqueFd.h"
#include "support/CsvReader.h"
#include "support/PrivateNetworkTest.h"
#include "support/ProgramRun.h"
#include "support/TestSockets.h"
#include "tools/ampsim/Ampsim.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;

namespace {

const std::string Program = TOVRIN_BINARY_DIR "/tovrinctl";
constexpr int AmpCount = 20;

std::vector<nlohmann::json> JsonLines(const std::string& text)
{
    std::vector<nlohmann::json> values;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        values.push_back(nlohmann::json::parse(line));
    return values;
}

// "2026-12-07T16:43:03+01:00"
bool IsIsoLocalTime(const std::string& text)
{
    return std::regex_match(text, std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d\d:\d\d)"));
}

class TovrinctlNetworkTest : public PrivateNetworkTest<AmpCount> {
protected:
    void SetUp() override
    {
        PrivateNetworkTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        std::string pattern = (fs::temp_directory_path() / "tovrin-ctlnet-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        folder = pattern;
    }
    void TearDown() override
    {
        if (sim)
            sim->Stop();
        std::error_code ignored;
        if (!folder.empty())
            fs::remove_all(folder, ignored);
    }
    // The amplifiers only count upload bytes: checksumming 20 uploads at once on the simulator's one
    // thread can hold a final reply beyond its 1000 ms on a loaded machine.
    void StartAmplifiers(const std::function<void(std::vector<ampsim::Amplifier>&)>& change = {})
    {
        auto amps = ampsim::MakeAmplifiers(AmpCount);
        if (change)
            change(amps);
        ampsim::Options options;
        options.RebootMs = 800;
        options.ChecksumUploads = false;
        sim = std::make_unique<ampsim::Simulator>(options, amps);
        bool started = false;
        std::string error;
        net->RunInAmp([&] { started = sim->Start(error); });
        ASSERT_TRUE(started) << error;
    }
    std::vector<std::string> Args(std::vector<std::string> args) const
    {
        args.insert(args.begin(), Program);
        return args;
    }
    ProgramResult Run(const std::vector<std::string>& args, int ms = 30000)
    {
        return RunProgram(Args(args), ms, net->NamespacePath(NetSide::App));
    }
    std::string File(size_t size)
    {
        const std::string path = folder + "/fw.bin";
        std::ofstream(path, std::ios::binary) << std::string(size, 'f');
        return path;
    }

    std::string folder;
    std::unique_ptr<ampsim::Simulator> sim;
};

TEST_F(TovrinctlNetworkTest, DiscoverListsEveryAmplifierOnceAsJsonOrTable)
{
    ASSERT_NO_FATAL_FAILURE(StartAmplifiers());
    ProgramResult r
        = Run({ "discover", "--json", "--seconds", "1.5", "--interface", TestNetwork::AppAddress() });
    ASSERT_EQ(r.Status, 0) << r.Err;
    const auto lines = JsonLines(r.Out);
    ASSERT_EQ(lines.size(), static_cast<size_t>(AmpCount)) << r.Out;
    std::set<std::string> macs;
    for (const auto& line : lines) {
        const std::string mac = line.at("mac");
        macs.insert(mac);
        size_t i = 0;
        while (i < sim->Count() && sim->Amp(i).Mac != mac)
            ++i;
        ASSERT_LT(i, sim->Count()) << mac;
        const ampsim::Amplifier amp = sim->Amp(i);
        // A line goes out at the first reply: both times are that reply's.
        const std::string seen = line.at("first_seen");
        EXPECT_TRUE(IsIsoLocalTime(seen)) << seen;
        EXPECT_EQ(line,
            (nlohmann::json { { "mac", amp.Mac }, { "ip", amp.IP }, { "netmask", amp.NetMask },
                { "gateway", amp.Gateway }, { "flag", "0" }, { "name", amp.Name }, { "first_seen", seen },
                { "last_seen", seen } }));
    }
    EXPECT_EQ(macs.size(), static_cast<size_t>(AmpCount));

    // The table, on the only interface of the app side (no --interface needed).
    r = Run({ "discover", "--seconds", "1" });
    ASSERT_EQ(r.Status, 0) << r.Err;
    std::istringstream table(r.Out);
    std::string heading;
    std::getline(table, heading);
    EXPECT_EQ(heading, "MAC           IP           NETMASK      GATEWAY  FLAG  NAME");
    EXPECT_EQ(std::count(r.Out.begin(), r.Out.end(), '\n'), AmpCount + 1);
    const ampsim::Amplifier first = sim->Amp(0);
    EXPECT_NE(r.Out.find("\n" + first.Mac + "  " + first.IP + "   " + first.NetMask + "  " + first.Gateway
                  + "  0     " + first.Name + "\n"),
        std::string::npos)
        << r.Out;
}

TEST_F(TovrinctlNetworkTest, DiscoverWritesCsvAndJsonFilesWithTheLatestTimes)
{
    ASSERT_NO_FATAL_FAILURE(StartAmplifiers([](std::vector<ampsim::Amplifier>& amps) {
        amps[1].Name = "=1+1";
        amps[2].Name = "B\xfchne,\"3\"";
    }));
    const std::string csvPath = folder + "/list.csv";
    ProgramResult r = Run({ "discover", "--csv", "--seconds", "2.5", "-o", csvPath });
    ASSERT_EQ(r.Status, 0) << r.Err;
    EXPECT_EQ(r.Out, "");
    std::string error;
    const auto rows = ReadCsvWithPython(csvPath, error);
    ASSERT_TRUE(rows) << error;
    ASSERT_EQ(rows->size(), static_cast<size_t>(AmpCount + 1));
    EXPECT_EQ((*rows)[0],
        (std::vector<std::string> {
            "mac", "ip", "netmask", "gateway", "flag", "name", "first_seen", "last_seen" }));
    std::map<std::string, std::vector<std::string>> byMac;
    for (size_t k = 1; k < rows->size(); ++k)
        byMac[(*rows)[k].at(0)] = (*rows)[k];
    ASSERT_EQ(byMac.size(), static_cast<size_t>(AmpCount));
    for (size_t i = 0; i < sim->Count(); ++i) {
        const ampsim::Amplifier amp = sim->Amp(i);
        const auto& row = byMac[amp.Mac];
        ASSERT_EQ(row.size(), 8u) << amp.Mac;
        EXPECT_EQ(std::vector<std::string>(row.begin() + 1, row.begin() + 4),
            (std::vector<std::string> { amp.IP, amp.NetMask, amp.Gateway }));
        EXPECT_TRUE(IsIsoLocalTime(row[6]) && IsIsoLocalTime(row[7])) << row[6] << " " << row[7];
        // Replies come every 500 ms for 2.5 s: the latest is two seconds after the first.
        EXPECT_LT(row[6], row[7]) << amp.Mac;
    }
    EXPECT_EQ(byMac[sim->Amp(1).Mac][5], "'=1+1");
    EXPECT_EQ(byMac[sim->Amp(2).Mac][5], "B\xc3\xbchne,\"3\"");

    // JSON to a file: written at the end, with the latest times too.
    const std::string jsonPath = folder + "/list.jsonl";
    r = Run({ "discover", "--json", "--seconds", "2.5", "--output", jsonPath });
    ASSERT_EQ(r.Status, 0) << r.Err;
    std::ifstream in(jsonPath);
    std::stringstream text;
    text << in.rdbuf();
    const auto lines = JsonLines(text.str());
    ASSERT_EQ(lines.size(), static_cast<size_t>(AmpCount));
    for (const auto& line : lines)
        EXPECT_LT(line.at("first_seen").get<std::string>(), line.at("last_seen").get<std::string>()) << line;

    // A file that cannot be written is named with the reason, and the run fails.
    r = Run({ "discover", "--csv", "--seconds", "0.5", "-o", folder + "/missing/list.csv" });
    EXPECT_EQ(r.Status, 1);
    EXPECT_EQ(
        r.Err, "tovrinctl: cannot write \"" + folder + "/missing/list.csv\": No such file or directory\n");
}

// A pipe or a device named by -o gets the list in place, as `cat > target` would: a named pipe,
// a link to a pipe like /dev/stdout (to one of this test's descriptors through /proc), a device
// like /dev/null made here. A socket is refused with the reason.
TEST_F(TovrinctlNetworkTest, DiscoverWritesIntoPipesAndDevicesInPlace)
{
    ASSERT_NO_FATAL_FAILURE(StartAmplifiers());
    const std::string fifo = folder + "/list.fifo", stdoutLike = folder + "/stdout",
                      device = folder + "/null", socket = folder + "/list.socket";
    int ends[2];
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600) | ::pipe2(ends, O_CLOEXEC | O_NONBLOCK)
            | ::mknod(device.c_str(), S_IFCHR | 0666, makedev(1, 3)),
        0);
    ASSERT_TRUE(BindUnixSocket(socket));
    // The readers are there before the run, as a pipeline's are.
    UniqueFd fifoReader(::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)), pipeReader(ends[0]),
        pipeWriter(ends[1]);
    fs::create_symlink("/proc/" + std::to_string(::getpid()) + "/fd/" + std::to_string(ends[1]), stdoutLike);
    const struct {
        std::string target;
        int reader; // where the list arrives, -1: nowhere to look
        mode_t kind; // what the target is afterwards
        std::string err;
    } cases[] = {
        { fifo, fifoReader.get(), S_IFIFO, "" },
        { stdoutLike, pipeReader.get(), S_IFLNK, "" },
        { device, -1, S_IFCHR, "" },
        { socket, -1, S_IFSOCK, "tovrinctl: cannot write \"" + socket + "\": Not a regular file\n" },
    };
    for (const auto& c : cases) {
        const ProgramResult r = Run({ "discover", "--csv", "--seconds", "1", "-o", c.target });
        EXPECT_EQ(r.Status, c.err.empty() ? 0 : 1) << c.target << ": " << r.Err;
        EXPECT_EQ(r.Err, c.err) << c.target;
        struct stat info { };
        EXPECT_TRUE(::lstat(c.target.c_str(), &info) == 0 && (info.st_mode & S_IFMT) == c.kind) << c.target;
        if (c.reader >= 0) {
            char buffer[65536];
            const std::string list(buffer, std::max<ssize_t>(::read(c.reader, buffer, sizeof buffer), 0));
            EXPECT_EQ(list.substr(0, list.find('\r')), AmplifierCsvHeader) << c.target;
            EXPECT_EQ(std::count(list.begin(), list.end(), '\n'), AmpCount + 1) << c.target << ": " << list;
        }
    }
}

TEST_F(TovrinctlNetworkTest, SetIpSendsTheDatagramAndReportsWhetherTheChangeShowed)
{
    ASSERT_NO_FATAL_FAILURE(StartAmplifiers());
    const std::string mac = sim->Amp(2).Mac;

    // A malformed address is refused before anything is sent, unless forced.
    ProgramResult r = Run({ "set-ip", mac, "--ip", "198.18.7.300", "--netmask", "255.255.0.0" });
    EXPECT_EQ(r.Status, 2);
    EXPECT_NE(r.Err.find("--force"), std::string::npos) << r.Err;
    EXPECT_TRUE(sim->SettingsReceived(2).empty());

    r = Run({ "set-ip", mac, "--ip", "198.18.7.7", "--netmask", "255.255.0.0", "--gateway", "198.18.0.1" });
    EXPECT_EQ(r.Status, 0) << r.Err;
    EXPECT_EQ(sim->SettingsReceived(2),
        std::vector<std::string> { mac + " 5 0 198.18.7.7 255.255.0.0 198.18.0.1" });
    EXPECT_EQ(r.Out, "Change took effect: " + mac + " answers as 198.18.7.7 / 255.255.0.0 / 198.18.0.1.\n");
    EXPECT_EQ(sim->Amp(2).IP, "198.18.7.7");

    // The MAC is matched without regard to case; --no-wait ends once the datagram is out.
    sim->Modify(4, [](ampsim::Amplifier& amp) { amp.Mac = "0050C2A1FFFF"; });
    r = Run({ "set-ip", "0050c2a1ffff", "--dhcp", "--no-wait" });
    EXPECT_EQ(r.Status, 0) << r.Err;
    EXPECT_EQ(r.Out, "Settings sent to 0050C2A1FFFF.\n");

    r = Run({ "set-ip", "0050C2A1EEEE", "--dhcp" });
    EXPECT_EQ(r.Status, 1);
    EXPECT_NE(r.Err.find("no amplifier 0050C2A1EEEE answered"), std::string::npos) << r.Err;
}

TEST_F(TovrinctlNetworkTest, SetIpToDhcpWaitsUntilTheAmplifierAnswersWithItsLease)
{
    ASSERT_NO_FATAL_FAILURE(
        StartAmplifiers([](std::vector<ampsim::Amplifier>& amps) { amps[5].LeaseIP = "198.18.5.5"; }));
    const std::string mac = sim->Amp(5).Mac;
    const ProgramResult r = Run({ "set-ip", mac, "--dhcp" });
    EXPECT_EQ(r.Status, 0) << r.Err;
    EXPECT_EQ(sim->SettingsReceived(5), std::vector<std::string> { mac + " 5 1" });
    EXPECT_EQ(r.Out,
        "Change took effect: " + mac + " answers again, on DHCP at 198.18.5.5 / 255.255.0.0 / 0.0.0.0.\n");
}

TEST_F(TovrinctlNetworkTest, RolloutToTwentyAmplifiersRecordsEachExactly)
{
    // Amplifier 3 never answers on its command port, amplifier 7 closes in the middle of the data.
    ASSERT_NO_FATAL_FAILURE(StartAmplifiers([](std::vector<ampsim::Amplifier>& amps) {
        amps[3].CommandSilent = true;
        amps[7].CloseAfterBytes = 65536; // before the receive window could take the whole file
    }));
    const size_t size = 1u << 20;
    const std::string file = File(size);
    const std::string audit = folder + "/audit.jsonl";
    const ProgramResult r = Run({ "rollout", file, "--all", "--parallel", "8", "--audit", audit });
    EXPECT_EQ(r.Status, 1) << r.Err;

    std::ifstream in(audit);
    std::stringstream text;
    text << in.rdbuf();
    const auto records = JsonLines(text.str());
    ASSERT_EQ(records.size(), static_cast<size_t>(AmpCount));
    std::string error;
    const std::string sha256 = Sha256OfFile(file, error);
    ASSERT_EQ(sha256.size(), 64u) << error;
    std::set<std::string> macs;
    for (const auto& record : records) {
        const std::string mac = record.at("mac");
        macs.insert(mac);
        size_t i = 0;
        while (i < sim->Count() && sim->Amp(i).Mac != mac)
            ++i;
        ASSERT_LT(i, sim->Count()) << mac;
        EXPECT_EQ(record.at("ip"), sim->Amp(i).IP);
        EXPECT_EQ(record.at("name"), sim->Amp(i).Name);
        EXPECT_EQ(record.at("file"), "fw.bin");
        EXPECT_EQ(record.at("size"), size);
        EXPECT_EQ(record.at("sha256"), sha256);
        EXPECT_TRUE(record.at("seconds").is_number());
        EXPECT_EQ(record.at("time").get<std::string>().back(), 'Z');
        if (i == 3) {
            EXPECT_EQ(record.at("result"), "failed");
            EXPECT_EQ(record.at("version"), "");
            EXPECT_EQ(record.at("last_line"), "Reply timeout!");
        } else if (i == 7) {
            EXPECT_EQ(record.at("result"), "failed");
            EXPECT_EQ(record.at("version"), "AMPSIM V1.0 " + mac);
            EXPECT_EQ(record.at("last_line").get<std::string>().rfind("Sending failed after ", 0), 0u);
        } else {
            EXPECT_EQ(record.at("result"), "ok") << record;
            EXPECT_EQ(record.at("version"), "AMPSIM V1.0 " + mac);
            EXPECT_EQ(record.at("last_line"), "FILE_UPLOAD_DONE");
        }
    }
    EXPECT_EQ(macs.size(), static_cast<size_t>(AmpCount));
    EXPECT_NE(r.Out.find("18 of 20 amplifiers ok"), std::string::npos) << r.Out;
    size_t complete = 0;
    for (const auto& upload : sim->Uploads())
        complete += upload.Complete && upload.Received == size ? 1 : 0;
    EXPECT_EQ(complete, 18u);
}

// Version lines ended by LF, CR LF and a blank, and an amplifier whose IP field is a host name:
// the line's ending is no part of the version (in the table, CSV, JSON, the audit and the skip),
// the blank is, and shows; the name is never looked up nor connected to, the others go on.
TEST_F(TovrinctlNetworkTest, VersionsAndRolloutReadLineEndingsAndRefuseNamesForAddresses)
{
    const std::vector<std::pair<std::string, std::string>> amps { { "Ver-A", "FW 2.1.0" },
        { "Ver-B", "FW 2.1.0\r" }, { "Ver-C", "FW 2.1.0 " }, { "Ver-D", "FW 2.1.0" },
        { "Ver-E", "FW 2.0\r" } };
    ASSERT_NO_FATAL_FAILURE(StartAmplifiers([&](std::vector<ampsim::Amplifier>& list) {
        for (size_t i = 0; i < amps.size(); ++i) {
            list[i].Name = amps[i].first;
            list[i].Version = amps[i].second;
        }
        list[3].IP = "localhost"; // would reach the app side's own loopback
    }));
    const std::vector<std::string> versions { "versions", "--interface", TestNetwork::AppAddress(),
        "--seconds", "1", "--filter", "Ver-" };
    const std::map<std::string, std::pair<std::string, std::string>> expected {
        { "Ver-A", { "FW 2.1.0", "" } }, { "Ver-B", { "FW 2.1.0", "" } }, { "Ver-C", { "FW 2.1.0 ", "" } },
        { "Ver-D", { "", "not an IPv4 address" } }, { "Ver-E", { "FW 2.0", "" } }
    };

    std::vector<std::string> args = versions;
    args.push_back("--json");
    ProgramResult r = Run(args);
    EXPECT_EQ(r.Status, 1) << r.Err;
    std::map<std::string, std::pair<std::string, std::string>> found;
    for (const auto& line : JsonLines(r.Out))
        found[line.at("name")] = { line.at("version"), line.at("error") };
    EXPECT_EQ(found, expected);

    args = versions;
    args.insert(args.end(), { "--csv", "-o", folder + "/versions.csv" });
    r = Run(args);
    EXPECT_EQ(r.Status, 1) << r.Err;
    std::string error;
    const auto rows = ReadCsvWithPython(folder + "/versions.csv", error);
    ASSERT_TRUE(rows) << error;
    found.clear();
    for (size_t i = 1; i < rows->size(); ++i)
        found[(*rows)[i].at(2)] = { (*rows)[i].at(3), (*rows)[i].at(4) };
    EXPECT_EQ(found, expected);

    r = Run(versions);
    EXPECT_EQ(r.Status, 1) << r.Err;
    EXPECT_EQ(r.Out.find("\\x0d"), std::string::npos) << r.Out;
    EXPECT_NE(r.Out.find("FW 2.1.0\\x20  "), std::string::npos) << r.Out;
    EXPECT_NE(r.Out.find("  not an IPv4 address\n"), std::string::npos) << r.Out;

    const std::string audit = folder + "/audit.jsonl";
    r = Run({ "rollout", File(1000), "--from-discovery", "Ver-*", "--interface", TestNetwork::AppAddress(),
        "--seconds", "1", "--skip-version", "FW 2.1.0", "--audit", audit });
    EXPECT_EQ(r.Status, 1) << r.Err;
    EXPECT_NE(r.Err.find("2 of 4 amplifiers report \"FW 2.1.0\" and are skipped."), std::string::npos)
        << r.Err;
    EXPECT_NE(r.Out.find("FW 2.1.0\\x20"), std::string::npos) << r.Out;
    std::ifstream in(audit);
    std::stringstream text;
    text << in.rdbuf();
    std::map<std::string, std::vector<std::string>> records;
    for (const auto& record : JsonLines(text.str()))
        records[record.at("name")] = { record.at("result"), record.at("version"), record.at("last_line") };
    EXPECT_EQ(records,
        (std::map<std::string, std::vector<std::string>> {
            { "Ver-A", { "skipped", "FW 2.1.0", SkippedLine } },
            { "Ver-B", { "skipped", "FW 2.1.0", SkippedLine } },
            { "Ver-C", { "ok", "FW 2.1.0 ", "FILE_UPLOAD_DONE" } },
            { "Ver-D", { "failed", "", "not an IPv4 address" } },
            { "Ver-E", { "ok", "FW 2.0", "FILE_UPLOAD_DONE" } } }));
    std::set<std::string> uploaded;
    for (const auto& upload : sim->Uploads())
        uploaded.insert(upload.Mac);
    EXPECT_EQ(uploaded, (std::set<std::string> { sim->Amp(2).Mac, sim->Amp(4).Mac }));
}

// Ctrl+C once: no further upload starts, the running ones end. Twice: they are broken off. Every
// amplifier has its record either way.
class RolloutInterrupted : public TovrinctlNetworkTest, public ::testing::WithParamInterface<int> { };

TEST_P(RolloutInterrupted, StopsCleanlyAndRecordsEveryAmplifier)
{
    const int presses = GetParam();
    // Late replies make each upload last about 2.4 s.
    ASSERT_NO_FATAL_FAILURE(StartAmplifiers([](std::vector<ampsim::Amplifier>& amps) {
        for (auto& amp : amps)
            amp.CommandDelayMs = 800;
    }));
    const std::string file = File(100000);
    const std::string audit = folder + "/audit.jsonl";
    RunningProgram program(
        Args({ "rollout", file, "--all", "--parallel", "4", "--seconds", "1", "--audit", audit }),
        net->NamespacePath(NetSide::App));
    ASSERT_TRUE(program.Started());
    // Discovery takes 1 s; the first four uploads then wait for their first reply.
    ASSERT_TRUE(ampsim::Simulator::WaitUntil([&] { return sim->Connections() >= 4; }, 10000));
    for (int i = 0; i < presses; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        kill(program.Pid(), SIGINT);
    }
    const ProgramResult r = program.Finish(20000);
    EXPECT_EQ(r.Status, 130) << r.Err;
    EXPECT_EQ(sim->Connections(), 4u);

    std::ifstream in(audit);
    std::stringstream text;
    text << in.rdbuf();
    const auto records = JsonLines(text.str());
    ASSERT_EQ(records.size(), static_cast<size_t>(AmpCount));
    int ok = 0, stopped = 0, notStarted = 0;
    for (const auto& record : records) {
        const std::string last = record.at("last_line");
        if (record.at("result") == "ok" && last == "FILE_UPLOAD_DONE")
            ++ok;
        else if (record.at("result") == "failed" && last.rfind("Stopped while waiting for ", 0) == 0)
            ++stopped;
        else if (record.at("result") == "failed" && last == "Not started: the rollout was interrupted.")
            ++notStarted;
        else
            ADD_FAILURE() << record;
    }
    EXPECT_EQ(ok, presses == 1 ? 4 : 0);
    EXPECT_EQ(stopped, presses == 1 ? 0 : 4);
    EXPECT_EQ(notStarted, AmpCount - 4);
    size_t complete = 0;
    for (const auto& upload : sim->Uploads())
        complete += upload.Complete ? 1 : 0;
    EXPECT_EQ(complete, static_cast<size_t>(ok));
}

INSTANTIATE_TEST_SUITE_P(Presses, RolloutInterrupted, ::testing::Values(1, 2));

} // namespace
