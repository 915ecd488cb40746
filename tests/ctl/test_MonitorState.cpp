// The monitor's list through a restart: what one monitor saves, the next takes up as vanished
// amplifiers (up 0, labels kept, forgotten on time); what is no sound saved list is said once and
// leaves the list empty. The file is a real one, written by the project's writer.

#include "ctl/MonitorState.h"

#include "support/AmplifierRecord.h"
#include "support/TempTree.h"

#include <prometheus/text_serializer.h>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <sstream>

namespace {

using Clock = TAmplifierMetrics::Clock;
constexpr double Wall = 1.8e9; // seconds since the epoch at the save

// One monitor's list and metrics on a clock of the test.
struct Monitor {
    explicit Monitor(int forgetAfter = 60)
        : metrics(list, std::chrono::seconds(forgetAfter), log, [this] { return now; })
    {
    }
    void Step(int ms, const std::vector<TTovrinData>& replies)
    {
        now += std::chrono::milliseconds(ms);
        tick += static_cast<uint32_t>(ms);
        for (const auto& record : replies)
            list.UpdateAmplifier(record, tick, std::chrono::system_clock::time_point(std::chrono::seconds(1000)));
        list.RemoveStale(MaxSilenceMs, tick);
        metrics.Tick({});
    }
    std::string Text()
    {
        std::ostringstream text;
        prometheus::TextSerializer().Serialize(text, metrics.Collect());
        return text.str();
    }
    bool Has(const std::string& line) { return Text().find("\n" + line + "\n") != std::string::npos; }

