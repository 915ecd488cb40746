#include "ctl/Commands.h"

#include "ctl/CtlCommon.h"
#include "ctl/CtlOutput.h"
#include "ctl/FileDigest.h"
#include "ctl/Rollout.h"
#include "ctl/VersionQuery.h"
#include "finder/SettingsCheck.h"
#include "text/Strtools.h"

#include <CLI/CLI.hpp>

#include <fnmatch.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <memory>
#include <ostream>

namespace {

using Clock = std::chrono::steady_clock;

// The amplifiers a rollout goes to; false after telling why none can be chosen. A discovered
// amplifier whose IP field is no dotted IPv4 address goes to notIPv4 instead: its field is its own
// text, and a name there would be looked up and connected to.
bool ChooseTargets(TCtlContext& context, const TRolloutOptions& options, std::vector<TRolloutTarget>& targets,
    std::vector<TRolloutTarget>& notIPv4)
{
    for (const std::string& host : options.Hosts)
        targets.push_back({ {}, host, {} });
    if (!options.All && options.Macs.empty() && options.Filter.empty())
        return true;

    TDiscoveryScan scan;
    if (!OpenScan(context, scan, options.Interface))
        return false;
    std::vector<std::string> wanted;
    for (const std::string& mac : options.Macs)
        wanted.push_back(Upper(mac));
    const auto allFound = [&] {
        if (options.All || !options.Filter.empty())
            return false;
        const AmplifierList& list = scan.List();
        return std::all_of(wanted.begin(), wanted.end(), [&](const std::string& mac) {
            for (int i = 0; i < list.Count(); ++i)
                if (Upper(list.Row(i).MacKey) == mac)
                    return true;
            return false;
        });
    };
    scan.Run(Milliseconds(options.Seconds), true, {}, [&] { return allFound() || context.interrupts() > 0; });

    const AmplifierList& list = scan.List();
    for (int i = 0; i < list.Count(); ++i) {
        const TTovrinData& row = list.Row(i);
        const bool byMac = std::find(wanted.begin(), wanted.end(), Upper(row.MacKey)) != wanted.end();
        const auto matches
            = [&](const std::string& text) { return fnmatch(options.Filter.c_str(), text.c_str(), 0) == 0; };
        const bool byFilter
            = !options.Filter.empty() && (matches(row.Name) || matches(row.MacKey) || matches(row.IP));
        if (options.All || byMac || byFilter)
            (IsDottedIPv4(row.IP) ? targets : notIPv4).push_back({ row.MacKey, row.IP, row.Name });
    }
    const auto holds = [](const std::vector<TRolloutTarget>& chosen, const std::string& mac) {
        return std::any_of(chosen.begin(), chosen.end(), [&](const auto& t) { return Upper(t.Mac) == mac; });
    };
    bool missing = false;
    for (const std::string& mac : wanted)
        if (!holds(targets, mac) && !holds(notIPv4, mac)) {
            context.err << "tovrinctl: amplifier " << TerminalSafe(mac) << " did not answer\n";
            missing = true;
        }
    return !missing;
}

// An amplifier never started did not get the file: it counts as failed, as in the audit, and its
// last line tells why. "skipped" is only for those that already run the version asked to skip.
std::string ResultWord(const TAuditRecord& record)
{
    if (record.Ok)
        return "ok";
    return record.Skipped ? "skipped" : "failed";
}

// The finished record of a target that is not uploaded to.
TAuditRecord RecordNotUploaded(const TRolloutTarget& target, const TRolloutOptions& options,
    const std::string& sha256, uint64_t size, const std::string& lastLine)
{
    TAuditRecord record;
    record.Time = IsoTimeUtc(std::chrono::system_clock::now());
    record.Mac = target.Mac;
    record.IP = target.IP;
    record.Name = target.Name;
    record.File = FileNamePart(options.File);
    record.Size = size;
    record.Sha256 = sha256;
    record.LastLine = lastLine;
    return record;
}

// Asks each target its version; those that report skipVersion exactly get their finished record
// (skipped) and leave targets.
std::vector<TAuditRecord> SkipCurrent(TCtlContext& context, const TRolloutOptions& options,
    std::vector<TRolloutTarget>& targets, const std::string& sha256, uint64_t size)
{
    std::vector<std::string> hosts;
    for (const TRolloutTarget& target : targets)
        hosts.push_back(target.IP);
    TVersionParams params;
    params.Port = context.commandPort;
    const auto answers
        = AskVersions(hosts, params, options.Parallel, {}, [&] { return context.interrupts() > 0; });
    std::vector<TAuditRecord> skipped;
    std::vector<TRolloutTarget> rest;
    for (size_t i = 0; i < targets.size(); ++i) {
        if (answers[i].Error != TVersionError::None || answers[i].Version != options.SkipVersion) {
            rest.push_back(targets[i]);
            continue;
        }
        TAuditRecord record = RecordNotUploaded(targets[i], options, sha256, size, SkippedLine);
        record.Version = answers[i].Version;
        record.Skipped = true;
        skipped.push_back(record);
    }
    targets = std::move(rest);
    return skipped;
}

} // namespace

