#include "ctl/Commands.h"

#include "ctl/CtlCommon.h"
#include "ctl/CtlOutput.h"
#include "platform/HostInfo.h"
#include "platform/WriteFiles.h"
#include "text/Strtools.h"

#include <CLI/CLI.hpp>

#include <algorithm>
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
    command->add_flag("--watch", options->Watch, "Keep a live table on the terminal until Ctrl+C")
        ->excludes(json)
        ->excludes(csv)
        ->excludes(output);
    command->callback([&context, &status, options] { status = RunDiscover(context, *options); });
}
