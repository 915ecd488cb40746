// set-ip --plan: reads and checks a commissioning plan, then applies it (ctl/IpPlan.h, ctl/PlanApply.h).

#include "ctl/Commands.h"

#include "ctl/CtlCommon.h"
#include "ctl/CtlOutput.h"
#include "ctl/IpPlan.h"
#include "ctl/PlanApply.h"
#include "text/Strtools.h"

#include <chrono>
#include <fstream>
#include <iostream>
#include <map>
#include <ostream>

namespace {

using Clock = std::chrono::steady_clock;

// A plan is a few kilobytes; a device that never ends (/dev/zero) or a wrong file is not read whole.
constexpr size_t MaxPlanBytes = 16 << 20;

bool ReadPlanText(TCtlContext& context, const std::string& path, std::string& text)
{
    std::ifstream file;
    if (path != "-")
        file.open(path, std::ios::binary);
    std::istream& in = path == "-" ? std::cin : file;
    char buffer[65536];
    while (in && text.size() <= MaxPlanBytes) {
        in.read(buffer, sizeof buffer);
        text.append(buffer, static_cast<size_t>(in.gcount()));
    }
    if (in.bad() || (!in.eof() && text.size() <= MaxPlanBytes)) {
        context.err << "tovrinctl: cannot read the plan " << TerminalSafe(path) << "\n";
        return false;
    }
    if (text.size() > MaxPlanBytes) {
        context.err << "tovrinctl: the plan " << TerminalSafe(path)
                    << " is larger than 16 MiB; nothing sent\n";
        return false;
    }
    return true;
}

bool Refused(TCtlContext& context, const std::vector<TPlanFinding>& findings)
{
    if (findings.empty())
        return false;
    context.err << "tovrinctl: the plan is refused, nothing was sent:\n";
    for (const TPlanFinding& finding : findings)
        context.err << "  " << finding.Text << "\n";
    return true;
}

void PrintDryRun(TCtlContext& context, const std::vector<TPlanRow>& rows, const TPlanSchedule& plan)
{
    std::vector<std::vector<std::string>> table { { "STEP", "LINE", "MAC", "BEFORE", "SEND", "AFTER" } };
    // What each amplifier answers with before its step: after an interim step, the interim address.
    std::vector<std::string> before;
    for (const TTovrinData& found : plan.Found)
        before.push_back(Cell(found.IP) + " / " + Cell(found.NetMask) + " / " + Cell(found.Gateway));
    for (size_t s = 0; s < plan.Steps.size(); ++s) {
        const TPlanStep& step = plan.Steps[s];
        const TTovrinData& found = plan.Found[step.Row];
        std::string after;
        for (const size_t a : step.After)
            after += (after.empty() ? "" : " ") + std::to_string(a + 1);
        table.push_back({ std::to_string(s + 1), std::to_string(rows[step.Row].Line), Cell(found.MacKey),
            before[step.Row], DescribeSettings(step.Dhcp, step.Settings) + (step.Interim ? " (interim)" : ""),
            after.empty() ? "-" : after });
        before[step.Row] = DescribeSettings(step.Dhcp, step.Settings);
    }
    context.out << AlignedTable(table);
    size_t unchanged = 0, absent = 0;
    for (size_t r = 0; r < rows.size(); ++r) {
        if (plan.States[r] == TPlanState::Change)
            continue;
        const bool same = plan.States[r] == TPlanState::Unchanged;
        (same ? unchanged : absent)++;
        context.out << "line " << rows[r].Line << ": " << TerminalSafe(rows[r].Mac)
                    << (same ? " unchanged (already as planned)" : " not found") << "\n";
    }
    context.out << FormatText(
        "Would send %zu settings datagrams; %zu unchanged, %zu not found. Nothing was sent.\n",
        plan.Steps.size(), unchanged, absent);
}

} // namespace

