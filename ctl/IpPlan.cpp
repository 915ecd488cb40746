#include "ctl/IpPlan.h"

#include "ctl/CtlCommon.h"
#include "ctl/CtlOutput.h"
#include "finder/ListImport.h"
#include "finder/SettingsCheck.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <set>
#include <sstream>

namespace {

std::string Trimmed(const std::string& text)
{
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

std::string Lower(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// Texts from the file are quoted in findings as they are, made safe for the terminal.
std::string Quoted(const std::string& text)
{
    return "\"" + TerminalSafe(text) + "\"";
}

TPlanFinding Finding(int line, const std::string& text)
{
    return { line, "line " + std::to_string(line) + ": " + text };
}

bool IsMacSuffix(const std::string& mac)
{
    return !mac.empty() && std::all_of(mac.begin(), mac.end(), [](char c) {
        return std::isxdigit(static_cast<unsigned char>(c)) != 0;
    });
}

// The row's own faults; false when there were some.
bool CheckRow(const TPlanRow& row, const std::string& macText, std::vector<TPlanFinding>& findings)
{
    const size_t before = findings.size();
    if (!IsMacSuffix(row.Mac))
        findings.push_back(
            Finding(row.Line, "MAC suffix " + Quoted(macText) + " is not hexadecimal digits."));
    if (row.Dhcp)
        return findings.size() == before;
    const TAmplifierSettings& s = row.Wanted;
    std::istringstream problems(FindSettingsProblems(s.IP, s.NetMask, s.Gateway));
    for (std::string problem; std::getline(problems, problem);)
        findings.push_back(Finding(row.Line, TerminalSafe(problem)));
    uint32_t ip = 0, mask = 0, gateway = 0;
    if (findings.size() == before && ParseDottedIPv4(s.IP, ip) && ParseDottedIPv4(s.NetMask, mask)
        && ParseDottedIPv4(s.Gateway, gateway) && gateway != 0 && (gateway & mask) != (ip & mask))
        findings.push_back(Finding(row.Line,
            "Default Gateway " + Quoted(s.Gateway) + " is outside the subnet of " + s.IP + " / " + s.NetMask
                + "."));
    return findings.size() == before;
}

} // namespace

std::string DescribeSettings(bool dhcp, const TAmplifierSettings& s)
{
    return dhcp ? "DHCP" : s.IP + " / " + s.NetMask + " / " + s.Gateway;
}

std::vector<TPlanFinding> ReadIpPlan(const std::string& text, std::vector<TPlanRow>& rows)
{
    std::vector<TPlanFinding> findings;
    std::vector<TCsvRow> csv;
    int badLine = 0;
    if (!ReadCsv(text, csv, badLine))
        return { Finding(badLine, "a quoted field is never closed.") };
    if (csv.empty())
        return { Finding(1,
            "the plan is empty: it needs a header line (mac,ip,netmask,gateway) and a row per amplifier.") };

    std::map<std::string, size_t> column;
    for (size_t i = 0; i < csv[0].Fields.size(); ++i)
        column.emplace(Lower(Trimmed(CsvFieldText(csv[0].Fields[i]))), i);
    if (csv[0].Fields.size() == 1 && csv[0].Fields[0].find(';') != std::string::npos)
        return { Finding(
            csv[0].Line, "the fields are separated by semicolons; save the plan as CSV with commas.") };
    for (const char* name : { "mac", "ip" })
        if (!column.count(name))
            findings.push_back(Finding(csv[0].Line,
                std::string("the header has no \"") + name + "\" column (it needs mac,ip,netmask,gateway)."));
    if (!findings.empty())
        return findings;
    const auto cell = [&](const TCsvRow& row, const char* name) -> std::string {
        const auto it = column.find(name);
        if (it == column.end() || it->second >= row.Fields.size())
            return {};
        return Trimmed(CsvFieldText(row.Fields[it->second]));
    };

    std::map<std::string, int> macLines, addressLines;
    for (size_t r = 1; r < csv.size(); ++r) {
        const TCsvRow& line = csv[r];
        if (std::all_of(line.Fields.begin(), line.Fields.end(),
                [](const std::string& f) { return Trimmed(f).empty(); }))
            continue; // spreadsheets write blank rows as commas alone
        TPlanRow row;
        row.Line = line.Line;
        const std::string macText = cell(line, "mac");
        row.Mac = Upper(macText);
        const std::string ip = cell(line, "ip");
        row.Dhcp = Lower(ip) == "dhcp";
        if (!row.Dhcp) {
            row.Wanted.IP = ip;
            row.Wanted.NetMask = cell(line, "netmask");
            row.Wanted.Gateway = cell(line, "gateway");
            if (row.Wanted.Gateway.empty())
                row.Wanted.Gateway = "0.0.0.0";
        }
        CheckRow(row, macText, findings);
        if (!row.Mac.empty()) {
            const auto [it, fresh] = macLines.emplace(row.Mac, row.Line);
            if (!fresh)
                findings.push_back(Finding(row.Line,
                    "MAC suffix " + TerminalSafe(row.Mac) + " is planned twice (also on line "
                        + std::to_string(it->second) + ")."));
        }
        if (!row.Dhcp && IsDottedIPv4(row.Wanted.IP)) {
            const auto [it, fresh] = addressLines.emplace(row.Wanted.IP, row.Line);
            if (!fresh)
                findings.push_back(Finding(row.Line,
                    "address " + row.Wanted.IP + " is planned twice (also on line "
                        + std::to_string(it->second) + ")."));
        }
        rows.push_back(row);
    }
    if (rows.empty() && findings.empty())
        findings.push_back(Finding(csv[0].Line, "the plan has a header but no amplifier."));
    return findings;
}

TPlanSchedule SchedulePlan(const std::vector<TPlanRow>& rows, const std::vector<TTovrinData>& found)
{
    TPlanSchedule plan;
    plan.States.assign(rows.size(), TPlanState::NotFound);
    plan.Found.assign(rows.size(), {});
    std::map<std::string, size_t> rowOfMac;
    for (size_t r = 0; r < rows.size(); ++r)
        rowOfMac.emplace(rows[r].Mac, r);
    for (const TTovrinData& amp : found) {
        const auto it = rowOfMac.find(Upper(amp.MacKey));
        if (it == rowOfMac.end())
            continue;
        const size_t r = it->second;
        const TPlanRow& row = rows[r];
        plan.Found[r] = amp;
        const TAmplifierSettings now { amp.IP, amp.NetMask, amp.Gateway };
        const bool asPlanned = row.Dhcp ? amp.Flag : (!amp.Flag && now == row.Wanted);
        plan.States[r] = asPlanned ? TPlanState::Unchanged : TPlanState::Change;
    }

    // One step per row that changes; then the steps of the amplifiers holding its address now.
    std::vector<size_t> stepOfRow(rows.size(), SIZE_MAX);
    for (size_t r = 0; r < rows.size(); ++r)
        if (plan.States[r] == TPlanState::Change) {
            stepOfRow[r] = plan.Steps.size();
            plan.Steps.push_back({ r, rows[r].Dhcp, rows[r].Wanted, false, {} });
        }
    std::set<std::string> taken; // every address found or planned: an interim address is none of them
    for (const TTovrinData& amp : found)
        taken.insert(amp.IP);
    for (const TPlanRow& row : rows)
        taken.insert(row.Wanted.IP);
    for (TPlanStep& step : plan.Steps) {
        if (step.Dhcp)
            continue;
        const TPlanRow& row = rows[step.Row];
        for (const TTovrinData& holder : found) {
            if (holder.IP != row.Wanted.IP || Upper(holder.MacKey) == row.Mac)
                continue;
            const auto it = rowOfMac.find(Upper(holder.MacKey));
            const bool leaves = it != rowOfMac.end() && plan.States[it->second] == TPlanState::Change
                && !rows[it->second].Dhcp;
            if (leaves) {
                step.After.push_back(stepOfRow[it->second]);
                continue;
            }
            std::string why = "which the plan leaves as it is";
            if (it != rowOfMac.end())
                why = rows[it->second].Dhcp
                    ? "which goes to DHCP and may be leased it again (line "
                        + std::to_string(rows[it->second].Line) + ")"
                    : "which keeps it (line " + std::to_string(rows[it->second].Line) + ")";
            plan.Findings.push_back(Finding(row.Line,
                "address " + row.Wanted.IP + " is held by " + TerminalSafe(holder.MacKey) + ", " + why
                    + "."));
        }
    }
    if (!plan.Findings.empty())
        return plan;

    // A swap (a cycle of amplifiers each taking the next one's address) is broken by moving one of
    // them to a free address first: the one taking its address then waits for that move instead.
    const auto freeAddress = [&](const TAmplifierSettings& wanted) -> std::string {
        uint32_t ip = 0, mask = 0;
        ParseDottedIPv4(wanted.IP, ip);
        ParseDottedIPv4(wanted.NetMask, mask);
        const uint32_t network = ip & mask, broadcast = network | ~mask;
        for (uint32_t candidate = broadcast - 1; candidate > network && candidate >= broadcast - 4096;
             --candidate) {
            const std::string text = std::to_string(candidate >> 24) + "."
                + std::to_string((candidate >> 16) & 255) + "." + std::to_string((candidate >> 8) & 255) + "."
                + std::to_string(candidate & 255);
            if (!taken.count(text) && text != wanted.Gateway) {
                taken.insert(text);
                return text;
            }
        }
        return {};
    };
    for (;;) {
        // Kahn's order over After; what is left waits on a cycle.
        std::vector<int> waiting(plan.Steps.size());
        std::vector<std::vector<size_t>> next(plan.Steps.size());
        for (size_t s = 0; s < plan.Steps.size(); ++s) {
            waiting[s] = static_cast<int>(plan.Steps[s].After.size());
            for (const size_t a : plan.Steps[s].After)
                next[a].push_back(s);
        }
        std::vector<size_t> order;
        for (size_t s = 0; s < plan.Steps.size(); ++s)
            if (waiting[s] == 0)
                order.push_back(s);
        for (size_t k = 0; k < order.size(); ++k)
            for (const size_t n : next[order[k]])
                if (--waiting[n] == 0)
                    order.push_back(n);
        if (order.size() == plan.Steps.size()) {
            // Renumber into that order.
            std::vector<size_t> position(order.size());
            for (size_t k = 0; k < order.size(); ++k)
                position[order[k]] = k;
            std::vector<TPlanStep> sorted;
            for (const size_t s : order) {
                sorted.push_back(plan.Steps[s]);
                for (size_t& a : sorted.back().After)
                    a = position[a];
            }
            plan.Steps = std::move(sorted);
            return plan;
        }
        // Walk back along After from a step left over until a step repeats: it lies on a cycle.
        size_t s = 0;
        while (waiting[s] == 0)
            ++s;
        std::vector<bool> seen(plan.Steps.size());
        while (!seen[s]) {
            seen[s] = true;
            for (const size_t a : plan.Steps[s].After)
                if (waiting[a] != 0) {
                    s = a;
                    break;
                }
        }
        const TPlanRow& row = rows[plan.Steps[s].Row];
        TPlanStep interim { plan.Steps[s].Row, false, row.Wanted, true, {} };
        interim.Settings.IP = freeAddress(row.Wanted);
        if (interim.Settings.IP.empty()) {
            plan.Findings.push_back(Finding(row.Line,
                "address " + row.Wanted.IP
                    + " is part of a swap, and its subnet has no free address to go through."));
            return plan;
        }
        const size_t added = plan.Steps.size();
        for (TPlanStep& step : plan.Steps)
            std::replace(step.After.begin(), step.After.end(), s, added);
        plan.Steps.push_back(interim);
    }
}
