#include "ctl/Commands.h"

#include "ctl/CtlCommon.h"
#include "ctl/CtlOutput.h"
#include "text/Strtools.h"
#include "upload/Upload.h"
#include "upload/UploadStop.h"

#include <CLI/CLI.hpp>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <ostream>
#include <thread>

using Clock = std::chrono::steady_clock;

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

void AddUploadCommand(CLI::App& app, TCtlContext& context, int& status)
{
    auto options = std::make_shared<TUploadCommandOptions>();
    auto* command = app.add_subcommand("upload", "Upload a file to an amplifier's /tmp/");
    command->add_option("HOST", options->Host, "Address or host name")->required();
    command->add_option("FILE", options->File, "The file to send")->required();
    command->add_flag("-v,--verbose", options->Verbose, "Print the exchange's log lines");
    command->callback([&context, &status, options] { status = RunUpload(context, *options); });
}
