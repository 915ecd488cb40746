#include "ctl/Commands.h"

#include "ctl/CtlCommon.h"
#include "ctl/CtlOutput.h"
#include "ctl/WatchScreen.h"
#include "platform/HostInfo.h"
#include "platform/WriteFiles.h"
#include "text/Strtools.h"

#include <CLI/CLI.hpp>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <ostream>

namespace {

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

} // namespace

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
        TWatchView view;
        view.Sort = options.Sort;
        view.Filter = options.Filter;
        TRawTerminal keyboard(STDIN_FILENO);
        TLiveScreen live(context.out, context.terminalSize);
        const auto redraw = [&] {
            const TTerminalSize size = context.terminalSize ? context.terminalSize() : TTerminalSize {};
            live.Show(WatchScreenText(scan.List(), view, size.Columns, size.Rows));
        };
        redraw();
        // Keys are read between the replies, so a key press redraws at once; the hello keeps its
        // pace of one every 500 ms whatever is typed.
        auto nextHello = std::chrono::steady_clock::now();
        while (!interrupted() && !view.Quit) {
            const auto now = std::chrono::steady_clock::now();
            const bool hello = now >= nextHello;
            if (hello)
                nextHello = now + std::chrono::milliseconds(HelloIntervalMs);
            const int ms = static_cast<int>(
                std::chrono::duration_cast<std::chrono::milliseconds>(nextHello - now).count());
            std::string keys;
            scan.Run(std::max(ms, 1), hello, {}, [&] {
                if (interrupted())
                    return true;
                keys = keyboard.Active() ? keyboard.ReadKeys(0) : std::string();
                return !keys.empty();
            });
            HandleWatchKeys(view, keys);
            scan.List().RemoveStale(MaxSilenceMs, platform::TickCount());
            redraw();
        }
        // Ctrl+C is as much the way out of the live table as q.
        return ExitOk;
    }

    // JSON lines go out as amplifiers first answer; the table needs them all for its widths, and a
    // file is written whole at the end, with the latest times.
    const bool toFile = !options.Output.empty();
    // With another order the lines can only go out at the end.
    const bool streamJson = options.Json && !toFile && options.Sort == TListSort::Seen;
    std::vector<std::string> printed;
    scan.Run(
        Milliseconds(options.Seconds), true,
        [&](const TTovrinData& record) {
            if (!streamJson || !AmplifierMatches(record, options.Filter)
                || std::find(printed.begin(), printed.end(), record.MacKey) != printed.end())
                return;
            printed.push_back(record.MacKey);
            const int row = scan.List().Find(record.MacKey);
            const auto seen = scan.List().Seen(row);
            context.out << JsonLine(AmplifierJson(TListedAmplifier { record, seen.First, seen.Last })) << "\n"
                        << std::flush;
        },
        interrupted);
    const AmplifierList& list = scan.List();
    std::vector<TListedAmplifier> shown;
    for (const int row : SelectRows(list, options.Filter, options.Sort).Rows)
        shown.push_back({ list.Row(row), list.Seen(row).First, list.Seen(row).Last });
    std::string text;
    if (options.Csv) {
        text = AmplifierCsv(shown);
    } else if (!options.Json) {
        std::vector<TTovrinData> records;
        for (const TListedAmplifier& amplifier : shown)
            records.push_back(amplifier.Record);
        text = AmplifierTable(records);
    } else if (!streamJson) {
        for (const TListedAmplifier& amplifier : shown)
            text += JsonLine(AmplifierJson(amplifier)) + "\n";
    }
    if (!WriteResult(context, options.Output, text))
        return ExitFailed;
    return interrupted() ? ExitInterrupted : ExitOk;
}

void AddDiscoverCommand(CLI::App& app, TCtlContext& context, int& status)
{
    auto options = std::make_shared<TDiscoverOptions>();
    auto* command
        = app.add_subcommand("discover", "Say hello every 500 ms and list the amplifiers that answer");
    command->add_option(
        "--interface", options->Interface, "Interface name (eth0) or one of its IPv4 addresses");
    command->add_option("--seconds", options->Seconds, "How long to listen")->check(CLI::Range(0.0, 86400.0));
    auto* json = command->add_flag("--json", options->Json, "One JSON object per amplifier and line");
    auto* csv = command
                    ->add_flag("--csv", options->Csv,
                        "CSV: a header row, then one row per amplifier with first and last seen")
                    ->excludes(json);
    auto* output = command->add_option(
        "-o,--output", options->Output, "Write the list to this file instead of standard output");
    command->add_option("--filter", options->Filter,
        "Only amplifiers whose MAC suffix, IP or name contains this text (any case)");
    command
        ->add_option_function<std::string>(
            "--sort", [options](const std::string& name) { ParseListSort(name, options->Sort); },
            "Order of the rows: seen (of first reply), ip, mac or name (Amp-2 before Amp-10)")
        ->check(CLI::IsMember({ "seen", "ip", "mac", "name" }))
        ->default_str("seen");
    command
        ->add_flag("--watch", options->Watch,
            "Keep a live table on the terminal until q or Ctrl+C; / types a filter, s changes the order")
        ->excludes(json)
        ->excludes(csv)
        ->excludes(output);
    command->callback([&context, &status, options] { status = RunDiscover(context, *options); });
}
