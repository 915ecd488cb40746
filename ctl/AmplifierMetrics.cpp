#include "ctl/AmplifierMetrics.h"

#include "ctl/CtlOutput.h"
#include "text/TextEncoding.h"

#include <nlohmann/json.hpp>
#include <prometheus/client_metric.h>
#include <prometheus/metric_type.h>

#include <algorithm>
#include <cmath>
#include <ostream>

namespace {

using prometheus::ClientMetric;
using prometheus::MetricFamily;
using prometheus::MetricType;

bool SameLabels(const TTovrinData& a, const TTovrinData& b)
{
    return a.IP == b.IP && a.NetMask == b.NetMask && a.Gateway == b.Gateway && a.Flag == b.Flag
        && a.Name == b.Name;
}

ClientMetric Sample(std::vector<ClientMetric::Label> labels, double value, MetricType type)
{
    ClientMetric metric;
    metric.label = std::move(labels);
    if (type == MetricType::Counter)
        metric.counter.value = value;
    else
        metric.gauge.value = value;
    return metric;
}

MetricFamily Family(const char* name, const char* help, MetricType type)
{
    return MetricFamily { name, help, type, {} };
}

MetricFamily Single(const char* name, const char* help, MetricType type, double value)
{
    MetricFamily family = Family(name, help, type);
    family.metric.push_back(Sample({}, value, type));
    return family;
}

} // namespace

TAmplifierMetrics::TAmplifierMetrics(AmplifierList& list, std::chrono::seconds forgetAfter, std::ostream& log,
    std::function<Clock::time_point()> clock)
    : FList(list)
    , FForgetAfter(forgetAfter)
    , FLog(log)
    , FClock(std::move(clock))
    , FLimit(list.MaxRows())
{
    for (int row = 0; row < FList.Count(); ++row)
        RowAppended(row);
    FList.SetObserver(this);
}

TAmplifierMetrics::~TAmplifierMetrics()
{
    FList.SetObserver(nullptr);
}

void TAmplifierMetrics::RowAppended(int row)
{
    std::lock_guard lock(FMutex);
    Entry& entry = Appear(row);
    FRowEntries.insert(FRowEntries.begin() + row, &entry);
}

void TAmplifierMetrics::RowsRemoved(const std::vector<int>& rows)
{
    std::lock_guard lock(FMutex);
    const Clock::time_point now = FClock();
    size_t kept = 0;
    size_t next = 0;
    for (size_t i = 0; i < FRowEntries.size(); ++i) {
        if (next < rows.size() && static_cast<size_t>(rows[next]) == i) {
            ++next;
            Vanish(*FRowEntries[i], now);
            continue;
        }
        FRowEntries[kept++] = FRowEntries[i];
    }
    FRowEntries.resize(kept);
}

double TAmplifierMetrics::LastSeen(int row) const
{
    return std::chrono::duration<double>(FList.Seen(row).Last.time_since_epoch()).count();
}

TAmplifierMetrics::Entry& TAmplifierMetrics::Appear(int index)
{
    const TTovrinData& row = FList.Row(index);
    const std::string mac = AsUtf8(row.MacKey);
    auto it = FEntries.find(mac);
    if (it == FEntries.end()) {
        MakeRoom();
        it = FEntries.emplace(mac, Entry {}).first;
        it->second.Mac = mac;
    }
    Entry& entry = it->second;
    if (entry.ListedRows++ == 0) {
        entry.AppearedAt = FClock();
        entry.Source = row.MacKey;
        TakeRecord(entry, row);
        entry.LastSeen = LastSeen(index);
        ++FAppeared;
        ++FChanges;
        Log(Appeared, entry);
    }
    return entry;
}

void TAmplifierMetrics::TakeRecord(Entry& entry, const TTovrinData& record)
{
    entry.Record = record;
    entry.Labels = std::make_shared<const InfoLabels>(InfoLabels { entry.Mac, AsUtf8(record.IP),
        AsUtf8(record.NetMask), AsUtf8(record.Gateway), record.Flag ? "1" : "0", AsUtf8(record.Name) });
}

void TAmplifierMetrics::Vanish(Entry& entry, Clock::time_point now)
{
    if (--entry.ListedRows > 0) {
        entry.Source.clear(); // the next listed row of the same label provides its labels
        return;
    }
    entry.VanishedAt = now;
    ++FChanges;
    FVanished[now - entry.AppearedAt < BriefListing ? Brief : Settled].emplace_back(entry.Mac, now);
    ++FVanishedCount;
    Log(Vanished, entry);
}

void TAmplifierMetrics::Forget(std::map<std::string, Entry>::iterator it, bool early)
{
    ++(early ? FForgottenEarly : FForgotten);
    ++FChanges;
    FEntries.erase(it);
}

