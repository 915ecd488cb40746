#include "ctl/Commands.h"

#include "comm/Recvthread.h"
#include "ctl/CtlInterfaces.h"
#include "ctl/CtlOutput.h"
#include "ctl/DiscoveryScan.h"
#include "ctl/FileDigest.h"
#include "ctl/Rollout.h"
#include "finder/SettingsCheck.h"
#include "finder/SettingsWatch.h"
#include "platform/HostInfo.h"
#include "platform/UniqueFd.h"
#include "platform/WriteFiles.h"
#include "upload/Upload.h"
#include "upload/UploadStop.h"

#include <fnmatch.h>
#include <sys/stat.h>

#include "text/Strtools.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <optional>
#include <ostream>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

int Milliseconds(double seconds)
{
    return static_cast<int>(std::clamp(seconds, 0.0, 86400.0) * 1000);
}

std::string Upper(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// Opens discovery on the chosen interface; false after telling why.
bool OpenScan(TCtlContext& context, TDiscoveryScan& scan, const std::string& choice)
{
    std::string error;
    const std::string address = ChooseInterfaceAddress(choice, DiscoveryInterfaces(), error);
    if (address.empty()) {
        context.err << "tovrinctl: " << error << "\n";
        return false;
    }
    if (!scan.Open(address, error)) {
        context.err << "tovrinctl: cannot open discovery on " << address << ": " << error << "\n";
        return false;
    }
    return true;
}

std::vector<TTovrinData> Rows(const AmplifierList& list)
{
    std::vector<TTovrinData> rows;
    for (int i = 0; i < list.Count(); ++i)
        rows.push_back(list.Row(i));
    return rows;
}

// The live table, on the terminal's alternate screen while it runs: each redraw starts at the top
// left and fits the table to the terminal's size as it is then, so that a line that would wrap or
// a table taller than the screen cannot push the previous one up instead of replacing it. The
// final table stays on the normal screen afterwards.
class TLiveScreen {
public:
    TLiveScreen(std::ostream& out, std::function<TTerminalSize()> size)
        : FOut(out)
        , FSize(std::move(size))
    {
        FOut << "\x1b[?1049h" << std::flush;
    }
    ~TLiveScreen() { FOut << "\x1b[?1049l" << FLast << std::flush; }
    TLiveScreen(const TLiveScreen&) = delete;
    TLiveScreen& operator=(const TLiveScreen&) = delete;

    void Show(const std::string& block)
    {
        const TTerminalSize size = FSize ? FSize() : TTerminalSize {};
        std::string screen = "\x1b[H";
        for (const std::string& line : FitToScreen(block, size.Columns, size.Rows))
            screen += line + "\x1b[K\n";
        FOut << screen << "\x1b[J" << std::flush;
        FLast = block;
    }

private:
    std::ostream& FOut;
    std::function<TTerminalSize()> FSize;
    std::string FLast;
};

void ShowProgress(TCtlContext& context, const std::string& line)
{
    context.err << "\r\x1b[K" << line << std::flush;
}

void EndProgress(TCtlContext& context)
{
    context.err << "\r\x1b[K" << std::flush;
}

} // namespace

int RunInterfaces(TCtlContext& context)
{
    const auto interfaces = DiscoveryInterfaces();
    if (interfaces.empty()) {
        context.err << "tovrinctl: no network interface with an IPv4 address is up\n";
        return ExitFailed;
    }
    std::vector<std::vector<std::string>> rows { { "INTERFACE", "ADDRESS" } };
    for (const TCtlInterface& entry : interfaces)
        rows.push_back({ entry.Device, entry.Address });
    context.out << AlignedTable(rows);
    return ExitOk;
}

int RunDiscover(TCtlContext& context, const TDiscoverOptions& options)
{
    if (options.Watch && !context.terminal) {
        context.err << "tovrinctl: --watch needs a terminal; use --seconds and --json to record\n";
        return ExitUsage;
    }
    TDiscoveryScan scan;
    if (!OpenScan(context, scan, options.Interface))
        return ExitFailed;
    const auto interrupted = [&] { return context.interrupts() > 0; };

    if (options.Watch) {
        TLiveScreen live(context.out, context.terminalSize);
        live.Show(AmplifierTable({}));
        while (!interrupted()) {
            scan.Run(static_cast<int>(HelloIntervalMs), true, {}, interrupted);
            scan.List().RemoveStale(MaxSilenceMs, platform::TickCount());
            live.Show(AmplifierTable(Rows(scan.List())));
        }
        return ExitOk;
    }

    // JSON lines go out as amplifiers first answer; the table needs them all for its widths, and a
    // file is written whole at the end, with the latest times.
    const bool toFile = !options.Output.empty();
    std::vector<std::string> printed;
    scan.Run(
        Milliseconds(options.Seconds), true,
        [&](const TTovrinData& record) {
            if (!options.Json || toFile
                || std::find(printed.begin(), printed.end(), record.MacKey) != printed.end())
                return;
            printed.push_back(record.MacKey);
            const int row = scan.List().Find(record.MacKey);
            const auto seen = scan.List().Seen(row);
            context.out << JsonLine(AmplifierJson(TListedAmplifier { record, seen.First, seen.Last })) << "\n"
                        << std::flush;
        },
        interrupted);
    std::string text;
    if (options.Csv) {
        text = AmplifierCsv(ListedAmplifiers(scan.List()));
    } else if (!options.Json) {
        text = AmplifierTable(Rows(scan.List()));
    } else if (toFile) {
        for (const TListedAmplifier& amplifier : ListedAmplifiers(scan.List()))
            text += JsonLine(AmplifierJson(amplifier)) + "\n";
    }
    if (!toFile) {
        context.out << text << std::flush;
    } else if (const int error
        = platform::ReplaceFileBytes(options.Output, text, platform::TStreamTarget::WriteInPlace)) {
        context.err << "tovrinctl: cannot write \"" << TerminalSafe(options.Output)
                    << "\": " << LoadErrorText(error) << "\n";
        return ExitFailed;
    }
    return interrupted() ? ExitInterrupted : ExitOk;
}

