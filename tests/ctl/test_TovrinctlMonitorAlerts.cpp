// A site in small: tovrinctl monitor on the app side of the private test network, Debian's
// Prometheus with the package's rules, Debian's Alertmanager with a configuration shaped like the
// example's (grouped by alert and subnet, the same inhibit rule) and a webhook receiver of the test's
// own, all on the app side's loopback. Intervals are short (1 s) so that the whole story runs in
// about a minute and a half; the rules are the packaged ones, unchanged. Each server keeps its data
// in a folder of the test and is ended by its process id.

#include "support/PrivateNetworkTest.h"
#include "support/ProgramRun.h"
#include "support/TempTree.h"
#include "support/TestSockets.h"
#include "text/TextEncoding.h"
#include "tools/ampsim/Ampsim.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <functional>
#include <mutex>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;
const std::string Program = TOVRIN_BINARY_DIR "/tovrinctl";
const std::string Prometheus = "/usr/bin/prometheus";
const std::string Alertmanager = "/usr/bin/prometheus-alertmanager";
const std::string CurlProgram = "/usr/bin/curl";
const std::string Exporter = "127.0.0.1:18001";
const std::string Server = "127.0.0.1:19090";
const std::string Manager = "127.0.0.1:19093";
const int WebhookPort = 19094;

double SecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Takes Alertmanager's webhook posts: each body as JSON, with when it arrived.
class WebhookReceiver {
public:
    struct Notice {
        nlohmann::json Body;
        Clock::time_point At;
    };
    explicit WebhookReceiver(UniqueFd listener)
        : FListener(std::move(listener))
        , FThread([this] { Serve(); })
    {
    }
    ~WebhookReceiver()
    {
        FStop = true;
        FThread.join();
    }
    std::vector<Notice> Notices() const
    {
        std::lock_guard lock(FMutex);
        return FNotices;
    }

private:
    void Serve()
    {
        while (!FStop) {
            pollfd ready { FListener.get(), POLLIN, 0 };
            if (::poll(&ready, 1, 100) <= 0)
                continue;
            UniqueFd client(::accept4(FListener.get(), nullptr, nullptr, SOCK_CLOEXEC));
            if (client)
                Answer(client.get());
        }
    }
    void Answer(int client)
    {
        std::string request;
        char buffer[4096];
        size_t bodyAt = std::string::npos;
        size_t length = 0;
        const auto deadline = Clock::now() + std::chrono::seconds(5);
        while (Clock::now() < deadline) {
            pollfd ready { client, POLLIN, 0 };
            if (::poll(&ready, 1, 100) <= 0)
                continue;
            const ssize_t n = ::read(client, buffer, sizeof buffer);
            if (n <= 0)
                return;
            request.append(buffer, static_cast<size_t>(n));
            if (bodyAt == std::string::npos && (bodyAt = request.find("\r\n\r\n")) != std::string::npos) {
                bodyAt += 4;
                const auto header = request.find("Content-Length: ");
                length = header == std::string::npos ? 0 : std::stoul(request.substr(header + 16));
            }
            if (bodyAt != std::string::npos && request.size() >= bodyAt + length)
                break;
        }
        if (bodyAt == std::string::npos)
            return;
        const std::string reply = "HTTP/1.1 200 OK\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
        (void)!::write(client, reply.data(), reply.size());
        std::lock_guard lock(FMutex);
        FNotices.push_back({ nlohmann::json::parse(request.substr(bodyAt), nullptr, false), Clock::now() });
    }

    UniqueFd FListener;
    std::atomic<bool> FStop { false };
    mutable std::mutex FMutex;
    std::vector<Notice> FNotices;
    std::thread FThread;
};

