#pragma once
// The file an upload sends, read piece by piece so that memory use does not grow with its size.
// Only a regular file is opened (a FIFO or a device could block or never end), and a file that
// changes size while it is sent is noticed, never sent short or padded.

#include "platform/UniqueFd.h"

#include <cstddef>
#include <cstdint>
#include <string>

enum class TSourceOpen { Opened, Missing, NotRegular, TooLarge, Failed };

class TUploadSource {
public:
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
    UniqueFd FFile;
    uint64_t FSize = 0;
    uint64_t FOffset = 0;
    int FError = 0;
};