int RunSetIp(TCtlContext& context, const TSetIpOptions& options)
{
    if (!options.Dhcp) {
        const std::string problems = FindSettingsProblems(options.IP, options.NetMask, options.Gateway);
        if (!problems.empty()) {
            context.err << "tovrinctl: the amplifier may become unreachable with these settings:\n"
                        << problems;
            if (!options.Force) {
                context.err << "tovrinctl: nothing sent; correct them, or send them anyway with --force\n";
                return ExitUsage;
            }
        }
    }
    TDiscoveryScan scan;
    if (!OpenScan(context, scan, options.Interface))
        return ExitFailed;
    const auto interrupted = [&] { return context.interrupts() > 0; };

    // What it reports before the change tells its reboot from replies it sent before.
    const std::string wanted = Upper(options.Mac);
    std::optional<TTovrinData> before;
    scan.Run(
        Milliseconds(options.FindSeconds), true,
        [&](const TTovrinData& record) {
            if (Upper(record.MacKey) == wanted)
                before = record;
        },
        [&] { return before.has_value() || interrupted(); });
    if (interrupted())
        return ExitInterrupted;
    if (!before) {
        context.err << "tovrinctl: no amplifier " << TerminalSafe(options.Mac) << " answered within "
                    << options.FindSeconds << " s; nothing sent\n";
        return ExitFailed;
    }

    const std::string mac = before->MacKey;
    const std::string datagram
        = BuildSettingsDatagram(mac, options.Dhcp, options.IP, options.NetMask, options.Gateway);
    if (!scan.Broadcast(datagram)) {
        context.err << "tovrinctl: the settings datagram could not be sent\n";
        return ExitFailed;
    }
    if (options.NoWait) {
        context.out << "Settings sent to " << TerminalSafe(mac) << ".\n";
        return ExitOk;
    }

    TSettingsWatch watch;
    context.err << TerminalSafe(watch.Start(mac, options.Dhcp,
        { options.IP, options.NetMask, options.Gateway }, { before->IP, before->NetMask, before->Gateway },
        platform::TickCount(), static_cast<uint32_t>(Milliseconds(options.WaitSeconds))))
                << "\n";
    std::optional<std::string> confirmed;
    std::optional<std::string> notConfirmed;
    while (!confirmed && !notConfirmed && !interrupted()) {
        scan.Run(
            static_cast<int>(HelloIntervalMs), true,
            [&](const TTovrinData& record) {
                if (!confirmed)
                    confirmed = watch.Reply(
                        record.MacKey, { record.IP, record.NetMask, record.Gateway }, platform::TickCount());
            },
            [&] { return confirmed.has_value() || interrupted(); });
        if (!confirmed)
            notConfirmed = watch.Tick(platform::TickCount());
    }
    if (confirmed) {
        context.out << TerminalSafe(*confirmed) << "\n";
        return ExitOk;
    }
    if (notConfirmed) {
        context.err << TerminalSafe(*notConfirmed) << "\n";
        return ExitFailed;
    }
    context.err << "tovrinctl: interrupted before the change showed\n";
    return ExitInterrupted;
}

int RunVersion(TCtlContext& context, const std::string& host)
{
    const std::string endpoint = host + ":" + std::to_string(context.commandPort);
    UniqueFd connection(OpenTcpConnection(host, context.commandPort, 1000));
    if (!connection) {
        context.err << "Connecting to " << TerminalSafe(endpoint) << " failed.\n";
        return ExitFailed;
    }
    std::string reply;
    if (!SocketSendString(connection.get(), "$$$VER?\n") || !ReadUntil(connection.get(), reply, 1000, '\n')) {
        context.err << "Reply timeout!\n";
        return ExitFailed;
    }
    context.out << TerminalSafe(reply) << "\n";
    return ExitOk;
}

