// tovrinctl monitor scraped by a real Prometheus server (Debian's package), both on the app side of
// the private test network, the simulator's amplifiers on the other: what Prometheus stores is what
// an alert and a dashboard see. Prometheus listens on the app side's own loopback only, keeps its
// data in a folder of the test and is ended by its process id.

#include "support/PrivateNetworkTest.h"
#include "support/ProgramRun.h"
#include "support/TempTree.h"
#include "text/TextEncoding.h"
#include "tools/ampsim/Ampsim.h"
#include "tools/ampsim/Flood.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <csignal>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <map>
#include <set>
#include <thread>

namespace {

const std::string Program = TOVRIN_BINARY_DIR "/tovrinctl";
const std::string Prometheus = "/usr/bin/prometheus";
const std::string CurlProgram = "/usr/bin/curl";
const std::string Exporter = "127.0.0.1:18001";
const std::string Server = "127.0.0.1:19090";

// Quotes, backslashes, a closing brace with a fake label and value, invalid UTF-8: each must stay
// one label value. (A blank or line break ends a reply's field, so no name can hold one.)
const std::vector<std::string> Names { "Stage-Left", "say\"hi\"", "back\\slash\\", "}x=\"1\"}\x20",
    "B\xfchne", "a,b=\"c\"" };

class TovrinctlMonitorTest : public PrivateNetworkTest<6> {
protected:
    virtual bool WithPrometheus() const { return true; }
    void SetUp() override
    {
        PrivateNetworkTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        for (const std::string& program : std::vector<std::string> { Prometheus, CurlProgram })
            if (::access(program.c_str(), X_OK) != 0)
                GTEST_SKIP() << program << " is not installed (scripts/setup.sh installs it)";
        auto amps = ampsim::MakeAmplifiers(6);
        for (size_t i = 0; i < amps.size(); ++i)
            amps[i].Name = Names[i];
        amps[3].Name = "}x=\"1\"}"; // the blank above would end the field: the name is sent without it
        sim = std::make_unique<ampsim::Simulator>(ampsim::Options {}, amps);
        bool started = false;
        std::string error;
        net->RunInAmp([&] { started = sim->Start(error); });
        ASSERT_TRUE(started) << error;

        folder.File("prometheus.yml",
            "global:\n  scrape_interval: 1s\n  scrape_timeout: 1s\n  evaluation_interval: 1s\n"
            "scrape_configs:\n  - job_name: tovrin\n    static_configs:\n      - targets: ['"
                + Exporter + "']\n        labels:\n          subnet: test\n");
        const std::string app = net->NamespacePath(NetSide::App);
        monitor
            = std::make_unique<RunningProgram>(std::vector<std::string> { Program, "monitor", "--interface",
                                                   TestNetwork::AppAddress(), "--listen", Exporter },
                app);
        if (!WithPrometheus()) {
            ASSERT_TRUE(monitor->Started());
            return;
        }
        server = std::make_unique<RunningProgram>(
            std::vector<std::string> { Prometheus, "--config.file=" + folder.Path("prometheus.yml"),
                "--storage.tsdb.path=" + folder.Folder("data"), "--web.listen-address=" + Server },
            app);
        ASSERT_TRUE(monitor->Started() && server->Started());
    }
    void TearDown() override
    {
        if (server)
            server->Finish(0);
        if (sim)
            sim->Stop();
    }

