#include "ctl/PlanApply.h"

#include "ctl/CtlCommon.h"
#include "ctl/CtlOutput.h"
#include "finder/ListExport.h"
#include "platform/HostInfo.h"
#include "text/Strtools.h"

#include <algorithm>
#include <chrono>
#include <map>

namespace {

enum class TStepState { Waiting, Sent, Confirmed, Failed };

struct TStepRun {
    TStepState State = TStepState::Waiting;
    TSettingsWatch Watch;
};

} // namespace

std::string PlanRecordCsv(const TPlanRecord& r)
{
    const std::string planned = r.Dhcp
        ? CsvField("dhcp") + ",,"
        : CsvField(r.Planned.IP) + "," + CsvField(r.Planned.NetMask) + "," + CsvField(r.Planned.Gateway);
    return std::to_string(r.Line) + "," + CsvField(r.Mac) + "," + CsvField(r.Name) + "," + r.Result + ","
        + CsvField(r.Before.IP) + "," + CsvField(r.Before.NetMask) + "," + CsvField(r.Before.Gateway) + ","
        + planned + "," + FormatText("%.1f", r.Seconds) + "," + CsvField(r.Message) + "\r\n";
}

nlohmann::json PlanRecordJson(const TPlanRecord& r)
{
    return { { "time", r.Time }, { "line", r.Line }, { "mac", JsonText(r.Mac) }, { "name", JsonText(r.Name) },
        { "old_ip", JsonText(r.Before.IP) }, { "old_netmask", JsonText(r.Before.NetMask) },
        { "old_gateway", JsonText(r.Before.Gateway) }, { "dhcp", r.Dhcp }, { "ip", r.Planned.IP },
        { "netmask", r.Planned.NetMask }, { "gateway", r.Planned.Gateway }, { "result", r.Result },
        { "seconds", r.Seconds }, { "message", JsonText(r.Message) } };
}