void TAmplifierMetrics::ForgetFirst(VanishedQueue& queue, bool early)
{
    const auto [mac, at] = queue.front();
    queue.pop_front();
    const auto it = FEntries.find(mac);
    if (it != FEntries.end() && it->second.ListedRows == 0 && it->second.VanishedAt == at)
        Forget(it, early);
}

// The series stay within the list's bound: a new amplifier in a full house takes the place of one
// that vanished, first of those listed only briefly (the fakes of a flood answer once), so that an
// amplifier that was in service keeps its up 0 for as long as it can.
void TAmplifierMetrics::MakeRoom()
{
    for (VanishedQueue& queue : FVanished)
        while (FEntries.size() >= static_cast<size_t>(FList.MaxRows()) && !queue.empty())
            ForgetFirst(queue, true);
}

void TAmplifierMetrics::Tick(const TDiscoveryTraffic& traffic)
{
    std::lock_guard lock(FMutex);
    FTraffic = traffic;
    FLimit = FList.MaxRows();
    FRefused = FList.Tally().refused;
    for (size_t row = 0; row < FRowEntries.size(); ++row) {
        Entry& entry = *FRowEntries[row];
        const TTovrinData& record = FList.Row(static_cast<int>(row));
        if (entry.Source.empty())
            entry.Source = record.MacKey;
        if (entry.Source != record.MacKey)
            continue;
        entry.LastSeen = LastSeen(static_cast<int>(row));
        if (!SameLabels(entry.Record, record)) {
            const std::string oldAddress = entry.Record.IP;
            TakeRecord(entry, record);
            ++FChanges;
            if (oldAddress != record.IP)
                Log(Moved, entry, oldAddress);
        }
    }

    if (FUnlogged[Appeared] + FUnlogged[Vanished] + FUnlogged[Moved] > 0) {
        FLog << "tovrinctl: " << FUnlogged[Appeared] << " more appeared and " << FUnlogged[Vanished]
             << " more vanished";
        if (FUnlogged[Moved] > 0)
            FLog << ", " << FUnlogged[Moved] << " more changed address";
        FLog << " (not logged one by one: more than " << LogLinesPerTick << " changes in half a second)\n";
    }
    FLogged = 0;
    FUnlogged = { 0, 0, 0 };
    FLog << std::flush; // the lines of this tick's changes, at once
    const Clock::time_point now = FClock();
    for (VanishedQueue& queue : FVanished) {
        while (!queue.empty() && now - queue.front().second >= FForgetAfter)
            ForgetFirst(queue, false);
        // Amplifiers that flap leave stale places in the queue; it never holds more than twice the
        // series for long.
        if (queue.size() > 2 * FEntries.size() + 1024) {
            std::erase_if(queue, [this](const auto& item) {
                const auto it = FEntries.find(item.first);
                return it == FEntries.end() || it->second.ListedRows > 0 || it->second.VanishedAt != item.second;
            });
        }
    }
}

void TAmplifierMetrics::Log(Change change, const Entry& entry, const std::string& oldAddress)
{
    if (FLogged == LogLinesPerTick) {
        ++FUnlogged[change];
        return;
    }
    ++FLogged;
    static constexpr const char* Words[] = { "appeared", "vanished", "new address" };
    FLog << "tovrinctl: " << Words[change] << " " << TerminalSafe(entry.Mac) << " "
         << TerminalSafe(AsUtf8(entry.Record.IP)) << " " << TerminalSafe(AsUtf8(entry.Record.Name));
    if (change == Moved)
        FLog << " (was " << TerminalSafe(AsUtf8(oldAddress)) << ")";
    FLog << "\n";
}

void TAmplifierMetrics::SetDiscoveryUp(bool up)
{
    std::lock_guard lock(FMutex);
    FDiscoveryUp = up;
}

uint64_t TAmplifierMetrics::Changes() const
{
    std::lock_guard lock(FMutex);
    return FChanges;
}

size_t TAmplifierMetrics::Known() const
{
    std::lock_guard lock(FMutex);
    return FEntries.size();
}