    ProgramResult Curl(const std::vector<std::string>& args)
    {
        std::vector<std::string> argv { CurlProgram, "-s", "-S", "-m", "20" };
        argv.insert(argv.end(), args.begin(), args.end());
        return RunProgram(argv, 30000, net->NamespacePath(NetSide::App));
    }
    // The result vector of an instant query; empty while Prometheus does not answer yet.
    nlohmann::json Query(const std::string& promql)
    {
        const ProgramResult r
            = Curl({ "http://" + Server + "/api/v1/query", "--data-urlencode", "query=" + promql });
        const auto reply = nlohmann::json::parse(r.Out, nullptr, false);
        if (reply.is_discarded() || reply.value("status", "") != "success")
            return nlohmann::json::array();
        return reply["data"]["result"];
    }
    // Polls until check holds for the query's result (a generous deadline: the machine is shared).
    bool Eventually(const std::string& promql, const std::function<bool(const nlohmann::json&)>& check,
        nlohmann::json& last, int seconds = 60)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        do {
            last = Query(promql);
            if (check(last))
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        } while (std::chrono::steady_clock::now() < end);
        return false;
    }
    // mac label -> value
    static std::map<std::string, std::string> ByMac(const nlohmann::json& result)
    {
        std::map<std::string, std::string> values;
        for (const auto& item : result)
            values[item["metric"].value("mac", "")] = item["value"][1].get<std::string>();
        return values;
    }

    TempTree folder { "tovrin-monitor" };
    std::unique_ptr<ampsim::Simulator> sim;
    std::unique_ptr<RunningProgram> monitor;
    std::unique_ptr<RunningProgram> server;
};

TEST_F(TovrinctlMonitorTest, PrometheusSeesEveryAmplifierThenExactlyTheSilencedOnesDownThenSigtermEndsIt)
{
    const size_t count = sim->Count();
    // Every amplifier up, its address and name joined from the info series, each name one value.
    const std::string joined
        = "tovrin_amplifier_up * on(instance, mac) group_left(ip, name) tovrin_amplifier_info";
    nlohmann::json result;
    ASSERT_TRUE(Eventually(
        joined,
        [&](const nlohmann::json& r) {
            const auto values = ByMac(r);
            return values.size() == count
                && std::all_of(values.begin(), values.end(), [](const auto& v) { return v.second == "1"; });
        },
        result))
        << result.dump() << "\n"
        << monitor->OutSoFar();
    for (size_t i = 0; i < count; ++i) {
        const auto amp = sim->Amp(i);
        const auto it = std::find_if(result.begin(), result.end(),
            [&](const auto& item) { return item["metric"].value("mac", "") == amp.Mac; });
        ASSERT_NE(it, result.end()) << amp.Mac;
        EXPECT_EQ((*it)["metric"].value("ip", ""), amp.IP);
        EXPECT_EQ((*it)["metric"].value("name", ""), AsUtf8(amp.Name)) << amp.Mac;
        EXPECT_EQ((*it)["metric"].value("subnet", ""), "test");
    }
    // Nothing a reply said became a series or a metric of its own.
    const auto names = Query("count by (__name__) ({job=\"tovrin\", __name__=~\"tovrin_amplifier_.*\"})");
    std::map<std::string, std::string> perName;
    for (const auto& item : names)
        perName[item["metric"].value("__name__", "")] = item["value"][1].get<std::string>();
    const std::map<std::string, std::string> expected { { "tovrin_amplifier_info", std::to_string(count) },
        { "tovrin_amplifier_last_seen_timestamp_seconds", std::to_string(count) },
        { "tovrin_amplifier_up", std::to_string(count) } };
    EXPECT_EQ(perName, expected);

    // Silence two: exactly those go to 0 (after 2 to 2.5 s of silence and the next scrape).
    const std::set<size_t> silenced { 1, 4 };
    for (const size_t i : silenced)
        sim->Modify(i, [](ampsim::Amplifier& amp) { amp.Silent = true; });
    const auto silencedAt = std::chrono::steady_clock::now();
    ASSERT_TRUE(Eventually(
        "tovrin_amplifier_up",
        [&](const nlohmann::json& r) {
            const auto values = ByMac(r);
            if (values.size() != count)
                return false;
            for (size_t i = 0; i < count; ++i) {
                const auto it = values.find(sim->Amp(i).Mac);
                if (it == values.end() || it->second != (silenced.count(i) ? "0" : "1"))
                    return false;
            }
            return true;
        },
        result))
        << result.dump();
    std::printf("silenced amplifiers were 0 in Prometheus after %.1f s\n",
        std::chrono::duration<double>(std::chrono::steady_clock::now() - silencedAt).count());

    // SIGTERM ends it cleanly; each amplifier that vanished got its line.
    ASSERT_EQ(::kill(monitor->Pid(), SIGTERM), 0);
    const ProgramResult ended = monitor->Finish(20000);
    EXPECT_EQ(ended.Status, 0) << ended.Err.substr(0, 2000);
    for (const size_t i : silenced)
        EXPECT_NE(ended.Err.find("tovrinctl: vanished " + sim->Amp(i).Mac + " "), std::string::npos);
}