int RunRollout(TCtlContext& context, const TRolloutOptions& options)
{
    struct stat info { };
    if (stat(options.File.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        context.err << "tovrinctl: " << TerminalSafe(options.File)
                    << " is no regular file that can be read\n";
        return ExitFailed;
    }
    std::string error;
    const std::string sha256 = Sha256OfFile(options.File, error);
    if (sha256.empty()) {
        context.err << "tovrinctl: cannot read " << TerminalSafe(options.File) << ": " << error << "\n";
        return ExitFailed;
    }
    std::ofstream audit;
    if (!options.Audit.empty()) {
        audit.open(options.Audit, std::ios::app);
        if (!audit) {
            context.err << "tovrinctl: cannot open the audit file " << TerminalSafe(options.Audit) << "\n";
            return ExitFailed;
        }
    }

    std::vector<TRolloutTarget> targets;
    std::vector<TRolloutTarget> notIPv4;
    if (!ChooseTargets(context, options, targets, notIPv4))
        return ExitFailed;
    if (context.interrupts() > 0)
        return ExitInterrupted;
    if (targets.empty() && notIPv4.empty()) {
        context.err << "tovrinctl: no amplifier to upload to\n";
        return ExitFailed;
    }

    const auto report = [&](const TAuditRecord& record) {
        if (audit.is_open())
            audit << JsonLine(AuditJson(record)) << "\n" << std::flush;
        if (context.terminal)
            EndProgress(context);
        // Fixed widths: the lines come one by one and cannot be aligned afterwards.
        context.out << FormatText("%-7s %-12s  %-15s  %-16s %6.1f s  ", ResultWord(record).c_str(),
            Cell(record.Mac).c_str(), Cell(record.IP).c_str(), Cell(record.Name).c_str(), record.Seconds)
                    << Cell(record.LastLine) << "\n"
                    << std::flush;
    };
    const auto started = Clock::now();
    std::vector<TAuditRecord> refused;
    for (const TRolloutTarget& target : notIPv4) {
        refused.push_back(RecordNotUploaded(target, options, sha256, static_cast<uint64_t>(info.st_size),
            VersionErrorText(TVersionError::NotIPv4)));
        report(refused.back());
    }
    std::vector<TAuditRecord> skipped;
    if (options.SkipVersionGiven) {
        const size_t asked = targets.size();
        skipped = SkipCurrent(context, options, targets, sha256, static_cast<uint64_t>(info.st_size));
        context.err << skipped.size() << " of " << asked << " amplifiers report \""
                    << TerminalSafe(options.SkipVersion) << "\" and are skipped.\n";
        for (const TAuditRecord& record : skipped)
            report(record);
        if (context.interrupts() > 0)
            return ExitInterrupted;
    }

    TRolloutSettings settings;
    settings.SourcePath = options.File;
    settings.Sha256 = sha256;
    settings.Size = static_cast<uint64_t>(info.st_size);
    settings.Parallel = options.Parallel;
    settings.Upload.Port = context.commandPort;
    context.err << "Uploading " << TerminalSafe(FileNamePart(options.File)) << " (" << settings.Size
                << " bytes, sha256 " << sha256 << ") to " << targets.size() << " amplifiers, "
                << options.Parallel << " at a time.\n";

    int interruptsSeen = 0;
    std::vector<TAuditRecord> records = TRollout().Run(
        targets, settings, report,
        [&](uint64_t sent, size_t ended) {
            if (context.terminal)
                ShowProgress(context,
                    ProgressLine(sent, settings.Size * targets.size(),
                        std::chrono::duration<double>(Clock::now() - started).count())
                        + FormatText("  %zu/%zu done", ended, targets.size()));
        },
        [&] {
            const int now = context.interrupts();
            if (now != interruptsSeen) {
                interruptsSeen = now;
                if (context.terminal)
                    EndProgress(context);
                context.err << (now == 1 ? "Interrupted: no further uploads start; the running ones end "
                                           "(Ctrl+C again breaks them off).\n"
                                         : "Interrupted again: breaking off the running uploads.\n");
            }
            return now;
        });
    if (context.terminal)
        EndProgress(context);

    const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
    std::vector<std::vector<std::string>> table { { "RESULT", "MAC", "IP", "NAME", "VERSION", "SECONDS" } };
    size_t ok = 0;
    records.insert(records.begin(), skipped.begin(), skipped.end());
    records.insert(records.begin(), refused.begin(), refused.end());
    for (const TAuditRecord& r : records) {
        ok += r.Ok ? 1 : 0;
        table.push_back({ ResultWord(r), Cell(r.Mac), Cell(r.IP), Cell(r.Name), Cell(r.Version),
            FormatText("%.1f", r.Seconds) });
    }
    context.out << "\n" << AlignedTable(table);
    context.out << FormatText("%zu of %zu amplifiers ok", ok, records.size());
    if (options.SkipVersionGiven)
        context.out << FormatText(", %zu skipped", skipped.size());
    context.out << FormatText(" in %.1f s (%.1f MB/s in all).\n", seconds,
        seconds > 0 ? static_cast<double>(ok * settings.Size) / seconds / 1e6 : 0.0);
    if (interruptsSeen > 0)
        return ExitInterrupted;
    return ok + skipped.size() == records.size() ? ExitOk : ExitFailed;
}

void AddRolloutCommand(CLI::App& app, TCtlContext& context, int& status)
{
    auto options = std::make_shared<TRolloutOptions>();
    auto* command = app.add_subcommand("rollout", "Upload one file to many amplifiers at once");
    command->add_option("FILE", options->File, "The file to send")->required();
    auto* all = command->add_flag("--all", options->All, "Every amplifier that answers discovery");
    auto* macs
        = command->add_option("--mac", options->Macs, "These amplifiers (MAC suffixes)")->excludes(all);
    auto* filter = command
                       ->add_option("--from-discovery", options->Filter,
                           "Amplifiers whose name, MAC or IP matches this wildcard pattern ('Stage-*')")
                       ->excludes(all);
    auto* hosts = command->add_option("--host", options->Hosts, "Amplifiers by address, without discovery");
    command->add_option(
        "--interface", options->Interface, "Interface name (eth0) or one of its IPv4 addresses");
    command->add_option("--seconds", options->Seconds, "How long discovery looks for amplifiers")
        ->check(CLI::Range(0.0, 3600.0));
    command->add_option("--parallel", options->Parallel, "Uploads at a time")->check(CLI::Range(1, 1000));
    command->add_option("--audit", options->Audit, "Append one JSON line per amplifier to this file");
    command
        ->add_option_function<std::string>(
            "--skip-version",
            [options](const std::string& text) {
                options->SkipVersionGiven = true;
                options->SkipVersion = text;
            },
            "Ask each amplifier its version first and skip those whose version line is exactly TEXT")
        ->type_name("TEXT");
    command->callback([&context, &status, options, all, macs, filter, hosts] {
        if (all->count() == 0 && macs->count() == 0 && filter->count() == 0 && hosts->count() == 0)
            throw CLI::ValidationError(
                "rollout", "choose the amplifiers: --all, --mac, --from-discovery or --host");
        status = RunRollout(context, *options);
    });
}