std::vector<MetricFamily> TAmplifierMetrics::Collect() const
{
    struct Seen {
        std::shared_ptr<const InfoLabels> Labels;
        bool Up;
        double LastSeen;
    };
    std::vector<Seen> amplifiers;
    std::unique_lock lock(FMutex);
    amplifiers.reserve(FEntries.size());
    for (const auto& [mac, entry] : FEntries)
        amplifiers.push_back({ entry.Labels, entry.ListedRows > 0, entry.LastSeen });
    const TDiscoveryTraffic traffic = FTraffic;
    // Rows now, not at the last tick: the count agrees with the up series of the same scrape.
    const double listed = static_cast<double>(FRowEntries.size()), limit = FLimit, refused = static_cast<double>(FRefused);
    const double appeared = static_cast<double>(FAppeared), vanished = static_cast<double>(FVanishedCount);
    const double expired = static_cast<double>(FForgotten), madeRoom = static_cast<double>(FForgottenEarly);
    const bool discoveryUp = FDiscoveryUp;
    lock.unlock();

    MetricFamily up = Family("tovrin_amplifier_up",
        "1 while the amplifier answers discovery, 0 once it has been silent for 2 s (kept for "
        "--forget-after)",
        MetricType::Gauge);
    MetricFamily info = Family("tovrin_amplifier_info",
        "The amplifier's latest reply: address, netmask, gateway, flag and name", MetricType::Gauge);
    MetricFamily seen = Family("tovrin_amplifier_last_seen_timestamp_seconds",
        "When the amplifier's latest reply arrived", MetricType::Gauge);
    up.metric.reserve(amplifiers.size());
    info.metric.reserve(amplifiers.size());
    seen.metric.reserve(amplifiers.size());
    for (const Seen& amplifier : amplifiers) {
        const InfoLabels& l = *amplifier.Labels;
        up.metric.push_back(Sample({ { "mac", l.Mac } }, amplifier.Up ? 1 : 0, MetricType::Gauge));
        info.metric.push_back(Sample({ { "mac", l.Mac }, { "ip", l.IP }, { "netmask", l.NetMask },
                                         { "gateway", l.Gateway }, { "flag", l.Flag }, { "name", l.Name } },
            1, MetricType::Gauge));
        seen.metric.push_back(Sample({ { "mac", l.Mac } }, amplifier.LastSeen, MetricType::Gauge));
    }

    std::vector<MetricFamily> families;
    families.push_back(std::move(up));
    families.push_back(std::move(info));
    families.push_back(std::move(seen));
    families.push_back(Single("tovrin_amplifiers", "Amplifiers listed now", MetricType::Gauge, listed));
    families.push_back(Single("tovrin_discovery_up",
        "1 while discovery runs, 0 while it cannot (its interface is gone) and amplifiers go down",
        MetricType::Gauge, discoveryUp ? 1 : 0));
    families.push_back(Single("tovrin_amplifiers_limit",
        "Most amplifiers listed at once; replies of further ones are dropped", MetricType::Gauge, limit));
    families.push_back(Single("tovrin_hellos_sent_total", "Discovery hellos sent", MetricType::Counter,
        static_cast<double>(traffic.HellosSent)));
    families.push_back(Single("tovrin_datagrams_received_total", "Datagrams received on the discovery port",
        MetricType::Counter, static_cast<double>(traffic.DatagramsReceived)));
    families.push_back(Single("tovrin_datagrams_ignored_total",
        "Datagrams received that were no discovery reply (the own hello heard back included)",
        MetricType::Counter, static_cast<double>(traffic.DatagramsIgnored)));
    families.push_back(Single("tovrin_replies_overflowed_total",
        "Replies dropped unread because they arrived faster than they could be listed (a flood)",
        MetricType::Counter, static_cast<double>(traffic.RepliesOverflowed)));
    families.push_back(Single("tovrin_amplifiers_appeared_total", "Amplifiers that appeared or came back",
        MetricType::Counter, appeared));
    families.push_back(Single("tovrin_amplifiers_vanished_total", "Amplifiers silent for 2 s",
        MetricType::Counter, vanished));
    families.push_back(Single("tovrin_replies_dropped_total",
        "Replies of amplifiers left out because the list held tovrin_amplifiers_limit amplifiers",
        MetricType::Counter, refused));
    MetricFamily forgotten = Family("tovrin_amplifiers_forgotten_total",
        "Vanished amplifiers whose series were removed: after --forget-after (expired), or earlier to "
        "make room for a new one within tovrin_amplifiers_limit (limit)",
        MetricType::Counter);
    forgotten.metric.push_back(
        Sample({ { "reason", "expired" } }, expired, MetricType::Counter));
    forgotten.metric.push_back(
        Sample({ { "reason", "limit" } }, madeRoom, MetricType::Counter));
    families.push_back(std::move(forgotten));
    return families;
}

