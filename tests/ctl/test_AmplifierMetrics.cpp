// The amplifier list as Prometheus metrics, read back from the library's own text format: what a
// scrape carries after amplifiers appear, change, vanish and are forgotten, on a clock of the test.

#include "ctl/AmplifierMetrics.h"
#include "support/AmplifierRecord.h"
#include "text/TextEncoding.h"

#include <prometheus/text_serializer.h>

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <sstream>
#include <thread>

namespace {

using LabelSet = std::map<std::string, std::string>;
struct Sample {
    std::string Name;
    LabelSet Labels;
    double Value = 0;
};

// Reads the exposition text the way a scraper does: a label value ends at the first unescaped
// quote, and only \\, \" and \n are escapes. Anything else fails the test.
std::vector<Sample> ReadExposition(const std::string& text)
{
    std::vector<Sample> samples;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#')
            continue;
        Sample sample;
        size_t at = line.find_first_of("{ ");
        sample.Name = line.substr(0, at);
        if (at != std::string::npos && line[at] == '{') {
            ++at;
            while (at < line.size() && line[at] != '}') {
                const size_t eq = line.find("=\"", at);
                EXPECT_NE(eq, std::string::npos) << line;
                if (eq == std::string::npos)
                    return samples;
                const std::string name = line.substr(at, eq - at);
                std::string value;
                size_t i = eq + 2;
                for (; i < line.size() && line[i] != '"'; ++i) {
                    if (line[i] == '\\' && i + 1 < line.size()) {
                        const char c = line[++i];
                        EXPECT_TRUE(c == '\\' || c == '"' || c == 'n') << line;
                        value += c == 'n' ? '\n' : c;
                    } else {
                        value += line[i];
                    }
                }
                EXPECT_LT(i, line.size()) << "unterminated label value: " << line;
                sample.Labels[name] = value;
                at = i + 1;
                if (at < line.size() && line[at] == ',')
                    ++at;
            }
            ++at;
        }
        sample.Value = std::stod(line.substr(at));
        samples.push_back(sample);
    }
    return samples;
}

