// set-ip --plan in the private test network against 200 simulated amplifiers: the list saved by
// discover --csv, edited, applied and confirmed; a plan refused with nothing sent; an amplifier
// that never comes back; Ctrl+C in the middle.

#include "support/PrivateNetworkTest.h"
#include "support/ProgramRun.h"
#include "support/TempTree.h"
#include "tools/ampsim/Ampsim.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>

namespace {

const std::string Program = TOVRIN_BINARY_DIR "/tovrinctl";
constexpr int AmpCount = 200;

std::string ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<nlohmann::json> JsonLines(const std::string& text)
{
    std::vector<nlohmann::json> values;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        values.push_back(nlohmann::json::parse(line));
    return values;
}

class SetIpPlanNetworkTest : public PrivateNetworkTest<AmpCount> {
protected:
    void TearDown() override
    {
        if (sim)
            sim->Stop();
    }
    void StartAmplifiers(
        int rebootMs, const std::function<void(std::vector<ampsim::Amplifier>&)>& change = {})
    {
        auto amps = ampsim::MakeAmplifiers(AmpCount);
        if (change)
            change(amps);
        ampsim::Options options;
        options.RebootMs = rebootMs;
        options.Command = false;
        options.OnEvent = [this](const std::string& event) {
            std::lock_guard lock(eventsMutex);
            events.push_back(event);
        };
        sim = std::make_unique<ampsim::Simulator>(options, amps);
        bool started = false;
        std::string error;
        net->RunInAmp([&] { started = sim->Start(error); });
        ASSERT_TRUE(started) << error;
    }
    std::vector<std::string> Args(std::vector<std::string> args) const
    {
        args.insert(args.begin(), Program);
        args.insert(args.end(), { "--interface", TestNetwork::AppAddress() });
        return args;
    }
    ProgramResult Run(const std::vector<std::string>& args, int ms = 120000)
    {
        return RunProgram(Args(args), ms, net->NamespacePath(NetSide::App));
    }
    std::string Write(const std::string& name, const std::string& text) { return tree.File(name, text); }
    size_t SettingsReceived() const
    {
        size_t count = 0;
        for (size_t i = 0; i < sim->Count(); ++i)
            count += sim->SettingsReceived(i).size();
        return count;
    }
    size_t IndexOf(const std::string& mac) const
    {
        for (size_t i = 0; i < sim->Count(); ++i)
            if (sim->Amp(i).Mac == mac)
                return i;
        return SIZE_MAX;
    }

    // Replays the simulator's log: an amplifier holds its old address until it is back from its
    // reboot. Returns every moment an address was given to one amplifier while another held it.
    std::vector<std::string> AddressesHeldTwice(const std::vector<ampsim::Amplifier>& start)
    {
        std::map<std::string, std::set<std::string>> holds; // MAC -> addresses
        for (const auto& amp : start)
            holds[amp.Mac] = { amp.IP };
        std::vector<std::string> clashes;
        std::lock_guard lock(eventsMutex);
        for (const std::string& event : events) {
            const std::string mac = event.substr(0, event.find(' '));
            const size_t quote = event.find(" applies \"");
            if (quote != std::string::npos) {
                std::istringstream datagram(event.substr(quote + 10));
                std::string m, five, dhcp, ip;
                datagram >> m >> five >> dhcp >> ip;
                if (dhcp != "0")
                    continue;
                for (const auto& [other, addresses] : holds)
                    if (other != mac && addresses.count(ip))
                        clashes.push_back(event + " while " + other + " holds it");
                holds[mac].insert(ip);
            } else if (const size_t back = event.find(" is back: "); back != std::string::npos) {
                std::istringstream reply(event.substr(back + 10));
                std::string m, flag, ip;
                reply >> m >> flag >> ip;
                holds[mac] = { ip };
            }
        }
        return clashes;
    }