std::vector<TPlanRecord> ApplyPlan(TDiscoveryScan& scan, const std::vector<TPlanRow>& rows,
    const TPlanSchedule& plan, const TPlanApplySettings& settings, const TPlanApplyHooks& hooks)
{
    using Clock = std::chrono::steady_clock;
    std::vector<TPlanRecord> records(rows.size());
    std::vector<bool> ended(rows.size());
    std::vector<Clock::time_point> firstSent(rows.size());
    size_t endedCount = 0;
    const auto end = [&](size_t r, const std::string& result, const std::string& message) {
        if (ended[r])
            return;
        TPlanRecord& record = records[r];
        record.Result = result;
        record.Message = message;
        record.Time = IsoTimeUtc(std::chrono::system_clock::now());
        if (firstSent[r] != Clock::time_point {})
            record.Seconds = std::chrono::duration<double>(Clock::now() - firstSent[r]).count();
        ended[r] = true;
        ++endedCount;
        if (hooks.Ended)
            hooks.Ended(record);
    };
    for (size_t r = 0; r < rows.size(); ++r) {
        const TTovrinData& found = plan.Found[r];
        records[r] = { {}, rows[r].Line, found.MacKey.empty() ? rows[r].Mac : found.MacKey, found.Name,
            { found.IP, found.NetMask, found.Gateway }, rows[r].Dhcp, rows[r].Wanted, {}, 0, {} };
    }
    for (size_t r = 0; r < rows.size(); ++r) {
        if (plan.States[r] == TPlanState::Unchanged)
            end(r, "unchanged",
                "Already " + DescribeSettings(rows[r].Dhcp, rows[r].Wanted) + "; nothing sent.");
        else if (plan.States[r] == TPlanState::NotFound)
            end(r, "not found", "It did not answer discovery; nothing sent.");
    }

    const auto interrupted = [&] { return hooks.Interrupted && hooks.Interrupted(); };
    std::vector<TStepRun> steps(plan.Steps.size());
    std::map<std::string, size_t> inFlight; // MAC suffix -> its step waiting for confirmation
    std::vector<TAmplifierSettings> current(rows.size()); // what each amplifier is known to answer with
    for (size_t r = 0; r < rows.size(); ++r)
        current[r] = records[r].Before;
    size_t sent = 0;
    bool confirmedSinceRun = false;
    uint32_t lastHello = platform::TickCount() - 500;

    const auto startReady = [&] {
        for (size_t s = 0; s < plan.Steps.size(); ++s) {
            const TPlanStep& step = plan.Steps[s];
            if (steps[s].State != TStepState::Waiting)
                continue;
            if (ended[step.Row]) { // its interim step failed: it is not sent either
                steps[s].State = TStepState::Failed;
                continue;
            }
            // A step waits for the steps taking other amplifiers off its address; when one of those
            // failed, the address may still be held, so it is not sent.
            const auto failed = std::find_if(step.After.begin(), step.After.end(),
                [&](size_t a) { return steps[a].State == TStepState::Failed; });
            if (failed != step.After.end()) {
                steps[s].State = TStepState::Failed;
                const TPlanStep& holder = plan.Steps[*failed];
                end(step.Row, "failed",
                    "Not sent: " + records[holder.Row].Mac + " did not confirm leaving " + step.Settings.IP
                        + ".");
                continue;
            }
            if (inFlight.size() >= static_cast<size_t>(settings.Parallel))
                continue;
            if (!std::all_of(step.After.begin(), step.After.end(),
                    [&](size_t a) { return steps[a].State == TStepState::Confirmed; }))
                continue;
            const std::string& mac = records[step.Row].Mac;
            if (interrupted())
                return;
            if (firstSent[step.Row] == Clock::time_point {})
                firstSent[step.Row] = Clock::now();
            if (!scan.Broadcast(BuildSettingsDatagram(
                    mac, step.Dhcp, step.Settings.IP, step.Settings.NetMask, step.Settings.Gateway))) {
                steps[s].State = TStepState::Failed;
                end(step.Row, "failed", "The settings datagram could not be sent.");
                continue;
            }
            ++sent;
            steps[s].State = TStepState::Sent;
            steps[s].Watch.Start(
                mac, step.Dhcp, step.Settings, current[step.Row], platform::TickCount(), settings.LimitMs);
            inFlight[mac] = s;
        }
    };
    const auto confirmed = [&](size_t s, const std::string& notice, const TAmplifierSettings& reported) {
        const TPlanStep& step = plan.Steps[s];
        steps[s].State = TStepState::Confirmed;
        current[step.Row] = reported;
        inFlight.erase(records[step.Row].Mac);
        confirmedSinceRun = true;
        if (!step.Interim)
            end(step.Row, "ok", notice);
    };

    for (;;) {
        startReady();
        if (interrupted() || (inFlight.empty() && endedCount == rows.size()))
            break;
        if (inFlight.empty()) {
            // Only steps waiting for failed ones may be left; the next pass ends them.
            startReady();
            if (inFlight.empty())
                break;
        }
        const uint32_t now = platform::TickCount();
        const bool helloDue = now - lastHello >= 500;
        if (helloDue)
            lastHello = now;
        confirmedSinceRun = false;
        scan.Run(
            static_cast<int>(helloDue ? 500 : 500 - (now - lastHello)), helloDue,
            [&](const TTovrinData& record) {
                const auto it = inFlight.find(record.MacKey);
                if (it == inFlight.end())
                    return;
                const size_t s = it->second;
                const TAmplifierSettings reported { record.IP, record.NetMask, record.Gateway };
                if (const auto notice = steps[s].Watch.Reply(record.MacKey, reported, platform::TickCount()))
                    confirmed(s, *notice, reported);
            },
            [&] { return confirmedSinceRun || interrupted(); });
        const uint32_t after = platform::TickCount();
        for (auto it = inFlight.begin(); it != inFlight.end();) {
            const size_t s = it->second;
            if (const auto notice = steps[s].Watch.Tick(after)) {
                steps[s].State = TStepState::Failed;
                it = inFlight.erase(it);
                end(plan.Steps[s].Row, "failed", *notice);
            } else {
                ++it;
            }
        }
        if (hooks.Tick)
            hooks.Tick(sent, endedCount);
    }

    // Interrupted (or nothing left that can be sent): what was sent and not confirmed is unknown.
    for (const auto& [mac, s] : inFlight)
        end(plan.Steps[s].Row, "unknown",
            "Sent " + DescribeSettings(plan.Steps[s].Dhcp, plan.Steps[s].Settings)
                + "; interrupted before the change showed.");
    for (size_t r = 0; r < rows.size(); ++r) {
        if (ended[r])
            continue;
        if (firstSent[r] != Clock::time_point {})
            end(r, "not sent",
                "Interrupted at its interim address " + current[r].IP
                    + "; its planned settings were not sent.");
        else
            end(r, "not sent", interrupted() ? "Interrupted before its settings were sent." : "Not sent.");
    }
    return records;
}