// The flood fills the list with 65,536 fake amplifiers. A scrape of that many takes 1-3 s in a
// plain build, so the test scrapes with curl alone: Prometheus' 1 s scrapes, each dropped after its
// 1 s time-out while the exporter still builds it, would keep the exporter's two threads busy, which
// the intervals of a real site (10 s and more) never do. Under the sanitizers a scrape takes many
// times longer still, so their runs leave this test out; its parts run there on their own (the
// bounded reply queue, the bounded log, scrapes that do not hold discovery up).
class TovrinctlMonitorFloodTest : public TovrinctlMonitorTest {
protected:
    bool WithPrometheus() const override { return false; }
};

TEST_F(TovrinctlMonitorFloodTest, TheExporterAnswersThroughAJunkFloodAndListsTheRealAmplifiersAfterIt)
{
    bool allUp = false;
    for (int attempt = 0; attempt < 100 && !allUp; ++attempt) {
        const ProgramResult r = Curl({ "http://" + Exporter + "/metrics" });
        allUp = r.Status == 0 && r.Out.find("\ntovrin_amplifiers " + std::to_string(sim->Count()) + "\n") != std::string::npos;
        if (!allUp)
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    ASSERT_TRUE(allUp) << "the simulator's amplifiers were never all listed";

    // 100,000 junk datagrams a second from the amplifiers' side, six-field fakes among them: the
    // exporter goes on answering throughout. The kernel may drop real replies among the junk, and
    // fakes may fill the list (vanished rows then make room), so what the flood leaves of the real
    // amplifiers is only checked once it has ended.
    ampsim::FloodOptions flood;
    flood.Rate = 100000;
    ampsim::Flooder flooder(flood);
    bool flooding = false;
    std::string error;
    net->RunInAmp([&] { flooding = flooder.Start(error); });
    ASSERT_TRUE(flooding) << error;
    // The scrapes come once the flood has sent 100,000 datagrams (about a second unless the
    // flooder itself runs slowly, as under the sanitizers), and while it goes on.
    const auto floodDeadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (flooder.Sent() < 100000u && std::chrono::steady_clock::now() < floodDeadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    for (int scrape = 0; scrape < 3; ++scrape) {
        const ProgramResult r = Curl({ "http://" + Exporter + "/metrics" });
        ASSERT_EQ(r.Status, 0) << r.Err;
        EXPECT_NE(r.Out.find("\ntovrin_amplifiers "), std::string::npos) << r.Out.substr(0, 2000);
    }
    flooder.Stop();
    EXPECT_GE(flooder.Sent(), 100000u);
    const std::string ampZeroUp = "tovrin_amplifier_up{mac=\"" + sim->Amp(0).Mac + "\"} 1\n";
    bool backUp = false;
    for (int attempt = 0; attempt < 40 && !backUp; ++attempt) {
        const ProgramResult r = Curl({ "http://" + Exporter + "/metrics" });
        backUp = r.Status == 0 && r.Out.find(ampZeroUp) != std::string::npos;
        if (!backUp)
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
    EXPECT_TRUE(backUp) << "a real amplifier is not listed as up after the flood ended";

    // It ends at once however many fakes it still holds; their lines stay bounded.
    ASSERT_EQ(::kill(monitor->Pid(), SIGTERM), 0);
    const ProgramResult ended = monitor->Finish(20000);
    EXPECT_EQ(ended.Status, 0) << ended.Err.substr(0, 2000);
    EXPECT_NE(ended.Err.find(" more appeared and "), std::string::npos) << ended.Err.substr(0, 2000);
}

// Beside a monitor on the exporter's port: a second one there is told the port is in use, and one on
// port 0 says the port it got, where it then answers.
class TovrinctlMonitorListenTest : public TovrinctlMonitorTest {
protected:
    bool WithPrometheus() const override { return false; }
};

TEST_F(TovrinctlMonitorListenTest, APortInUseIsSaidAndPortZeroTellsThePortItGot)
{
    const std::string app = net->NamespacePath(NetSide::App);
    bool served = false;
    for (int attempt = 0; attempt < 100 && !served; ++attempt) {
        served = Curl({ "http://" + Exporter + "/metrics" }).Status == 0;
        if (!served)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ASSERT_TRUE(served);
    const ProgramResult taken = RunProgram(
        { Program, "monitor", "--interface", TestNetwork::AppAddress(), "--listen", Exporter }, 20000, app);
    EXPECT_EQ(taken.Status, 1) << taken.Err;
    EXPECT_NE(taken.Err.find("tovrinctl: cannot listen on " + Exporter + ": "), std::string::npos) << taken.Err;
    EXPECT_NE(taken.Err.find("Address already in use"), std::string::npos) << taken.Err;

    RunningProgram any({ Program, "monitor", "--interface", TestNetwork::AppAddress(), "--listen", "127.0.0.1:0" }, app);
    ASSERT_TRUE(any.Started());
    const std::string prefix = "at http://127.0.0.1:";
    std::string said;
    for (int attempt = 0; attempt < 200 && said.find("/metrics\n") == std::string::npos; ++attempt) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        said = any.ErrSoFar();
    }
    const auto at = said.find(prefix);
    ASSERT_NE(at, std::string::npos) << said;
    const std::string port = said.substr(at + prefix.size(), said.find('/', at + prefix.size()) - at - prefix.size());
    EXPECT_GT(std::atoi(port.c_str()), 0) << said;
    const ProgramResult scrape = Curl({ "http://127.0.0.1:" + port + "/metrics" });
    EXPECT_EQ(scrape.Status, 0) << scrape.Err;
    EXPECT_NE(scrape.Out.find("\ntovrin_amplifiers "), std::string::npos) << scrape.Out.substr(0, 500);
    ASSERT_EQ(::kill(any.Pid(), SIGTERM), 0);
    EXPECT_EQ(any.Finish(20000).Status, 0);
}

} // namespace

namespace {

TEST(TovrinctlMonitorUsage, AListenAddressWithoutAPortIsAUsageErrorBeforeAnythingIsOpened)
{
    const struct {
        std::string listen;
        std::string said;
    } cases[] = {
        { "127.0.0.1", "ADDRESS:PORT" },
        { "127.0.0.1:", "ADDRESS:PORT" },
        { ":18001", "ADDRESS:PORT" },
        { "127.0.0.1:80x", "ADDRESS:PORT" },
        { "127.0.0.1:65536", "the port must be 1 to 65535" },
        { "127.0.0.1:99999", "the port must be 1 to 65535" },
        { "127.0.0.1:0000018001", "the port must be 1 to 65535" },
        { "[::1]:18002", "IPv6 is not supported" },
        { "::1:18002", "IPv6 is not supported" },
        { "[::]:0", "IPv6 is not supported" },
    };
    for (const auto& [listen, said] : cases) {
        // An address of the private network only, so that nothing could go out here if the check failed.
        const ProgramResult r = RunProgram(
            { Program, "monitor", "--interface", TestNetwork::AppAddress(), "--listen", listen });
        EXPECT_EQ(r.Status, 2) << listen << "\n" << r.Err;
        EXPECT_NE(r.Err.find(said), std::string::npos) << listen << "\n" << r.Err;
    }
}

} // namespace