    TempTree tree { "tovrin-plan" };
    const std::string folder = tree.Root();
    std::unique_ptr<ampsim::Simulator> sim;
    std::mutex eventsMutex;
    std::vector<std::string> events;
};

// Amplifier i's new address: 198.18.50.1 ... 198.18.50.254, 198.18.51.1 ...
std::string NewAddress(size_t i)
{
    return "198.18." + std::to_string(50 + i / 254) + "." + std::to_string(1 + i % 254);
}

TEST_F(SetIpPlanNetworkTest, TheSavedListEditedIsAPlanAppliedAndConfirmed)
{
    ASSERT_NO_FATAL_FAILURE(StartAmplifiers(1500, [](auto& amps) { amps[2].LeaseIP = "198.18.60.2"; }));
    // The list as discover saves it, edited as in a spreadsheet: amplifiers 0 and 1 swap their
    // addresses, 2 goes to DHCP, the rest move to 198.18.50.x with a gateway.
    const std::string list = folder + "/list.csv";
    ProgramResult r = Run({ "discover", "--csv", "--seconds", "2", "-o", list });
    ASSERT_EQ(r.Status, 0) << r.Err;
    std::istringstream in(ReadAll(list));
    std::string plan, line;
    std::getline(in, line);
    plan = line + "\n";
    size_t rows = 0;
    while (std::getline(in, line)) {
        std::vector<std::string> fields;
        std::istringstream split(line);
        for (std::string field; std::getline(split, field, ',');)
            fields.push_back(field);
        ASSERT_GE(fields.size(), 6u) << line;
        const size_t i = IndexOf(fields[0]);
        ASSERT_LT(i, sim->Count()) << line;
        if (i == 0 || i == 1)
            fields[1] = TestNetwork::AmpAddress(1 - static_cast<int>(i));
        else if (i == 2)
            fields[1] = "dhcp";
        else
            fields[1] = NewAddress(i), fields[3] = "198.18.0.1";
        for (const std::string& field : fields)
            plan += field + (&field == &fields.back() ? "\n" : ",");
        ++rows;
    }
    ASSERT_EQ(rows, static_cast<size_t>(AmpCount));
    const std::string planPath = Write("plan.csv", plan);
    const std::string audit = folder + "/audit.jsonl";

    r = Run({ "set-ip", "--plan", planPath, "--parallel", "50", "--audit", audit, "--json" });
    EXPECT_EQ(r.Status, 0) << r.Err;
    const auto records = JsonLines(r.Out);
    ASSERT_EQ(records.size(), static_cast<size_t>(AmpCount)) << r.Out;
    EXPECT_EQ(JsonLines(ReadAll(audit)).size(), static_cast<size_t>(AmpCount));
    for (const auto& record : records) {
        const size_t i = IndexOf(record.at("mac"));
        ASSERT_LT(i, sim->Count()) << record;
        EXPECT_EQ(record.at("result"), "ok") << record;
        const ampsim::Amplifier amp = sim->Amp(i);
        if (i <= 1) {
            EXPECT_EQ(amp.IP, TestNetwork::AmpAddress(1 - static_cast<int>(i)));
        } else if (i == 2) {
            EXPECT_TRUE(amp.Dhcp);
            EXPECT_EQ(amp.IP, "198.18.60.2");
            EXPECT_EQ(sim->SettingsReceived(i), std::vector<std::string> { amp.Mac + " 5 1" });
        } else {
            EXPECT_EQ(amp.IP, NewAddress(i));
            EXPECT_EQ(amp.Gateway, "198.18.0.1");
            EXPECT_EQ(sim->SettingsReceived(i),
                std::vector<std::string> { amp.Mac + " 5 0 " + NewAddress(i) + " 255.255.0.0 198.18.0.1" });
            EXPECT_EQ(record.at("message"),
                "Change took effect: " + amp.Mac + " answers as " + NewAddress(i)
                    + " / 255.255.0.0 / 198.18.0.1.");
        }
    }
    // The swap went through a free address: one of the two was sent it first, then its own.
    EXPECT_EQ(sim->SettingsReceived(0).size() + sim->SettingsReceived(1).size(), 3u);
    const size_t sent = SettingsReceived();
    EXPECT_EQ(sent, static_cast<size_t>(AmpCount + 1));
    EXPECT_EQ(AddressesHeldTwice(ampsim::MakeAmplifiers(AmpCount)), std::vector<std::string> {});

    // Again: everything is as planned already, nothing is sent.
    r = Run({ "set-ip", "--plan", planPath, "--parallel", "50" });
    EXPECT_EQ(r.Status, 0) << r.Err;
    EXPECT_NE(r.Out.find("0 of 200 amplifiers ok, 200 unchanged, 0 not found, 0 failed"), std::string::npos)
        << r.Out;
    EXPECT_EQ(SettingsReceived(), sent);
}

TEST_F(SetIpPlanNetworkTest, APlanWithFindingsIsRefusedAndNothingIsSent)
{
    ASSERT_NO_FATAL_FAILURE(StartAmplifiers(800));
    const std::string mac0 = sim->Amp(0).Mac, mac1 = sim->Amp(1).Mac, mac2 = sim->Amp(2).Mac;
    // Line numbers: the header is line 1.
    const std::string plan = "mac,ip,netmask,gateway,name\n" + mac0
        + ",198.18.50.300,255.255.0.0,,a\n" // 2: not dotted
        + mac1 + ",198.18.50.1,255.255.0.255,,b\n" // 3: netmask
        + mac2 + ",198.18.50.2,255.255.255.0,198.18.0.1,c\n" // 4: gateway outside
        + sim->Amp(3).Mac + ",198.18.50.3,255.255.0.0,,d\n" + sim->Amp(4).Mac
        + ",198.18.50.3,255.255.0.0,,e\n" // 6: address twice
        + mac0 + ",dhcp,,,f\n"; // 7: MAC twice
    ProgramResult r = Run({ "set-ip", "--plan", Write("bad.csv", plan) });
    EXPECT_EQ(r.Status, 2);
    for (const char* expected : { "line 2: IP Address \"198.18.50.300\"", "line 3: Netmask \"255.255.0.255\"",
             "line 4: Default Gateway \"198.18.0.1\" is outside",
             "line 6: address 198.18.50.3 is planned twice", "line 7: MAC suffix " })
        EXPECT_NE(r.Err.find(expected), std::string::npos) << expected << "\n" << r.Err;
    EXPECT_EQ(sim->HellosReceived(), 0u) << "a plan faulty in itself is refused before discovery";

    // An address that an amplifier holds and keeps needs discovery to be found.
    const std::string held = "mac,ip,netmask,gateway\n" + mac0 + ",198.18.50.1,255.255.0.0,\n" + mac1 + ","
        + TestNetwork::AmpAddress(5) + ",255.255.0.0,\n";
    r = Run({ "set-ip", "--plan", Write("held.csv", held), "--seconds", "1.5" });
    EXPECT_EQ(r.Status, 2);
    EXPECT_NE(r.Err.find("line 3: address " + TestNetwork::AmpAddress(5) + " is held by " + sim->Amp(5).Mac),
        std::string::npos)
        << r.Err;
    EXPECT_EQ(SettingsReceived(), 0u);
}

TEST_F(SetIpPlanNetworkTest, AnAmplifierThatNeverComesBackFailsAndHoldsUpNoOther)
{
    // 5 reboots into silence; 6 is to take 5's address, so it waits for 5 and is not sent.
    ASSERT_NO_FATAL_FAILURE(StartAmplifiers(800, [](auto& amps) { amps[5].StaysDown = true; }));
    std::string plan = "mac,ip,netmask,gateway\n";
    for (size_t i = 0; i < 20; ++i)
        plan += sim->Amp(i).Mac + "," + (i == 6 ? TestNetwork::AmpAddress(5) : NewAddress(i))
            + ",255.255.0.0,\n";
    plan += "0050C2FFFF01,198.18.70.1,255.255.0.0,\n0050C2FFFF02,dhcp\n";
    const std::string audit = folder + "/audit.jsonl";
    const ProgramResult r = Run({ "set-ip", "--plan", Write("plan.csv", plan), "--parallel", "8", "--timeout",
        "10", "--seconds", "1.5", "--audit", audit });
    EXPECT_EQ(r.Status, 1) << r.Err;
    const auto records = JsonLines(ReadAll(audit));
    ASSERT_EQ(records.size(), 22u);
    std::map<std::string, int> results;
    for (const auto& record : records) {
        ++results[record.at("result")];
        const size_t i = IndexOf(record.at("mac"));
        if (i == 5) {
            EXPECT_EQ(record.at("result"), "failed");
            EXPECT_EQ(record.at("message"),
                "Change not confirmed in 10 s: " + sim->Amp(5).Mac + " has been silent since; before: "
                    + TestNetwork::AmpAddress(5) + " / 255.255.0.0 / 0.0.0.0.");
        } else if (i == 6) {
            EXPECT_EQ(record.at("result"), "failed");
            EXPECT_EQ(record.at("message"),
                "Not sent: " + sim->Amp(5).Mac + " did not confirm leaving " + TestNetwork::AmpAddress(5)
                    + ".");
            EXPECT_TRUE(sim->SettingsReceived(6).empty());
        } else if (i < sim->Count()) {
            EXPECT_EQ(record.at("result"), "ok") << record;
        } else {
            EXPECT_EQ(record.at("result"), "not found") << record;
        }
    }
    EXPECT_EQ(results, (std::map<std::string, int> { { "ok", 18 }, { "failed", 2 }, { "not found", 2 } }));
    // The others did not wait for the silent one: they all ended before it failed.
    EXPECT_EQ(records[records.size() - 2].at("mac"), sim->Amp(5).Mac);
}

TEST_F(SetIpPlanNetworkTest, CtrlCStopsSendingAndTellsWhatIsUnknown)
{
    ASSERT_NO_FATAL_FAILURE(StartAmplifiers(20000));
    std::string plan = "mac,ip,netmask,gateway\n";
    for (size_t i = 0; i < 10; ++i)
        plan += sim->Amp(i).Mac + "," + NewAddress(i) + ",255.255.0.0,\n";
    RunningProgram program(
        Args({ "set-ip", "--plan", Write("plan.csv", plan), "--parallel", "2", "--seconds", "1", "--csv" }),
        net->NamespacePath(NetSide::App));
    ASSERT_TRUE(program.Started());
    ASSERT_TRUE(ampsim::Simulator::WaitUntil([&] { return SettingsReceived() >= 2; }, 10000));
    kill(program.Pid(), SIGINT);
    const ProgramResult r = program.Finish(10000);
    EXPECT_EQ(r.Status, 130) << r.Err;
    EXPECT_EQ(SettingsReceived(), 2u);
    EXPECT_NE(r.Out.find(",unknown,"), std::string::npos) << r.Out;
    size_t unknown = 0, notSent = 0;
    std::istringstream lines(r.Out);
    for (std::string line; std::getline(lines, line);) {
        unknown += line.find(",unknown,") != std::string::npos ? 1 : 0;
        notSent += line.find(",not sent,") != std::string::npos ? 1 : 0;
    }
    EXPECT_EQ(unknown, 2u) << r.Out;
    EXPECT_EQ(notSent, 8u) << r.Out;
    EXPECT_NE(r.Err.find("2 unknown, 8 not sent"), std::string::npos) << r.Err;
}

} // namespace
