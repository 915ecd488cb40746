#include "ctl/Commands.h"

#include "ctl/CtlCommon.h"
#include "ctl/CtlOutput.h"
#include "ctl/VersionQuery.h"
#include "finder/ListFilter.h"
#include "finder/SettingsCheck.h"
#include "platform/HostInfo.h"
#include "platform/WriteFiles.h"
#include "text/Strtools.h"

#include <CLI/CLI.hpp>

#include <memory>
#include <ostream>

namespace {

struct TVersionRow {
    std::string Mac; // empty for an amplifier given by address
    std::string IP;
    std::string Name;
    TVersionAnswer Answer;
};

std::string VersionsTable(const std::vector<TVersionRow>& rows)
{
    std::vector<std::vector<std::string>> table { { "MAC", "IP", "NAME", "VERSION", "ERROR" } };
    for (const TVersionRow& r : rows)
        table.push_back({ Cell(r.Mac), Cell(r.IP), Cell(r.Name), Cell(r.Answer.Version),
            Cell(VersionErrorText(r.Answer.Error)) });
    return AlignedTable(table);
}

std::string VersionsCsv(const std::vector<TVersionRow>& rows)
{
    std::string csv = std::string(VersionsCsvHeader) + "\r\n";
    for (const TVersionRow& r : rows)
        csv += CsvField(r.Mac) + "," + CsvField(r.IP) + "," + CsvField(r.Name) + ","
            + CsvField(r.Answer.Version) + "," + CsvField(VersionErrorText(r.Answer.Error)) + "\r\n";
    return csv;
}

std::string VersionJsonLine(const TVersionRow& r)
{
    return JsonLine({ { "mac", JsonText(r.Mac) }, { "ip", JsonText(r.IP) }, { "name", JsonText(r.Name) },
        { "version", JsonText(r.Answer.Version) }, { "error", VersionErrorText(r.Answer.Error) } });
}

// The amplifiers to ask: those given by address, else those that answer discovery (and the filter).
bool ChooseAmplifiers(TCtlContext& context, const TVersionsOptions& options, std::vector<TVersionRow>& rows)
{
    for (const std::string& host : options.Hosts)
        rows.push_back({ {}, host, {}, {} });
    if (!options.Hosts.empty())
        return true;
    TDiscoveryScan scan;
    if (!OpenScan(context, scan, options.Interface))
        return false;
    scan.Run(Milliseconds(options.Seconds), true, {}, [&] { return context.interrupts() > 0; });
    for (const int i : SelectRows(scan.List(), options.Filter, TListSort::Seen).Rows) {
        const TTovrinData& a = scan.List().Row(i);
        rows.push_back({ a.MacKey, a.IP, a.Name, {} });
        // The field is the amplifier's own text: a name there would be looked up and connected to.
        if (!IsDottedIPv4(a.IP))
            rows.back().Answer.Error = TVersionError::NotIPv4;
    }
    return true;
}

} // namespace

int RunVersions(TCtlContext& context, const TVersionsOptions& options)
{
    std::vector<TVersionRow> rows;
    if (!ChooseAmplifiers(context, options, rows))
        return ExitFailed;
    if (context.interrupts() > 0)
        return ExitInterrupted;
    if (rows.empty()) {
        context.err << "tovrinctl: no amplifier answered discovery\n";
        return ExitFailed;
    }

    std::vector<std::string> hosts;
    std::vector<size_t> asked; // the rows hosts stands for
    for (size_t i = 0; i < rows.size(); ++i)
        if (rows[i].Answer.Error != TVersionError::NotIPv4) {
            hosts.push_back(rows[i].IP);
            asked.push_back(i);
        }
    TVersionParams params;
    params.Port = context.commandPort;
    size_t ended = 0;
    size_t answered = 0;
    const auto answers = AskVersions(
        hosts, params, options.Parallel,
        [&](size_t, const TVersionAnswer& answer) {
            ++ended;
            answered += answer.Error == TVersionError::None ? 1 : 0;
            if (context.terminal)
                ShowProgress(context,
                    FormatText("%zu of %zu answered, %zu without a version", answered, hosts.size(),
                        ended - answered));
        },
        [&] { return context.interrupts() > 0; });
    if (context.terminal)
        EndProgress(context);
    for (size_t k = 0; k < asked.size(); ++k)
        rows[asked[k]].Answer = answers[k];

    std::string text;
    if (options.Csv) {
        text = VersionsCsv(rows);
    } else if (options.Json) {
        for (const TVersionRow& r : rows)
            text += VersionJsonLine(r) + "\n";
    } else {
        text = VersionsTable(rows);
    }
    if (!WriteResult(context, options.Output, text))
        return ExitFailed;
    if (context.interrupts() > 0)
        return ExitInterrupted;
    return answered == rows.size() ? ExitOk : ExitFailed;
}

void AddVersionsCommand(CLI::App& app, TCtlContext& context, int& status)
{
    auto options = std::make_shared<TVersionsOptions>();
    auto* command = app.add_subcommand("versions",
        "Ask many amplifiers for their version (\"$$$VER?\"): those that answer discovery, or --host");
    command->add_option("--host", options->Hosts, "Amplifiers by address, without discovery");
    command->add_option(
        "--interface", options->Interface, "Interface name (eth0) or one of its IPv4 addresses");
    command->add_option("--seconds", options->Seconds, "How long discovery looks for amplifiers")
        ->check(CLI::Range(0.0, 3600.0));
    command->add_option("--filter", options->Filter,
        "Only amplifiers whose MAC suffix, IP or name contains this text (any case)");
    command->add_option("--parallel", options->Parallel, "Amplifiers asked at a time")
        ->check(CLI::Range(1, 1000));
    auto* json = command->add_flag("--json", options->Json, "One JSON object per amplifier and line");
    command->add_flag("--csv", options->Csv, "CSV: a header row, then one row per amplifier")->excludes(json);
    command->add_option(
        "-o,--output", options->Output, "Write the list to this file instead of standard output");
    command->callback([&context, &status, options] { status = RunVersions(context, *options); });
}
