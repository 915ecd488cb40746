#include "upload/UploadSource.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

TSourceOpen TUploadSource::Open(const std::string& path, uint64_t maxSize)
{
    FFile.reset();
    FSize = FOffset = 0;
    FError = 0;
    struct stat info { };
    if (FCalls.Stat(path.c_str(), &info) != 0) {
        FError = errno;
        return TSourceOpen::Missing;
    }
    if (!S_ISREG(info.st_mode))
        return TSourceOpen::NotRegular;
    FSize = static_cast<uint64_t>(info.st_size);
    if (FSize > maxSize)
        return TSourceOpen::TooLarge;
    // Non-blocking, in case the path was swapped for a FIFO since the look: its open must not wait
    // for a writer. What was opened is checked again.
    FFile.reset(FCalls.Open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (!FFile) {
        FError = errno;
        return TSourceOpen::Failed;
    }
    if (fstat(FFile.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        FFile.reset();
        return TSourceOpen::NotRegular;
    }
    FSize = static_cast<uint64_t>(info.st_size);
    if (FSize > maxSize)
        return TSourceOpen::TooLarge;
    posix_fadvise(FFile.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
    return TSourceOpen::Opened;
}

TUploadSource::TRead TUploadSource::Next(char* buffer, size_t capacity, size_t& length)
{
    length = 0;
    if (!FFile) {
        FError = EBADF;
        return TRead::Failed;
    }
    if (FOffset == FSize) {
        // The announced size is all that goes out; a file that grew meanwhile is not the one announced.
        char extra = 0;
        ssize_t n;
        do
            n = pread(FFile.get(), &extra, 1, static_cast<off_t>(FSize));
        while (n < 0 && errno == EINTR);
        if (n < 0) {
            FError = errno;
            return TRead::Failed;
        }
        return n == 0 ? TRead::End : TRead::Grew;
    }
    const size_t wanted = static_cast<size_t>(std::min<uint64_t>(capacity, FSize - FOffset));
    while (length < wanted) {
        const ssize_t n
            = pread(FFile.get(), buffer + length, wanted - length, static_cast<off_t>(FOffset + length));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            FError = errno;
            return TRead::Failed;
        }
        if (n == 0)
            return TRead::Shrank;
        length += static_cast<size_t>(n);
    }
    FOffset += length;
    if (FOffset == FSize) {
        // Checked before the last piece leaves, so a grown file is never sent whole.
        size_t none = 0;
        const TRead after = Next(nullptr, 0, none);
        if (after != TRead::End) {
            FOffset -= length;
            length = 0;
            return after;
        }
    }
    return TRead::Piece;
}