size_t CountOf(const std::string& text, const std::string& part)
{
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

class AmplifierMetricsTest : public ::testing::Test {
protected:
    // One hello tick: the replies heard, the list's expiry, the exporter's tick.
    void Step(int ms, const std::vector<TTovrinData>& replies)
    {
        now += std::chrono::milliseconds(ms);
        tick += static_cast<uint32_t>(ms);
        for (const auto& record : replies)
            list.UpdateAmplifier(
                record, tick, std::chrono::system_clock::time_point(std::chrono::milliseconds(tick)));
        list.RemoveStale(MaxSilenceMs, tick);
        metrics.Tick({ 7, 9, 2, 3 });
    }
    std::vector<Sample> Scrape()
    {
        std::ostringstream text;
        prometheus::TextSerializer().Serialize(text, metrics.Collect());
        return ReadExposition(text.str());
    }
    std::vector<Sample> Of(const std::string& name)
    {
        std::vector<Sample> found;
        for (const auto& sample : Scrape())
            if (sample.Name == name)
                found.push_back(sample);
        return found;
    }
    double Value(const std::string& name, const LabelSet& labels = {})
    {
        for (const auto& sample : Of(name))
            if (sample.Labels == labels)
                return sample.Value;
        ADD_FAILURE() << "no " << name;
        return -1;
    }

    TAmplifierMetrics::Clock::time_point now {};
    uint32_t tick = 100000;
    AmplifierList list;
    std::ostringstream log;
    TAmplifierMetrics metrics { list, std::chrono::seconds(60), log, [this] { return now; } };
};

TEST_F(AmplifierMetricsTest, HostileTextsArriveAsOneValidLabelValueEachAndAddNoSeries)
{
    const std::vector<std::string> names { "say\"hi\"", "back\\slash\\", "two\nlines", "close}\"} 1\nx 2",
        "B\xfchne", "\xff\xfe", "esc\x1b[31m", "a=\"b\",c=\"d\"" };
    std::vector<TTovrinData> replies;
    for (size_t i = 0; i < names.size(); ++i)
        replies.push_back(AmplifierRecord("MAC" + std::to_string(i), "10.0.0." + std::to_string(i), names[i]));
    Step(500, replies);

    const auto info = Of("tovrin_amplifier_info");
    ASSERT_EQ(info.size(), names.size());
    for (size_t i = 0; i < names.size(); ++i) {
        const std::string mac = "MAC" + std::to_string(i);
        const auto it = std::find_if(
            info.begin(), info.end(), [&](const Sample& s) { return s.Labels.at("mac") == mac; });
        ASSERT_NE(it, info.end()) << mac;
        EXPECT_EQ(it->Labels.at("name"), AsUtf8(names[i])) << mac;
        EXPECT_TRUE(IsValidUtf8(it->Labels.at("name"))) << mac;
        EXPECT_EQ(it->Labels.size(), 6u) << mac;
    }
    EXPECT_EQ(Of("tovrin_amplifier_up").size(), names.size());
    EXPECT_EQ(Of("x").size(), 0u);
    // The log line is one line too, with control bytes shown, never sent to the terminal.
    EXPECT_NE(log.str().find("appeared MAC2 10.0.0.2 two\\x0alines\n"), std::string::npos) << log.str();
    EXPECT_NE(log.str().find("esc\\x1b[31m\n"), std::string::npos) << log.str();
}

TEST_F(AmplifierMetricsTest, ANewAddressOrNameKeepsTheUpSeriesAndMovesTheInfoSeries)
{
    Step(500, { AmplifierRecord("A1", "10.0.0.1", "Stage-Left"), AmplifierRecord("B2", "10.0.0.2", "Foyer") });
    Step(500, { AmplifierRecord("A1", "10.0.0.9", "Stage-Left"), AmplifierRecord("B2", "10.0.0.2", "Foyer") });
    Step(500, { AmplifierRecord("A1", "10.0.0.9", "Stage-Right"), AmplifierRecord("B2", "10.0.0.2", "Foyer") });

    const auto up = Of("tovrin_amplifier_up");
    ASSERT_EQ(up.size(), 2u);
    EXPECT_EQ(Value("tovrin_amplifier_up", { { "mac", "A1" } }), 1);
    const auto info = Of("tovrin_amplifier_info");
    ASSERT_EQ(info.size(), 2u);
    const LabelSet expected { { "mac", "A1" }, { "ip", "10.0.0.9" }, { "netmask", "255.255.0.0" },
        { "gateway", "0.0.0.0" }, { "flag", "0" }, { "name", "Stage-Right" } };
    EXPECT_EQ(Value("tovrin_amplifier_info", expected), 1);
    EXPECT_EQ(Value("tovrin_amplifier_last_seen_timestamp_seconds", { { "mac", "A1" } }), tick / 1000.0);
    EXPECT_EQ(Value("tovrin_amplifiers_appeared_total"), 2);
    EXPECT_EQ(Value("tovrin_amplifiers_vanished_total"), 0);
    EXPECT_EQ(Value("tovrin_hellos_sent_total"), 7);
    EXPECT_EQ(Value("tovrin_datagrams_received_total"), 9);
    EXPECT_EQ(Value("tovrin_datagrams_ignored_total"), 2);
    EXPECT_EQ(Value("tovrin_replies_overflowed_total"), 3);
    EXPECT_NE(log.str().find("tovrinctl: new address A1 10.0.0.9 Stage-Left (was 10.0.0.1)\n"), std::string::npos)
        << log.str();
    EXPECT_EQ(CountOf(log.str(), "new address"), 1u) << log.str(); // a new name alone is no new address
}

// The IP field is any word of up to 15 bytes: it is a label value and a log word like the name.
TEST_F(AmplifierMetricsTest, AHostileIpFieldIsOneValidLabelValueAndOneEscapedWord)
{
    const std::vector<std::string> addresses { "1.2\"} 9\nx 1", "\xff\xfe.0.0.1", "back\\sl", "\x1b[2J10.0.0.1",
        "10.0.0.\xe9" };
    std::vector<TTovrinData> replies;
    for (size_t i = 0; i < addresses.size(); ++i)
        replies.push_back(AmplifierRecord("M" + std::to_string(i), addresses[i], "amp"));
    Step(500, replies);
    const auto info = Of("tovrin_amplifier_info");
    ASSERT_EQ(info.size(), addresses.size());
    for (const Sample& sample : info) {
        const size_t i = std::stoul(sample.Labels.at("mac").substr(1));
        EXPECT_EQ(sample.Labels.at("ip"), AsUtf8(addresses[i])) << i;
        EXPECT_TRUE(IsValidUtf8(sample.Labels.at("ip"))) << i;
    }
    EXPECT_EQ(Of("tovrin_amplifier_up").size(), addresses.size());
    EXPECT_NE(log.str().find("appeared M3 \\x1b[2J10.0.0.1 amp\n"), std::string::npos) << log.str();
    EXPECT_EQ(log.str().find('\x1b'), std::string::npos);
}

// Replies listed between two ticks: the count of listed amplifiers is that of the up series.
TEST_F(AmplifierMetricsTest, TheCountOfAScrapeAgreesWithItsSeriesBetweenTicks)
{
    Step(500, { AmplifierRecord("A1", "10.0.0.1", "a") });
    for (const std::string mac : { "B2", "C3", "D4" })
        list.UpdateAmplifier(AmplifierRecord(mac, "10.0.0.2", "b"), tick);
    const auto up = Of("tovrin_amplifier_up");
    const auto listed = std::count_if(up.begin(), up.end(), [](const Sample& s) { return s.Value == 1; });
    EXPECT_EQ(listed, 4);
    EXPECT_EQ(Value("tovrin_amplifiers"), listed);
    EXPECT_EQ(Value("tovrin_discovery_up"), 1);
    metrics.SetDiscoveryUp(false);
    EXPECT_EQ(Value("tovrin_discovery_up"), 0);
}

TEST_F(AmplifierMetricsTest, AVanishedAmplifierStaysAtZeroForForgetAfterThenItsSeriesGo)
{
    Step(500, { AmplifierRecord("A1", "10.0.0.1", "Amp"), AmplifierRecord("B2", "10.0.0.2", "Amp") });
    for (int i = 0; i < 5; ++i) // B2 falls silent: gone after more than 2000 ms
        Step(500, { AmplifierRecord("A1", "10.0.0.1", "Amp") });
    EXPECT_EQ(Value("tovrin_amplifier_up", { { "mac", "B2" } }), 0);
    EXPECT_EQ(Value("tovrin_amplifiers"), 1);
    EXPECT_EQ(Value("tovrin_amplifiers_vanished_total"), 1);
    EXPECT_NE(log.str().find("vanished B2 10.0.0.2 Amp\n"), std::string::npos) << log.str();

    // Back before forget-after: the same series is 1 again.
    Step(30000, { AmplifierRecord("A1", "10.0.0.1", "Amp"), AmplifierRecord("B2", "10.0.0.2", "Amp") });
    EXPECT_EQ(Value("tovrin_amplifier_up", { { "mac", "B2" } }), 1);
    EXPECT_EQ(Value("tovrin_amplifiers_appeared_total"), 3);

    for (int i = 0; i < 5; ++i)
        Step(500, { AmplifierRecord("A1", "10.0.0.1", "Amp") });
    Step(59500, { AmplifierRecord("A1", "10.0.0.1", "Amp") }); // vanished 59.5 s ago
    EXPECT_EQ(Value("tovrin_amplifier_up", { { "mac", "B2" } }), 0);
    Step(500, { AmplifierRecord("A1", "10.0.0.1", "Amp") });
    EXPECT_EQ(Of("tovrin_amplifier_up").size(), 1u);
    EXPECT_EQ(Of("tovrin_amplifier_info").size(), 1u);
    EXPECT_EQ(Of("tovrin_amplifier_last_seen_timestamp_seconds").size(), 1u);
    EXPECT_EQ(Value("tovrin_amplifiers_forgotten_total", { { "reason", "expired" } }), 1);
    EXPECT_EQ(metrics.Known(), 1u);
}

TEST_F(AmplifierMetricsTest, SeriesStayWithinTheListsBoundAndDroppedAmplifiersAreCounted)
{
    list.SetMaxRows(3);
    Step(500,
        { AmplifierRecord("A", "10.0.0.1", "a"), AmplifierRecord("B", "10.0.0.2", "b"), AmplifierRecord("C", "10.0.0.3", "c"),
            AmplifierRecord("D", "10.0.0.4", "d") });
    EXPECT_EQ(Of("tovrin_amplifier_up").size(), 3u);
    EXPECT_EQ(Value("tovrin_replies_dropped_total"), 1);
    EXPECT_EQ(Value("tovrin_amplifiers_limit"), 3);

    for (int i = 0; i < 5; ++i) // B and C vanish; D and E take their places in the list
        Step(500, { AmplifierRecord("A", "10.0.0.1", "a") });
    Step(500, { AmplifierRecord("A", "10.0.0.1", "a"), AmplifierRecord("D", "10.0.0.4", "d"), AmplifierRecord("E", "10.0.0.5", "e") });
    const auto up = Of("tovrin_amplifier_up");
    EXPECT_EQ(up.size(), 3u);
    EXPECT_EQ(Value("tovrin_amplifier_up", { { "mac", "D" } }), 1);
    EXPECT_EQ(Value("tovrin_amplifier_up", { { "mac", "E" } }), 1);
    EXPECT_EQ(Value("tovrin_amplifiers_forgotten_total", { { "reason", "limit" } }), 2);
    EXPECT_EQ(Of("tovrin_amplifier_info").size(), 3u);
}

TEST_F(AmplifierMetricsTest, AFullHouseForgetsBrieflyListedAmplifiersBeforeOnesThatWereInService)
{
    list.SetMaxRows(3);
    const auto real = AmplifierRecord("R", "10.0.0.1", "real");
    const auto other = AmplifierRecord("A", "10.0.0.2", "other");
    for (int i = 0; i < 120; ++i) // a minute in service
        Step(500, { real, other });
    for (int i = 0; i < 5; ++i)
        Step(500, { other }); // R falls silent first...
    Step(500, { other, AmplifierRecord("F", "10.9.9.9", "fake") });
    for (int i = 0; i < 5; ++i)
        Step(500, { other }); // ...then a fake that answered once
    ASSERT_EQ(Value("tovrin_amplifier_up", { { "mac", "R" } }), 0);
    ASSERT_EQ(Value("tovrin_amplifier_up", { { "mac", "F" } }), 0);

    // A newcomer needs a place: the fake gives it up although R vanished earlier.
    Step(500, { other, AmplifierRecord("N1", "10.0.0.3", "new") });
    EXPECT_EQ(Of("tovrin_amplifier_up").size(), 3u);
    EXPECT_EQ(Value("tovrin_amplifier_up", { { "mac", "R" } }), 0);
    EXPECT_EQ(Value("tovrin_amplifier_up", { { "mac", "N1" } }), 1);
    // With no brief one left, the one in service that vanished first makes room.
    Step(500, { other, AmplifierRecord("N1", "10.0.0.3", "new"), AmplifierRecord("N2", "10.0.0.4", "new") });
    for (const auto& sample : Of("tovrin_amplifier_up"))
        EXPECT_NE(sample.Labels.at("mac"), "R");
    EXPECT_EQ(Value("tovrin_amplifiers_forgotten_total", { { "reason", "limit" } }), 2);
}

TEST_F(AmplifierMetricsTest, TwoSuffixesThatReadAsTheSameTextShareOneSeriesUpWhileEitherAnswers)
{
    // "\xfc" is no UTF-8 and reads as Latin-1: the same label value as the UTF-8 "ü".
    Step(500, { AmplifierRecord("\xfc", "10.0.0.1", "latin"), AmplifierRecord("\xc3\xbc", "10.0.0.2", "utf8") });
    EXPECT_EQ(list.Count(), 2);
    ASSERT_EQ(Of("tovrin_amplifier_up").size(), 1u);
    EXPECT_EQ(Of("tovrin_amplifier_info").size(), 1u);
    for (int i = 0; i < 5; ++i)
        Step(500, { AmplifierRecord("\xc3\xbc", "10.0.0.2", "utf8") });
    EXPECT_EQ(Value("tovrin_amplifier_up", { { "mac", "\xc3\xbc" } }), 1);
    EXPECT_EQ(Of("tovrin_amplifier_info")[0].Labels.at("name"), "utf8");
    for (int i = 0; i < 5; ++i)
        Step(500, {});
    EXPECT_EQ(Value("tovrin_amplifier_up", { { "mac", "\xc3\xbc" } }), 0);
    EXPECT_EQ(Value("tovrin_amplifiers_vanished_total"), 1);
}


TEST_F(AmplifierMetricsTest, AFloodOfNewAmplifiersLogsABoundedNumberOfLinesAndCountsTheRest)
{
    const int flood = TAmplifierMetrics::LogLinesPerTick + 250;
    std::vector<TTovrinData> fakes;
    for (int i = 0; i < flood; ++i)
        fakes.push_back(AmplifierRecord("F" + std::to_string(i), "10.1.0.1", "fake"));
    Step(500, fakes);
    EXPECT_EQ(CountOf(log.str(), "tovrinctl: appeared "), static_cast<size_t>(TAmplifierMetrics::LogLinesPerTick));
    EXPECT_NE(log.str().find("tovrinctl: 250 more appeared and 0 more vanished"), std::string::npos);
    EXPECT_EQ(Value("tovrin_amplifiers_appeared_total"), flood); // the counts miss none

    // The next tick logs one by one again; the flood's end vanishes in the same bounded way.
    log.str("");
    Step(500, { AmplifierRecord("R1", "10.0.0.1", "real") });
    EXPECT_EQ(log.str(), "tovrinctl: appeared R1 10.0.0.1 real\n");
    log.str("");
    for (int i = 0; i < 4; ++i)
        Step(500, { AmplifierRecord("R1", "10.0.0.1", "real") });
    EXPECT_EQ(CountOf(log.str(), "tovrinctl: vanished "), static_cast<size_t>(TAmplifierMetrics::LogLinesPerTick));
    EXPECT_NE(log.str().find("tovrinctl: 0 more appeared and 250 more vanished"), std::string::npos);
    EXPECT_EQ(Value("tovrin_amplifiers_vanished_total"), flood);
}

} // namespace

