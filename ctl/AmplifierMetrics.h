#pragma once
// The amplifier list as Prometheus metrics, for `tovrinctl monitor`. Window-free and without HTTP:
// it follows the list as its observer and hands the metric families to whoever collects them (the
// exposer's threads, or a test). A scrape takes a snapshot under the lock (shared label sets, no
// text copied) and builds the families after it, so that even a list of 65,536 amplifiers holds
// discovery up for a moment only; every series is made from that one state.
//
// An amplifier is known by its MAC suffix: `tovrin_amplifier_up{mac}` is 1 while it is listed and 0
// once it has vanished, kept so for forgetAfter and then removed with the rest of its series. Its
// address and name are labels of `tovrin_amplifier_info` only, so a new address or name replaces
// the info series while the up series goes on; queries join the two on `mac`.
//
// The known amplifiers can be saved and taken up again (SaveState, LoadState), so that a monitor
// that restarts still reports the ones that vanished before it ended.

#include "ctl/DiscoveryScan.h"
#include "finder/Discovery.h"

#include <prometheus/collectable.h>
#include <prometheus/metric_family.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <iosfwd>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class TAmplifierMetrics : public AmplifierList::Observer, public prometheus::Collectable {
public:
    using Clock = std::chrono::steady_clock;

    // Follows list (as its observer, set here) until destroyed. One line per amplifier that appears
    // or vanishes goes to log, escaped for a terminal; beyond LogLinesPerTick lines between two
    // ticks (a flood of fakes, the first tick at a large site) the rest are counted in one line.
    static constexpr int LogLinesPerTick = 1000;
    TAmplifierMetrics(AmplifierList& list, std::chrono::seconds forgetAfter, std::ostream& log,
        std::function<Clock::time_point()> clock = Clock::now);
    ~TAmplifierMetrics() override;
    TAmplifierMetrics(const TAmplifierMetrics&) = delete;
    TAmplifierMetrics& operator=(const TAmplifierMetrics&) = delete;

    void RowAppended(int row) override;
    void RowChanged(int) override { } // taken up by Tick with every other change of a record
    void RowsRemoved(const std::vector<int>& rows) override;
    void SelectionChanged(int) override { }

    // At each hello tick, after the list's expiry: takes up the rows' latest replies (times, changed
    // labels) and the discovery counts, and forgets amplifiers that vanished forgetAfter ago.
    void Tick(const TDiscoveryTraffic& traffic);

    std::vector<prometheus::MetricFamily> Collect() const override;

    // Amplifiers with series now, listed or vanished.
    size_t Known() const;

    // tovrin_discovery_up: 0 while discovery cannot run (its interface is gone).
    void SetDiscoveryUp(bool up);

    // The known amplifiers as JSON text: their labels, when last seen and, for those not listed
    // now, when they vanished (seconds since the epoch; wallNow is the present on that clock).
    std::string SaveState(double wallNow) const;
    // Takes up amplifiers from SaveState's text as vanished ones (up 0) that are forgotten
    // forgetAfter after they vanished; those listed when the state was saved count as vanished
    // then. Nothing is taken unless the whole text is sound: false with the reason otherwise.
    // Meant for the start, before any amplifier is listed.
    bool LoadState(const std::string& text, double wallNow, std::string& error, size_t& taken);
    // Counts every change a saved state would show (not the times of replies).
    uint64_t Changes() const;

private:
    // The info series' label values, made once per change of the reply's fields and shared with
    // the scrapes that are using them.
    struct InfoLabels {
        std::string Mac, IP, NetMask, Gateway, Flag, Name;
    };
    struct Entry {
        std::string Mac; // the label value
        std::string Source; // the MAC suffix as received, of the row the labels are taken from
        TTovrinData Record; // the fields the info labels were made from
        std::shared_ptr<const InfoLabels> Labels; // of Record
        int ListedRows = 0; // rows of the list that map to this label (two only for invalid UTF-8)
        double LastSeen = 0; // seconds since the epoch
        Clock::time_point AppearedAt {};
        Clock::time_point VanishedAt {};
    };

    Entry& Appear(int row);
    static void TakeRecord(Entry& entry, const TTovrinData& record);
    double LastSeen(int row) const;
    void Vanish(Entry& entry, Clock::time_point now);
    void Forget(std::map<std::string, Entry>::iterator it, bool early);
    using VanishedQueue = std::deque<std::pair<std::string, Clock::time_point>>; // mac, when; oldest first
    void ForgetFirst(VanishedQueue& queue, bool early);
    void MakeRoom();
    enum Change { Appeared, Vanished, Moved };
    void Log(Change change, const Entry& entry, const std::string& oldAddress = {});

    AmplifierList& FList;
    const std::chrono::seconds FForgetAfter;
    std::ostream& FLog;
    std::function<Clock::time_point()> FClock;

    mutable std::mutex FMutex; // the exposer collects on its own threads
    std::map<std::string, Entry> FEntries; // by mac label
    std::vector<Entry*> FRowEntries; // the list's rows, row for row
    // Vanished amplifiers in the order they vanished: those listed less than BriefListing, the rest.
    static constexpr std::chrono::seconds BriefListing { 10 };
    enum Listing { Brief, Settled };
    std::array<VanishedQueue, 2> FVanished;
    // Taken from the list at each tick: the list itself is the owner's thread's alone.
    TDiscoveryTraffic FTraffic;
    int FLimit = 0;
    bool FDiscoveryUp = true;
    uint64_t FChanges = 0;
    uint64_t FRefused = 0;
    uint64_t FAppeared = 0;
    uint64_t FVanishedCount = 0;
    uint64_t FForgotten = 0;
    uint64_t FForgottenEarly = 0;
    int FLogged = 0; // lines since the last tick
    std::array<uint64_t, 3> FUnlogged {}; // changes since the last tick beyond LogLinesPerTick, by Change
};