int RunSetIpPlan(TCtlContext& context, const TSetIpPlanOptions& options)
{
    std::string text;
    if (!ReadPlanText(context, options.File, text))
        return ExitFailed;
    std::vector<TPlanRow> rows;
    if (Refused(context, ReadIpPlan(text, rows)))
        return ExitUsage;
    std::ofstream audit;
    if (!options.Audit.empty() && !options.DryRun) {
        audit.open(options.Audit, std::ios::app);
        if (!audit) {
            context.err << "tovrinctl: cannot open the audit file " << TerminalSafe(options.Audit) << "\n";
            return ExitFailed;
        }
    }

    // The amplifiers that answer now: which rows change, and who holds which address.
    TDiscoveryScan scan;
    if (!OpenScan(context, scan, options.Interface))
        return ExitFailed;
    scan.Run(Milliseconds(options.Seconds), true, {}, [&] { return context.interrupts() > 0; });
    if (context.interrupts() > 0)
        return ExitInterrupted;
    const TPlanSchedule plan = SchedulePlan(rows, Rows(scan.List()));
    if (Refused(context, plan.Findings))
        return ExitUsage;
    if (options.DryRun) {
        PrintDryRun(context, rows, plan);
        return ExitOk;
    }

    const bool machine = options.Csv || options.Json;
    std::ostream& live = machine ? context.err : context.out;
    context.err << "Applying the plan to " << rows.size() << " amplifiers: " << plan.Steps.size()
                << " settings datagrams, " << options.Parallel << " at a time.\n";
    const auto started = Clock::now();
    TPlanApplySettings settings;
    settings.Parallel = options.Parallel;
    settings.LimitMs = static_cast<uint32_t>(Milliseconds(options.WaitSeconds));
    TPlanApplyHooks hooks;
    hooks.Ended = [&](const TPlanRecord& r) {
        if (audit.is_open())
            audit << JsonLine(PlanRecordJson(r)) << "\n" << std::flush;
        if (context.terminal)
            EndProgress(context);
        // Fixed widths: the lines come one by one and cannot be aligned afterwards.
        live << FormatText("%-9s %4d  %-12s  %-15s  %-15s %5.1f s  ", r.Result.c_str(), r.Line,
            Cell(r.Mac).c_str(), Cell(r.Before.IP).c_str(), r.Dhcp ? "dhcp" : Cell(r.Planned.IP).c_str(),
            r.Seconds)
             << TerminalSafe(r.Message) << "\n"
             << std::flush;
    };
    hooks.Tick = [&](size_t sent, size_t ended) {
        if (context.terminal)
            ShowProgress(context,
                FormatText("%zu/%zu datagrams sent, %zu/%zu amplifiers done, %.0f s", sent, plan.Steps.size(),
                    ended, rows.size(), std::chrono::duration<double>(Clock::now() - started).count()));
    };
    bool told = false;
    hooks.Interrupted = [&] {
        if (context.interrupts() == 0)
            return false;
        if (!told) {
            told = true;
            if (context.terminal)
                EndProgress(context);
            context.err << "Interrupted: nothing more is sent.\n";
        }
        return true;
    };
    const std::vector<TPlanRecord> records = ApplyPlan(scan, rows, plan, settings, hooks);
    if (context.terminal)
        EndProgress(context);
    const double seconds = std::chrono::duration<double>(Clock::now() - started).count();

    std::map<std::string, size_t> counts;
    for (const TPlanRecord& r : records)
        ++counts[r.Result];
    if (options.Csv) {
        std::string csv = std::string(PlanCsvHeader) + "\r\n";
        for (const TPlanRecord& r : records)
            csv += PlanRecordCsv(r);
        context.out << csv;
    } else if (options.Json) {
        for (const TPlanRecord& r : records)
            context.out << JsonLine(PlanRecordJson(r)) << "\n";
    } else {
        std::vector<std::vector<std::string>> table { { "LINE", "MAC", "NAME", "RESULT", "BEFORE", "PLANNED",
            "SECONDS" } };
        for (const TPlanRecord& r : records)
            table.push_back({ std::to_string(r.Line), Cell(r.Mac), Cell(r.Name), r.Result, Cell(r.Before.IP),
                r.Dhcp ? "dhcp" : Cell(r.Planned.IP), FormatText("%.1f", r.Seconds) });
        context.out << "\n" << AlignedTable(table);
    }
    std::ostream& summary = machine ? context.err : context.out;
    summary << FormatText("%zu of %zu amplifiers ok, %zu unchanged, %zu not found, %zu failed", counts["ok"],
        records.size(), counts["unchanged"], counts["not found"], counts["failed"]);
    if (told)
        summary << FormatText(", %zu unknown, %zu not sent", counts["unknown"], counts["not sent"]);
    summary << FormatText(" in %.2f s.\n", seconds) << std::flush;
    if (told)
        return ExitInterrupted;
    return counts["ok"] + counts["unchanged"] == records.size() ? ExitOk : ExitFailed;
}