// {"saved_at": S, "amplifiers": [{"mac", "ip", "netmask", "gateway", "flag", "name", "last_seen",
// "vanished_at" (absent while listed)}]}: the label values as served, so valid UTF-8 throughout.
std::string TAmplifierMetrics::SaveState(double wallNow) const
{
    nlohmann::json amplifiers = nlohmann::json::array();
    std::unique_lock lock(FMutex);
    const Clock::time_point now = FClock();
    for (const auto& [mac, entry] : FEntries) {
        const InfoLabels& l = *entry.Labels;
        nlohmann::json item { { "mac", l.Mac }, { "ip", l.IP }, { "netmask", l.NetMask }, { "gateway", l.Gateway },
            { "flag", l.Flag == "1" }, { "name", l.Name }, { "last_seen", entry.LastSeen } };
        if (entry.ListedRows == 0)
            item["vanished_at"] = wallNow - std::chrono::duration<double>(now - entry.VanishedAt).count();
        amplifiers.push_back(std::move(item));
    }
    lock.unlock();
    const nlohmann::json state { { "saved_at", wallNow }, { "amplifiers", std::move(amplifiers) } };
    return state.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

namespace {

// A reply's field is short; a saved one far longer was not written by the monitor.
constexpr size_t MaxStateField = 1024;

bool StateText(const nlohmann::json& item, const char* key, std::string& value)
{
    const auto it = item.find(key);
    if (it == item.end() || !it->is_string())
        return false;
    value = it->get<std::string>(); // valid UTF-8: the parser refuses anything else
    return value.size() <= MaxStateField;
}

bool StateTime(const nlohmann::json& item, const char* key, double& value)
{
    const auto it = item.find(key);
    if (it == item.end() || !it->is_number())
        return false;
    value = it->get<double>();
    return std::isfinite(value) && value >= 0;
}

} // namespace

bool TAmplifierMetrics::LoadState(const std::string& text, double wallNow, std::string& error, size_t& taken)
{
    taken = 0;
    const nlohmann::json state = nlohmann::json::parse(text, nullptr, false);
    double savedAt = 0;
    if (state.is_discarded() || !state.is_object() || !StateTime(state, "saved_at", savedAt)
        || !state.contains("amplifiers") || !state["amplifiers"].is_array()) {
        error = "not a saved list of amplifiers";
        return false;
    }
    const nlohmann::json& items = state["amplifiers"];
    if (items.size() > static_cast<size_t>(FList.MaxRows())) {
        error = "more amplifiers than the list holds (" + std::to_string(items.size()) + ")";
        return false;
    }
    struct Saved {
        InfoLabels Labels;
        double LastSeen = 0;
        double VanishedAt = 0;
    };
    std::vector<Saved> saved;
    std::map<std::string, bool> macs;
    for (const nlohmann::json& item : items) {
        Saved s;
        InfoLabels& l = s.Labels;
        const auto flag = item.is_object() ? item.find("flag") : item.end();
        if (!item.is_object() || !StateText(item, "mac", l.Mac) || l.Mac.empty() || !StateText(item, "ip", l.IP)
            || !StateText(item, "netmask", l.NetMask) || !StateText(item, "gateway", l.Gateway)
            || !StateText(item, "name", l.Name) || flag == item.end() || !flag->is_boolean()
            || !StateTime(item, "last_seen", s.LastSeen)) {
            error = "amplifier " + std::to_string(saved.size() + 1) + " is incomplete or malformed";
            return false;
        }
        l.Flag = flag->get<bool>() ? "1" : "0";
        if (!macs.emplace(l.Mac, true).second) {
            error = "the MAC suffix " + l.Mac + " is listed twice";
            return false;
        }
        // Listed when saved: it answered then, so it counts as vanished from that moment on.
        s.VanishedAt = savedAt;
        if (item.contains("vanished_at") && !StateTime(item, "vanished_at", s.VanishedAt)) {
            error = "amplifier " + std::to_string(saved.size() + 1) + " has a malformed time";
            return false;
        }
        saved.push_back(std::move(s));
    }
    // Oldest first, as the queue of vanished amplifiers is kept.
    std::stable_sort(saved.begin(), saved.end(),
        [](const Saved& a, const Saved& b) { return a.VanishedAt < b.VanishedAt; });

    std::lock_guard lock(FMutex);
    const Clock::time_point now = FClock();
    for (Saved& s : saved) {
        if (FEntries.count(s.Labels.Mac) != 0)
            continue;
        const auto ago = std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double>(std::max(0.0, wallNow - s.VanishedAt)));
        Entry entry;
        entry.Mac = s.Labels.Mac;
        entry.Record.MacKey = s.Labels.Mac;
        entry.Record.IP = s.Labels.IP;
        entry.Record.NetMask = s.Labels.NetMask;
        entry.Record.Gateway = s.Labels.Gateway;
        entry.Record.Flag = s.Labels.Flag == "1";
        entry.Record.Name = s.Labels.Name;
        entry.Labels = std::make_shared<const InfoLabels>(std::move(s.Labels));
        entry.LastSeen = s.LastSeen;
        entry.VanishedAt = now - ago;
        entry.AppearedAt = entry.VanishedAt - BriefListing;
        FVanished[Settled].emplace_back(entry.Mac, entry.VanishedAt);
        FEntries.emplace(entry.Mac, std::move(entry));
        ++taken;
    }
    return true;
}
