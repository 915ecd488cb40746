#include "platform/WriteFiles.h"

#include "platform/UniqueFd.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace platform {
namespace {

    int WriteAll(int fd, const std::string& bytes)
    {
        size_t written = 0;
        while (written < bytes.size()) {
            const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return n < 0 ? errno : EIO;
            written += static_cast<size_t>(n);
        }
        return 0;
    }

    int CloseChecked(UniqueFd& fd)
    {
        return ::close(fd.release()) == 0 ? 0 : errno;
    }

} // namespace

int WriteFileBytes(const std::string& path, const std::string& bytes)
{
    // A FIFO without a reader fails at once (ENXIO) instead of holding the caller.
    UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK | O_CLOEXEC, 0666));
    if (!fd)
        return errno;
    if (const int error = WriteAll(fd.get(), bytes))
        return error;
    return CloseChecked(fd);
}

int ReplaceFileBytes(const std::string& path, const std::string& bytes)
{
    std::string target = path;
    struct stat existing { };
    const bool exists = ::stat(path.c_str(), &existing) == 0;
    if (exists) {
        // Through a link the file it names is replaced, and the link stays.
        if (char* resolved = ::realpath(path.c_str(), nullptr)) {
            target = resolved;
            std::free(resolved);
        }
        if (S_ISDIR(existing.st_mode))
            return EISDIR;
    }
    const auto slash = target.rfind('/');
    std::string temporary = (slash == std::string::npos ? std::string() : target.substr(0, slash + 1)) + "."
        + target.substr(slash == std::string::npos ? 0 : slash + 1) + ".XXXXXX";
    UniqueFd fd(::mkostemp(temporary.data(), O_CLOEXEC));
    if (!fd)
        return errno;
    int error = WriteAll(fd.get(), bytes);
    if (error == 0)
        error = ::fchmod(fd.get(), exists ? (existing.st_mode & 07777) : 0644) == 0 ? 0 : errno;
    if (error == 0)
        error = ::fsync(fd.get()) == 0 ? 0 : errno;
    if (error == 0)
        error = CloseChecked(fd);
    if (error == 0)
        error = ::rename(temporary.c_str(), target.c_str()) == 0 ? 0 : errno;
    if (error != 0)
        ::unlink(temporary.c_str());
    return error;
}

int MakeFolders(const std::string& folder)
{
    for (size_t at = 1; at <= folder.size(); ++at) {
        if (at < folder.size() && folder[at] != '/')
            continue;
        const std::string part = folder.substr(0, at);
        if (::mkdir(part.c_str(), 0777) != 0 && errno != EEXIST)
            return errno;
    }
    struct stat info { };
    if (::stat(folder.c_str(), &info) != 0)
        return errno;
    return S_ISDIR(info.st_mode) ? 0 : ENOTDIR;
}

} // namespace platform