namespace {

TEST_F(AmplifierMetricsTest, AScrapeWhileDiscoveryChangesTheListHoldsEveryAmplifierOnce)
{
    // Amplifiers "S…" answer throughout; "C…" come and go while scrapes run on their own thread.
    const int steady = 5000;
    std::vector<TTovrinData> replies;
    for (int i = 0; i < steady; ++i)
        replies.push_back(AmplifierRecord("S" + std::to_string(100000 + i), "10.2.0.1", "steady"));
    Step(500, replies);

    std::atomic<bool> done { false };
    std::vector<std::string> faults;
    int scrapes = 0;
    std::thread scraper([&] {
        while (!done || scrapes < 3) {
            std::map<std::string, int> seen;
            for (const auto& family : metrics.Collect())
                if (family.name == "tovrin_amplifier_up")
                    for (const auto& metric : family.metric)
                        ++seen[metric.label.at(0).value];
            int steadySeen = 0;
            for (const auto& [mac, times] : seen) {
                if (times != 1)
                    faults.push_back(mac + " collected " + std::to_string(times) + " times");
                steadySeen += mac[0] == 'S';
            }
            if (steadySeen != steady)
                faults.push_back(std::to_string(steadySeen) + " steady amplifiers collected");
            ++scrapes;
        }
    });
    for (int round = 0; round < 12; ++round) {
        std::vector<TTovrinData> now = replies;
        for (int i = 0; i < 500; ++i) // new ones sort before, among and after the steady ones
            now.push_back(AmplifierRecord(std::string(1, "ACZ"[i % 3]) + std::to_string(round * 1000 + i), "10.3.0.1", "churn"));
        Step(1000, now);
    }
    done = true;
    scraper.join();
    EXPECT_GE(scrapes, 3);
    EXPECT_TRUE(faults.empty()) << faults.size() << " faults, the first: " << faults.front();
}

} // namespace
