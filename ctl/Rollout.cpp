#include "ctl/Rollout.h"

#include "ctl/CtlOutput.h"
#include "ctl/VersionQuery.h"
#include "ctl/WorkerPool.h"
#include "upload/UploadStop.h"

#include <atomic>
#include <chrono>
#include <memory>

nlohmann::json AuditJson(const TAuditRecord& r)
{
    return { { "time", r.Time }, { "mac", JsonText(r.Mac) }, { "ip", JsonText(r.IP) },
        { "name", JsonText(r.Name) }, { "file", JsonText(r.File) }, { "size", r.Size },
        { "sha256", r.Sha256 }, { "version", JsonText(r.Version) },
        { "result", r.Ok ? "ok" : (r.Skipped ? "skipped" : "failed") }, { "seconds", r.Seconds },
        { "last_line", JsonText(r.LastLine) } };
}

std::vector<TAuditRecord> TRollout::Run(const std::vector<TRolloutTarget>& targets,
    const TRolloutSettings& settings, const EndHandler& onEnd, const TickHandler& onTick,
    const InterruptCount& interrupts)
{
    const size_t count = targets.size();
    std::vector<TAuditRecord> records(count);
    for (size_t i = 0; i < count; ++i) {
        records[i].Mac = targets[i].Mac;
        records[i].IP = targets[i].IP;
        records[i].Name = targets[i].Name;
        records[i].File = FileNamePart(settings.SourcePath);
        records[i].Sha256 = settings.Sha256;
        records[i].Size = settings.Size;
    }
    // One stop and one byte counter per amplifier; the jobs write only their own.
    std::vector<TUploadStop> stops(count);
    const auto sentBy = std::make_unique<std::atomic<uint64_t>[]>(count);

    const auto upload = [&](size_t i) {
        TUploadParams params = settings.Upload;
        params.Address = targets[i].IP;
        params.SourcePath = settings.SourcePath;
        params.DigestSentBytes = true;
        TUploadOutcome outcome;
        const auto started = std::chrono::steady_clock::now();
        UploadFile(
            params, [](const std::string&) {}, [&, i](uint64_t sent, uint64_t, double) { sentBy[i] = sent; },
            &stops[i], &outcome);
        TAuditRecord& record = records[i];
        record.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        record.Time = IsoTimeUtc(std::chrono::system_clock::now());
        // The file may have been replaced since the rollout looked at it: what this upload found
        // and sent, which only counts when it is the file announced.
        record.Size = outcome.Size;
        if (!outcome.Sha256.empty())
            record.Sha256 = outcome.Sha256;
        record.Version = VersionOfLine(outcome.Version);
        record.Ok = outcome.Result == TUploadResult::Done;
        record.LastLine = outcome.LastLine;
        if (record.Ok && (outcome.Size != settings.Size || outcome.Sha256 != settings.Sha256)) {
            record.Ok = false;
            record.LastLine = SourceChangedLine;
        }
    };

    size_t endedCount = 0;
    bool brokenOff = false;
    TWorkerPoolHooks hooks;
    hooks.Ended = [&](size_t i) {
        ++endedCount;
        if (onEnd)
            onEnd(records[i]);
    };
    hooks.Tick = [&] {
        if (!onTick)
            return;
        uint64_t sent = 0;
        for (size_t i = 0; i < count; ++i)
            sent += sentBy[i].load();
        onTick(sent, endedCount);
    };
    hooks.StartNoMore = [&] {
        const int asked = interrupts ? interrupts() : 0;
        if (asked >= 2 && !brokenOff) {
            brokenOff = true;
            for (TUploadStop& stop : stops) // those never started never look
                stop.Request();
        }
        return asked >= 1;
    };
    const size_t started = RunWorkerPool(count, settings.Parallel, upload, hooks);

    // The rest were never started.
    for (size_t i = started; i < count; ++i) {
        records[i].Time = IsoTimeUtc(std::chrono::system_clock::now());
        records[i].LastLine = NotStartedLine;
        if (onEnd)
            onEnd(records[i]);
    }
    return records;
}
