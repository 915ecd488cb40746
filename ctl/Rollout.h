#pragma once
// One file to many amplifiers, N uploads at a time, each the window's upload exchange. Every
// amplifier ends with an audit record; an interrupted rollout starts no further upload, and a
// second interrupt breaks off the running ones.

#include "upload/Upload.h"

#include <nlohmann/json.hpp>

#include <functional>
#include <string>
#include <vector>

struct TRolloutTarget {
    std::string Mac; // empty when the amplifier was given by address
    std::string IP;
    std::string Name;
};

struct TAuditRecord {
    std::string Time; // ISO 8601, UTC, when the amplifier's upload ended
    std::string Mac;
    std::string IP;
    std::string Name;
    std::string File; // the file's name as announced
    uint64_t Size = 0; // the file's size as the upload found it
    // Of the bytes the upload sent, once it sent the whole file; before, the announced file's.
    std::string Sha256;
    std::string Version; // the reply to "$$$VER?"
    bool Ok = false;
    bool Skipped = false; // not uploaded to: it already reported the version asked to skip
    double Seconds = 0;
    std::string LastLine; // how the exchange ended: its last log line before "Disconnected from"
};

nlohmann::json AuditJson(const TAuditRecord& record);

struct TRolloutSettings {
    std::string SourcePath;
    std::string Sha256;
    uint64_t Size = 0;
    int Parallel = 8;
    TUploadParams Upload; // port and time limits; address and source are set per amplifier
};

class TRollout {
public:
    // Told on the calling thread as each amplifier ends (and for those never started).
    using EndHandler = std::function<void(const TAuditRecord& record)>;
    // Told on the calling thread about every 100 ms: data bytes sent so far over all amplifiers,
    // and how many ended.
    using TickHandler = std::function<void(uint64_t sent, size_t ended)>;
    // How many interrupts arrived: 1 starts nothing new, 2 breaks off the running uploads.
    using InterruptCount = std::function<int()>;

    // Returns the records in the order of targets.
    std::vector<TAuditRecord> Run(const std::vector<TRolloutTarget>& targets,
        const TRolloutSettings& settings, const EndHandler& onEnd, const TickHandler& onTick,
        const InterruptCount& interrupts);
};

// The line a record of an amplifier that was never started carries.
inline constexpr const char* NotStartedLine = "Not started: the rollout was interrupted.";
// The line of an upload that sent other bytes than the file announced (replaced meanwhile).
inline constexpr const char* SourceChangedLine = "Source changed: the bytes sent are not the file announced.";
// The line of a record of an amplifier that already reported the version a rollout skips.
inline constexpr const char* SkippedLine = "Skipped: it reports the version asked to skip.";