class TovrinctlMonitorAlertsTest : public PrivateNetworkTest<3> {
protected:
    void SetUp() override
    {
        PrivateNetworkTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        for (const std::string& program : { Prometheus, Alertmanager, CurlProgram })
            if (::access(program.c_str(), X_OK) != 0)
                GTEST_SKIP() << program << " is not installed (scripts/setup.sh installs it)";
        auto amps = ampsim::MakeAmplifiers(3);
        amps[1].Name = "Foyer\"B\"";
        sim = std::make_unique<ampsim::Simulator>(ampsim::Options {}, amps);
        bool started = false;
        std::string error;
        net->RunInAmp([&] { started = sim->Start(error); });
        ASSERT_TRUE(started) << error;

        UniqueFd listener;
        net->RunInApp([&] {
            listener.reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
            const sockaddr_in address = LoopbackAddress(WebhookPort);
            if (listener
                && (::bind(listener.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0
                    || ::listen(listener.get(), 8) != 0))
                listener.reset();
        });
        ASSERT_TRUE(listener) << "no webhook listener";
        webhook = std::make_unique<WebhookReceiver>(std::move(listener));

        folder.File("prometheus.yml",
            "global:\n  scrape_interval: 1s\n  scrape_timeout: 1s\n  evaluation_interval: 1s\n"
            "rule_files:\n  - " TOVRIN_SOURCE_DIR "/packaging/tovrin-alerts.yml\n"
            "alerting:\n  alertmanagers:\n    - static_configs:\n        - targets: ['"
                + Manager
                + "']\n"
                  "scrape_configs:\n  - job_name: tovrin\n    static_configs:\n      - targets: ['"
                + Exporter + "']\n        labels:\n          subnet: stage\n");
        folder.File("alertmanager.yml",
            "route:\n  receiver: test\n  group_by: [alertname, subnet]\n  group_wait: 1s\n"
            "  group_interval: 1s\n  repeat_interval: 1h\n"
            "inhibit_rules:\n  - source_matchers: ['alertname=~\"DiscoveryStalled|MonitorDown\"']\n"
            "    target_matchers: ['alertname=\"AmplifierDown\"']\n    equal: [job, instance, subnet]\n"
            "receivers:\n  - name: test\n    webhook_configs:\n      - url: http://127.0.0.1:"
                + std::to_string(WebhookPort) + "/\n        send_resolved: true\n");
        const std::string app = net->NamespacePath(NetSide::App);
        StartMonitor();
        manager = std::make_unique<RunningProgram>(
            std::vector<std::string> { Alertmanager, "--config.file=" + folder.Path("alertmanager.yml"),
                "--storage.path=" + folder.Folder("alertmanager"), "--web.listen-address=" + Manager,
                "--cluster.listen-address=" },
            app);
        server = std::make_unique<RunningProgram>(
            std::vector<std::string> { Prometheus, "--config.file=" + folder.Path("prometheus.yml"),
                "--storage.tsdb.path=" + folder.Folder("prometheus"), "--web.listen-address=" + Server },
            app);
        ASSERT_TRUE(monitor->Started() && manager->Started() && server->Started());
    }
    void TearDown() override
    {
        if (server)
            server->Finish(0);
        if (manager)
            manager->Finish(0);
        if (monitor)
            monitor->Finish(0);
        if (sim)
            sim->Stop();
    }

    void StartMonitor()
    {
        monitor = std::make_unique<RunningProgram>(
            std::vector<std::string> { Program, "monitor", "--interface", "tvapp", "--listen", Exporter, "--state",
                folder.Path("amplifiers.json") },
            net->NamespacePath(NetSide::App));
    }
    // Ends the monitor with SIGTERM; what it logged.
    std::string StopMonitor()
    {
        EXPECT_EQ(::kill(monitor->Pid(), SIGTERM), 0);
        const ProgramResult ended = monitor->Finish(20000);
        EXPECT_EQ(ended.Status, 0) << ended.Err.substr(0, 2000);
        return ended.Err;
    }

    nlohmann::json Query(const std::string& promql)
    {
        const ProgramResult r = RunProgram({ CurlProgram, "-s", "-S", "-m", "20", "http://" + Server + "/api/v1/query",
                                               "--data-urlencode", "query=" + promql },
            30000, net->NamespacePath(NetSide::App));
        const auto reply = nlohmann::json::parse(r.Out, nullptr, false);
        if (reply.is_discarded() || reply.value("status", "") != "success")
            return nlohmann::json::array();
        return reply["data"]["result"];
    }
    // Polls until check holds (a generous deadline: the machine is shared).
    bool Eventually(const std::function<bool()>& check, int seconds = 90)
    {
        const auto end = Clock::now() + std::chrono::seconds(seconds);
        do {
            if (check())
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        } while (Clock::now() < end);
        return false;
    }
    size_t Count(const std::string& promql) { return Query(promql).size(); }
    // Alerts of notices since from, as (status, labels).
    std::vector<std::pair<std::string, nlohmann::json>> AlertsSince(size_t from, const std::string& alertname)
    {
        std::vector<std::pair<std::string, nlohmann::json>> alerts;
        const auto notices = webhook->Notices();
        for (size_t i = from; i < notices.size(); ++i)
            for (const auto& alert : notices[i].Body.value("alerts", nlohmann::json::array()))
                if (alert["labels"].value("alertname", "") == alertname)
                    alerts.emplace_back(alert.value("status", ""), alert["labels"]);
        return alerts;
    }

    TempTree folder { "tovrin-monitor-alerts" };
    std::unique_ptr<ampsim::Simulator> sim;
    std::unique_ptr<WebhookReceiver> webhook;
    std::unique_ptr<RunningProgram> monitor;
    std::unique_ptr<RunningProgram> manager;
    std::unique_ptr<RunningProgram> server;
};

TEST_F(TovrinctlMonitorAlertsTest, APulledAmplifierARestartAndARepluggedAdapterGiveTheRightNotices)
{
    ASSERT_TRUE(Eventually([&] { return Count("tovrin_amplifier_up == 1") == 3; })) << monitor->OutSoFar();

    // A pulled amplifier: one firing notice with its address, name and subnet.
    const auto pulledAt = Clock::now();
    sim->Modify(1, [](ampsim::Amplifier& amp) { amp.Silent = true; });
    const auto amp = sim->Amp(1);
    ASSERT_TRUE(Eventually([&] { return !AlertsSince(0, "AmplifierDown").empty(); }));
    std::printf("AmplifierDown reached the receiver %.1f s after the amplifier fell silent\n", SecondsSince(pulledAt));
    auto down = AlertsSince(0, "AmplifierDown");
    ASSERT_EQ(down.size(), 1u);
    EXPECT_EQ(down[0].first, "firing");
    EXPECT_EQ(down[0].second.value("mac", ""), amp.Mac);
    EXPECT_EQ(down[0].second.value("ip", ""), amp.IP);
    EXPECT_EQ(down[0].second.value("name", ""), AsUtf8(amp.Name));
    EXPECT_EQ(down[0].second.value("subnet", ""), "stage");

    // The monitor restarts while the amplifier is still dead: the alert stays firing past the rules'
    // grace for a scrape gap (keep_firing_for), as the saved list brings the amplifier back at 0.
    const size_t beforeRestart = webhook->Notices().size();
    const std::string firstLog = StopMonitor();
    StartMonitor();
    ASSERT_TRUE(monitor->Started());
    const auto restartedAt = Clock::now();
    ASSERT_TRUE(Eventually([&] { return Count("tovrin_amplifier_up{mac=\"" + amp.Mac + "\"} == 0") == 1; }, 30));
    while (SecondsSince(restartedAt) < 20) {
        ASSERT_EQ(Count("ALERTS{alertname=\"AmplifierDown\", alertstate=\"firing\", mac=\"" + amp.Mac + "\"}"), 1u)
            << SecondsSince(restartedAt) << " s after the restart";
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
    EXPECT_TRUE(AlertsSince(beforeRestart, "AmplifierDown").empty()) << "a notice while the amplifier stayed dead";

    // Back: one resolved notice.
    const auto backAt = Clock::now();
    sim->Modify(1, [](ampsim::Amplifier& a) { a.Silent = false; });
    ASSERT_TRUE(Eventually([&] { return !AlertsSince(beforeRestart, "AmplifierDown").empty(); }));
    std::printf("resolved reached the receiver %.1f s after the amplifier answered again\n", SecondsSince(backAt));
    down = AlertsSince(beforeRestart, "AmplifierDown");
    ASSERT_EQ(down.size(), 1u);
    EXPECT_EQ(down[0].first, "resolved");
    EXPECT_EQ(down[0].second.value("mac", ""), amp.Mac);

    // The monitor's adapter pulled: one stalled notice, no AmplifierDown notice although all three
    // go down in Prometheus; plugged in again: the amplifiers are back.
    ASSERT_TRUE(Eventually([&] { return Count("tovrin_amplifier_up == 1") == 3; }));
    const size_t beforeUnplug = webhook->Notices().size();
    const auto unpluggedAt = Clock::now();
    ASSERT_TRUE(net->Unplug()) << net->Error();
    ASSERT_TRUE(Eventually([&] { return !AlertsSince(beforeUnplug, "DiscoveryStalled").empty(); }));
    std::printf("DiscoveryStalled reached the receiver %.1f s after the adapter was pulled\n", SecondsSince(unpluggedAt));
    ASSERT_TRUE(Eventually(
        [&] { return Count("ALERTS{alertname=\"AmplifierDown\", alertstate=\"firing\"}") == 3; }));
    std::this_thread::sleep_for(std::chrono::seconds(3)); // group_wait and more
    const auto stalled = AlertsSince(beforeUnplug, "DiscoveryStalled");
    ASSERT_EQ(stalled.size(), 1u);
    EXPECT_EQ(stalled[0].first, "firing");
    EXPECT_EQ(stalled[0].second.value("subnet", ""), "stage");
    EXPECT_TRUE(AlertsSince(beforeUnplug, "AmplifierDown").empty()) << "a notice per amplifier";

    ASSERT_TRUE(net->Plug()) << net->Error();
    const auto pluggedAt = Clock::now();
    ASSERT_TRUE(Eventually([&] { return Count("tovrin_amplifier_up == 1") == 3; }, 30)) << monitor->ErrSoFar();
    std::printf("the amplifiers were up in Prometheus %.1f s after the adapter came back\n", SecondsSince(pluggedAt));
    EXPECT_EQ(Count("tovrin_discovery_up == 1"), 1u);

    const std::string log = StopMonitor();
    const auto count = [&](const std::string& part) {
        size_t n = 0;
        for (size_t at = log.find(part); at != std::string::npos; at = log.find(part, at + 1))
            ++n;
        return n;
    };
    EXPECT_EQ(count("tovrinctl: Discovery stopped: the interface tvapp (198.18.0.1) is gone.\n"), 1u) << log;
    EXPECT_EQ(count("tovrinctl: Discovery runs again on tvapp (198.18.0.1).\n"), 1u) << log;
    EXPECT_NE(log.find("3 amplifiers from the saved list"), std::string::npos) << log;
    EXPECT_NE(firstLog.find("tovrinctl: no saved list at "), std::string::npos) << firstLog;
}

} // namespace
