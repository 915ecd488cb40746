#pragma once
// The amplifier's command connection as the upload uses it: open the file, connect, ask for the
// version, announce the file, send its bytes, read the final reply, close. Window-free: every log
// line goes to a callback, so the whole exchange runs and is tested without a window, and the
// window and the command-line program share it. The file is read piece by piece as it is sent.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

using TUploadLog = std::function<void(const std::string& line)>;
// Bytes handed to the connection so far, of the file's size, and the seconds since the data began.
using TUploadProgress = std::function<void(uint64_t sent, uint64_t total, double seconds)>;

class TUploadStop;

struct TUploadParams {
    std::string Address; // as the user typed it; the log lines show it unchanged
    std::string SourcePath;
    int Port = 2500;
    int ConnectTimeoutMs = 1000;
    int ReplyTimeoutMs = 1000;
    // The amplifier may pause while it writes flash; only a connection that takes no data at all
    // for this long counts as stalled.
    int StallTimeoutMs = 10000;
    // Takes the SHA-256 of the data bytes as they are handed to the connection (TUploadOutcome).
    bool DigestSentBytes = false;
};

// The loader's size is a non-negative int, which also keeps the announcement within eight digits.
inline constexpr uint64_t MaxUploadSize = 0x7fffffff;
inline constexpr size_t UploadChunkSize = 65536;

enum class TUploadResult {
    Refused, // the file cannot be announced (too large, control characters in its name, no regular file)
    LoadFailed,
    ConnectFailed,
    NoReply, // no version reply, no reply to the announcement, or no final reply
    Unexpected, // the announcement was answered with something other than FILE_UPLOAD_START
    SendFailed, // the amplifier closed or stalled while the data was sent
    ReadFailed, // the file could not be read in full, or changed size while it was sent
    Stopped, // broken off through TUploadStop
    Done,
};

// What one exchange came to, beside its log.
struct TUploadOutcome {
    TUploadResult Result = TUploadResult::LoadFailed;
    uint64_t Size = 0; // the file's size, once known
    uint64_t Sent = 0; // data bytes known to have arrived
    double DataSeconds = 0; // from the first data byte to the last one acknowledged
    std::string Version; // the reply to "$$$VER?", when one came
    // With DigestSentBytes, once the file was read to its end and every byte of it handed over:
    // the lower-case hexadecimal SHA-256 of the bytes sent, which may differ from the file's now.
    std::string Sha256;
    std::string LastLine; // the log's last line before the closing "Disconnected from" line
};

// "<size> bytes in <s> s (<rate> MB/s)", MB being 10^6 bytes.
std::string DescribeTransfer(uint64_t bytes, double seconds);

// What follows the last "/" or "\\" of a path, or a drive colon ("C:name").
std::string FileNamePart(const std::string& path);
// "/tmp/" followed by the file-name part of the source path.
std::string UploadTargetPath(const std::string& sourcePath);
// "$$$FILE_UPLOAD:%08x:%s" without the line feed.
std::string UploadAnnouncement(uint32_t size, const std::string& targetPath);

// Runs one complete exchange, from opening the file to closing the connection. stop, when given,
// may break it off from another thread; outcome, when given, receives the details.
TUploadResult UploadFile(const TUploadParams& params, const TUploadLog& log,
    const TUploadProgress& progress = {}, TUploadStop* stop = nullptr, TUploadOutcome* outcome = nullptr);

enum class TSendResult { Done, Stalled, Closed, Failed };

// Writes all bytes to a (non-blocking) socket, waiting while it cannot take more. Gives up when no
// byte is taken for stallMs, or the peer is gone. sent counts the bytes handed over; error holds
// the errno of a failure. Never raises SIGPIPE.
TSendResult SendAllBytes(int socket, const void* data, size_t length, int stallMs, size_t& sent, int& error);
// Waits until the peer has acknowledged every byte written so far, so "sent" means arrived.
// Gives up as SendAllBytes does; unacknowledged then holds the bytes last seen still waiting.
TSendResult WaitUntilAcknowledged(int socket, int stallMs, int& error, uint64_t& unacknowledged);
