#include "ctl/Rollout.h"

#include "ctl/CtlOutput.h"
#include "upload/UploadStop.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

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
    // One stop and one byte counter per amplifier; the workers write only their own.
    std::vector<TUploadStop> stops(count);
    const auto sentBy = std::make_unique<std::atomic<uint64_t>[]>(count);

    std::mutex mutex;
    std::condition_variable changed;
    std::deque<size_t> ended; // guarded by mutex
    size_t next = 0; // guarded by mutex: the next target to start
    bool startNoMore = false; // guarded by mutex

    const auto work = [&] {
        for (;;) {
            size_t i = 0;
            {
                std::lock_guard lock(mutex);
                if (startNoMore || next >= count)
                    return;
                i = next++;
            }
            TUploadParams params = settings.Upload;
            params.Address = targets[i].IP;
            params.SourcePath = settings.SourcePath;
            params.DigestSentBytes = true;
            TUploadOutcome outcome;
            const auto started = std::chrono::steady_clock::now();
            UploadFile(
                params, [](const std::string&) {},
                [&, i](uint64_t sent, uint64_t, double) { sentBy[i] = sent; }, &stops[i], &outcome);
            TAuditRecord& record = records[i];
            record.Seconds
                = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
            record.Time = IsoTimeUtc(std::chrono::system_clock::now());
            // The file may have been replaced since the rollout looked at it: what this upload found
            // and sent, which only counts when it is the file announced.
            record.Size = outcome.Size;
            if (!outcome.Sha256.empty())
                record.Sha256 = outcome.Sha256;
            record.Version = outcome.Version;
            record.Ok = outcome.Result == TUploadResult::Done;
            record.LastLine = outcome.LastLine;
            if (record.Ok && (outcome.Size != settings.Size || outcome.Sha256 != settings.Sha256)) {
                record.Ok = false;
                record.LastLine = SourceChangedLine;
            }
            std::lock_guard lock(mutex);
            ended.push_back(i);
            changed.notify_one();
        }
    };

    std::vector<std::thread> workers;
    const size_t parallel = std::clamp<size_t>(
        static_cast<size_t>(std::max(1, settings.Parallel)), 1, std::max<size_t>(count, 1));
    for (size_t w = 0; w < parallel && w < count; ++w)
        workers.emplace_back(work);

    size_t endedCount = 0;
    bool brokenOff = false;
    while (endedCount < count) {
        std::deque<size_t> now;
        bool allStartedEnded = false;
        {
            std::unique_lock lock(mutex);
            changed.wait_for(lock, std::chrono::milliseconds(100), [&] { return !ended.empty(); });
            now.swap(ended);
            const int asked = interrupts ? interrupts() : 0;
            if (asked >= 1)
                startNoMore = true;
            if (asked >= 2 && !brokenOff) {
                brokenOff = true;
                for (size_t i = 0; i < next; ++i)
                    stops[i].Request();
            }
            allStartedEnded = startNoMore && endedCount + now.size() == next;
        }
        for (const size_t i : now) {
            ++endedCount;
            if (onEnd)
                onEnd(records[i]);
        }
        if (onTick) {
            uint64_t sent = 0;
            for (size_t i = 0; i < count; ++i)
                sent += sentBy[i].load();
            onTick(sent, endedCount);
        }
        if (allStartedEnded)
            break;
    }
    for (auto& worker : workers)
        worker.join();

    // The rest were never started.
    for (size_t i = next; i < count; ++i) {
        records[i].Time = IsoTimeUtc(std::chrono::system_clock::now());
        records[i].LastLine = NotStartedLine;
        if (onEnd)
            onEnd(records[i]);
    }
    return records;
}