int RunUpload(TCtlContext& context, const TUploadCommandOptions& options)
{
    TUploadParams params;
    params.Address = options.Host;
    params.SourcePath = options.File;
    params.Port = context.commandPort;
    TUploadStop stop;
    TUploadOutcome outcome;
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::string> lines; // guarded by mutex
    bool finished = false; // guarded by mutex
    std::atomic<uint64_t> sent { 0 };
    std::atomic<uint64_t> total { 0 };

    // The exchange runs on its own thread, so that Ctrl+C can break it off at any step. Its end
    // wakes this thread at once; the progress line and Ctrl+C are looked at every 100 ms meanwhile.
    std::thread exchange([&] {
        UploadFile(
            params,
            [&](const std::string& line) {
                std::lock_guard lock(mutex);
                lines.push_back(line);
                changed.notify_one();
            },
            [&](uint64_t s, uint64_t t, double) {
                sent = s;
                total = t;
            },
            &stop, &outcome);
        std::lock_guard lock(mutex);
        finished = true;
        changed.notify_one();
    });
    const auto started = Clock::now();
    bool dataBegan = false;
    bool stopRequested = false;
    for (;;) {
        bool done = false;
        std::vector<std::string> now;
        {
            std::unique_lock lock(mutex);
            changed.wait_for(
                lock, std::chrono::milliseconds(100), [&] { return finished || !lines.empty(); });
            done = finished;
            now.swap(lines);
        }
        for (const std::string& line : now) {
            dataBegan |= line == "FILE_UPLOAD_START";
            if (options.Verbose) {
                if (context.terminal)
                    EndProgress(context);
                context.out << TerminalSafe(line) << "\n" << std::flush;
            }
        }
        if (done)
            break;
        if (context.interrupts() > 0 && !stopRequested) {
            stopRequested = true;
            stop.Request();
        }
        if (context.terminal && dataBegan)
            ShowProgress(context,
                ProgressLine(sent.load(), total.load(),
                    std::chrono::duration<double>(Clock::now() - started).count()));
    }
    exchange.join();
    if (context.terminal && dataBegan)
        EndProgress(context);

    if (outcome.Result == TUploadResult::Done) {
        context.out << "Uploaded " << TerminalSafe(FileNamePart(options.File)) << " to "
                    << TerminalSafe(options.Host) << ": "
                    << DescribeTransfer(outcome.Size, outcome.DataSeconds) << ".\n";
        return ExitOk;
    }
    if (!options.Verbose)
        context.err << TerminalSafe(outcome.LastLine) << "\n";
    context.err << "tovrinctl: the upload to " << TerminalSafe(options.Host) << " failed\n";
    return outcome.Result == TUploadResult::Stopped ? ExitInterrupted : ExitFailed;
}

namespace {

// The amplifiers a rollout goes to; false after telling why none can be chosen.
bool ChooseTargets(TCtlContext& context, const TRolloutOptions& options, std::vector<TRolloutTarget>& targets)
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
            targets.push_back({ row.MacKey, row.IP, row.Name });
    }
    bool missing = false;
    for (const std::string& mac : wanted)
        if (std::none_of(
                targets.begin(), targets.end(), [&](const auto& t) { return Upper(t.Mac) == mac; })) {
            context.err << "tovrinctl: amplifier " << TerminalSafe(mac) << " did not answer\n";
            missing = true;
        }
    return !missing;
}

// An empty cell would make the columns of a table hard to read.
std::string Cell(const std::string& text)
{
    return text.empty() ? "-" : TerminalSafe(text);
}

std::string ResultWord(const TAuditRecord& record)
{
    if (record.Ok)
        return "ok";
    return record.LastLine == NotStartedLine ? "skipped" : "failed";
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
    if (!ChooseTargets(context, options, targets))
        return ExitFailed;
    if (context.interrupts() > 0)
        return ExitInterrupted;
    if (targets.empty()) {
        context.err << "tovrinctl: no amplifier to upload to\n";
        return ExitFailed;
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

    const auto started = Clock::now();
    int interruptsSeen = 0;
    std::vector<TAuditRecord> records = TRollout().Run(
        targets, settings,
        [&](const TAuditRecord& record) {
            if (audit.is_open())
                audit << JsonLine(AuditJson(record)) << "\n" << std::flush;
            if (context.terminal)
                EndProgress(context);
            // Fixed widths: the lines come one by one and cannot be aligned afterwards.
            context.out << FormatText("%-7s %-12s  %-15s  %-16s %6.1f s  ", ResultWord(record).c_str(),
                Cell(record.Mac).c_str(), Cell(record.IP).c_str(), Cell(record.Name).c_str(), record.Seconds)
                        << Cell(record.LastLine) << "\n"
                        << std::flush;
        },
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
    for (const TAuditRecord& r : records) {
        ok += r.Ok ? 1 : 0;
        table.push_back({ ResultWord(r), Cell(r.Mac), Cell(r.IP), Cell(r.Name), Cell(r.Version),
            FormatText("%.1f", r.Seconds) });
    }
    context.out << "\n" << AlignedTable(table);
    context.out << FormatText("%zu of %zu amplifiers ok in %.1f s (%.1f MB/s in all).\n", ok, records.size(),
        seconds, seconds > 0 ? static_cast<double>(ok * settings.Size) / seconds / 1e6 : 0.0);
    if (interruptsSeen > 0)
        return ExitInterrupted;
    return ok == records.size() ? ExitOk : ExitFailed;
}
