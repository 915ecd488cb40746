#pragma once
// The file an upload sends, read piece by piece so that memory use does not grow with its size.
// Only a regular file is opened (a FIFO or a device could block or never end), and a file that
// changes size while it is sent is noticed, never sent short or padded.

#include "platform/UniqueFd.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

enum class TSourceOpen { Opened, Missing, NotRegular, TooLarge, Failed };

// How the source is looked at and opened: the system's calls, unless a test swaps the file
// between the two.
struct TSourceCalls {
    std::function<int(const char* path, struct stat* info)> Stat
        = [](const char* path, struct stat* info) { return ::stat(path, info); };
    std::function<int(const char* path, int flags)> Open
        = [](const char* path, int flags) { return ::open(path, flags); };
};

class TUploadSource {
public:
    explicit TUploadSource(TSourceCalls calls = {})
        : FCalls(std::move(calls))
    {
    }

    // Looks at the path first and opens it only when it names a regular file of at most maxSize
    // bytes. Size() is known from then on (also for TooLarge).
    TSourceOpen Open(const std::string& path, uint64_t maxSize);

    uint64_t Size() const { return FSize; }
    uint64_t Offset() const { return FOffset; }

    enum class TRead { Piece, End, Shrank, Grew, Failed };
    // Reads the next piece of at most capacity bytes into buffer (length receives its size).
    // End once Size() bytes were read. Before the last piece is handed out, the file is checked
    // for having grown; Shrank when it ends early. Failed leaves the errno in Error().
    TRead Next(char* buffer, size_t capacity, size_t& length);
    int Error() const { return FError; }

private:
    TSourceCalls FCalls;
    UniqueFd FFile;
    uint64_t FSize = 0;
    uint64_t FOffset = 0;
    int FError = 0;
};