    Clock::time_point now { std::chrono::hours(1) };
    uint32_t tick = 100000;
    AmplifierList list;
    std::ostringstream log;
    TAmplifierMetrics metrics;
};

TEST(MonitorStateTest, ARestartedMonitorListsTheSavedAmplifiersAtZeroUntilTheyAnswerAndForgetsThemOnTime)
{
    Monitor before;
    before.Step(500, { AmplifierRecord("A1", "10.0.0.1", "say\"hi\""), AmplifierRecord("B2", "10.0.0.2", "B\xfchne"), AmplifierRecord("C3", "10.0.0.3", "c") });
    for (int i = 0; i < 5; ++i) // B2 falls silent and is down; A1 and C3 answer to the end
        before.Step(500, { AmplifierRecord("A1", "10.0.0.1", "say\"hi\""), AmplifierRecord("C3", "10.0.0.3", "c") });
    // B2 vanished 20 s before the save; A1 and C3 are listed at the save, so count from it.
    before.Step(20000, { AmplifierRecord("A1", "10.0.0.1", "say\"hi\""), AmplifierRecord("C3", "10.0.0.3", "c") });
    const std::string saved = before.metrics.SaveState(Wall);

    Monitor after;
    std::string error;
    size_t taken = 0;
    ASSERT_TRUE(after.metrics.LoadState(saved, Wall + 30, error, taken)) << error;
    EXPECT_EQ(taken, 3u);
    for (const char* mac : { "A1", "B2", "C3" })
        EXPECT_TRUE(after.Has("tovrin_amplifier_up{mac=\"" + std::string(mac) + "\"} 0")) << after.Text();
    EXPECT_TRUE(after.Has("tovrin_amplifier_info{mac=\"B2\",ip=\"10.0.0.2\",netmask=\"255.255.0.0\",gateway=\"0.0.0.0\","
                          "flag=\"0\",name=\"B\xc3\xbchne\"} 1"))
        << after.Text();
    EXPECT_TRUE(after.Has("tovrin_amplifier_last_seen_timestamp_seconds{mac=\"B2\"} 1000")) << after.Text();
    EXPECT_TRUE(after.Has("tovrin_amplifiers 0"));

    // A1 answers: up again, under the same series. B2 went 20 + 30 + 10 = 60 s ago: forgotten.
    after.Step(10000, { AmplifierRecord("A1", "10.0.0.1", "say\"hi\"") });
    EXPECT_TRUE(after.Has("tovrin_amplifier_up{mac=\"A1\"} 1")) << after.Text();
    EXPECT_EQ(after.Text().find("mac=\"B2\""), std::string::npos) << after.Text();
    EXPECT_TRUE(after.Has("tovrin_amplifier_up{mac=\"C3\"} 0")) << after.Text();
    after.Step(19000, { AmplifierRecord("A1", "10.0.0.1", "say\"hi\"") }); // C3: 30 + 10 + 19 s
    EXPECT_TRUE(after.Has("tovrin_amplifier_up{mac=\"C3\"} 0")) << after.Text();
    after.Step(1000, { AmplifierRecord("A1", "10.0.0.1", "say\"hi\"") }); // 60 s
    EXPECT_EQ(after.Text().find("mac=\"C3\""), std::string::npos) << after.Text();
    EXPECT_TRUE(after.Has("tovrin_amplifier_up{mac=\"A1\"} 1")) << after.Text();
}

// Each row: a text that is no sound saved list. None may crash, none may add a series.
TEST(MonitorStateTest, AnUnsoundSavedListIsRefusedWholeAndTheListStaysEmpty)
{
    Monitor source;
    source.Step(500, { AmplifierRecord("A1", "10.0.0.1", "a"), AmplifierRecord("B2", "10.0.0.2", "b") });
    const std::string good = source.metrics.SaveState(Wall);
    const auto item = [](const std::string& fields) {
        return "{\"mac\":\"A\",\"ip\":\"1\",\"netmask\":\"2\",\"gateway\":\"3\",\"flag\":false,\"last_seen\":5" + fields
            + "}";
    };
    const auto entry = [&](const std::string& fields) {
        return "{\"saved_at\":1,\"amplifiers\":[" + item(fields) + "]}";
    };
    const std::vector<std::pair<std::string, std::string>> rows {
        { "empty", "" },
        { "truncated", good.substr(0, good.size() / 2) },
        { "not an object", "[1,2,3]" },
        { "no list", "{\"saved_at\":1}" },
        { "no name", entry("") },
        { "a name that is no text", entry(",\"name\":7") },
        { "a name that is no UTF-8", entry(",\"name\":\"\xff\"") },
        { "an endless name", entry(",\"name\":\"" + std::string(5000, 'x') + "\"") },
        { "a negative time", entry(",\"name\":\"n\",\"vanished_at\":-1") },
        { "a MAC twice", "{\"saved_at\":1,\"amplifiers\":[" + item(",\"name\":\"n\"") + "," + item(",\"name\":\"n\"") + "]}" },
        { "nested deep", std::string(100000, '[') + std::string(100000, ']') },
        { "more than the list holds", good },
    };
    for (const auto& [what, text] : rows) {
        Monitor target;
        if (what == "more than the list holds")
            target.list.SetMaxRows(1);
        std::string error;
        size_t taken = 9;
        EXPECT_FALSE(target.metrics.LoadState(text, Wall, error, taken)) << what;
        EXPECT_FALSE(error.empty()) << what;
        EXPECT_EQ(target.metrics.Known(), 0u) << what << ": " << error;
        EXPECT_EQ(taken, 0u) << what;
    }
    // The same entry with its name is sound: the rows fail for their own fault only.
    Monitor target;
    std::string error;
    size_t taken = 0;
    EXPECT_TRUE(target.metrics.LoadState(entry(",\"name\":\"n\""), Wall, error, taken)) << error;
    EXPECT_EQ(taken, 1u);
}

class MonitorStateFileTest : public ::testing::Test {
protected:
    TempTree folder { "tovrin-monitor-state" };
    Monitor monitor;
    TMonitorState::Clock::time_point now {};
    std::ostringstream log;
    TMonitorState State(const std::string& path)
    {
        return TMonitorState(path, monitor.metrics, log, [this] { return now; });
    }
};

TEST_F(MonitorStateFileTest, ChangesAreSavedAfterAFewSecondsAndAtOnceOnSaveThroughTheWriter)
{
    const std::string path = folder.Path("amplifiers.json");
    TMonitorState state = State(path);
    state.Load();
    EXPECT_NE(log.str().find("no saved list at " + path + " yet"), std::string::npos) << log.str();

    monitor.Step(500, { AmplifierRecord("A1", "10.0.0.1", "a") });
    now += std::chrono::seconds(4);
    state.Tick();
    struct stat info { };
    EXPECT_NE(::stat(path.c_str(), &info), 0) << "saved before SaveEvery";
    now += std::chrono::seconds(1);
    state.Tick();
    ASSERT_EQ(::stat(path.c_str(), &info), 0) << "not saved after SaveEvery";
    EXPECT_EQ(info.st_mode & 0777, 0666 & ~[] { const mode_t m = ::umask(0); ::umask(m); return m; }());

    // Nothing changed: no save until RefreshEvery; Save writes at once.
    ASSERT_EQ(::unlink(path.c_str()), 0);
    now += std::chrono::seconds(30);
    state.Tick();
    EXPECT_NE(::stat(path.c_str(), &info), 0) << "saved without a change";
    EXPECT_TRUE(state.Save());

    Monitor next;
    std::ostringstream nextLog;
    TMonitorState(path, next.metrics, nextLog).Load();
    EXPECT_NE(nextLog.str().find("1 amplifiers from the saved list"), std::string::npos) << nextLog.str();
    EXPECT_TRUE(next.Has("tovrin_amplifier_up{mac=\"A1\"} 0")) << next.Text();
}

TEST_F(MonitorStateFileTest, AnUnreadableOrUnsoundFileIsSaidOnceAndTheListStartsEmpty)
{
    const std::string fifo = folder.Path("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::vector<std::pair<std::string, std::string>> rows {
        { fifo, "cannot read the saved list " + fifo + ": Not a regular file; starting with an empty list\n" },
        { folder.Root(), "cannot read the saved list " + folder.Root() + ": Is a directory; starting with an empty list\n" },
        { folder.File("hostile", "{\"saved_at\":1,\"amplifiers\":[{\"mac\":\"\\u001b[2J\"}]}"),
            "the saved list " + folder.Path("hostile") + " is not sound (amplifier 1 is incomplete or malformed): starting with an empty list\n" },
    };
    for (const auto& [path, line] : rows) {
        log.str("");
        State(path).Load();
        EXPECT_EQ(log.str(), "tovrinctl: " + line) << path;
        EXPECT_EQ(monitor.metrics.Known(), 0u) << path;
    }
    // A save that cannot be made is said once, and once more when saves work again.
    log.str("");
    TMonitorState state = State(folder.Path("missing/amplifiers.json"));
    EXPECT_FALSE(state.Save());
    EXPECT_FALSE(state.Save());
    const std::string said = log.str();
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
    folder.Folder("missing");
    EXPECT_TRUE(state.Save());
    EXPECT_NE(log.str().find("saved to " + folder.Path("missing/amplifiers.json") + " again"), std::string::npos) << log.str();
}

} // namespace
