#pragma once
// Asking amplifiers for their version ("$$$VER?") over the command connection, many at a time. An
// amplifier cannot hold up more than its own exchange: the connection and the reply each have a
// deadline for the whole of them (not per byte), and the reply line is at most MaxVersionLine
// bytes.

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

inline constexpr size_t MaxVersionLine = 255;

enum class TVersionError {
    None,
    UnknownHost,
    Refused, // the connection failed at once (refused, unreachable)
    ConnectTimedOut,
    TimedOut, // connected, but no whole line within the time-out
    Closed, // the amplifier closed before ending its line
    TooLong, // more than MaxVersionLine bytes without a line feed
    NotAsked, // interrupted before its turn
    NotIPv4, // a discovered amplifier's IP field is no dotted IPv4 address: never looked up nor asked
};
// "refused", "timed out", "closed", ... : the error column's words; empty for None.
const char* VersionErrorText(TVersionError error);

struct TVersionAnswer {
    TVersionError Error = TVersionError::NotAsked;
    std::string Version; // VersionOfLine of the reply
};

// The version a reply line carries: every byte of it but its ending, LF or CR LF (line holds what
// came before the LF). Other blanks stay exactly as they came.
std::string VersionOfLine(std::string line);

struct TVersionParams {
    int Port = 2500;
    int ConnectTimeoutMs = 1000;
    int ReplyTimeoutMs = 1000;
};

// One exchange: connect, send "$$$VER?\n", read one line, close.
TVersionAnswer AskVersion(const std::string& host, const TVersionParams& params);

// Reads one line from a non-blocking socket until the line feed, at most maxBytes before it, all
// within ms from the call. The line feed is not stored.
TVersionError ReadBoundedLine(int socket, std::string& line, int ms, size_t maxBytes);

// Asks every host, parallel at a time, and returns the answers in the order of hosts. onAnswer is
// told on the calling thread as each one ends, with its index. Once stop holds (checked about
// every 100 ms) no further exchange starts; those left are NotAsked.
std::vector<TVersionAnswer> AskVersions(const std::vector<std::string>& hosts, const TVersionParams& params,
    int parallel, const std::function<void(size_t index, const TVersionAnswer& answer)>& onAnswer,
    const std::function<bool()>& stop = {});
