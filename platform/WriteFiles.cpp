#include "platform/WriteFiles.h"

#include "platform/UniqueFd.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <optional>
#include <vector>

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

    // "dir/" of "dir/name", "" for a bare name.
    std::string FolderPart(const std::string& path)
    {
        const auto slash = path.rfind('/');
        return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    }

    // Where a symbolic link leads when every link on the way belongs to this process's user or to
    // root: the path of the first thing that is no link; empty when the way ends where no name can
    // be looked at (a dangling link, the pipe behind /dev/stdout). nullopt for a link that someone
    // else owns, and for a loop.
    std::optional<std::string> FollowOwnLinks(std::string path)
    {
        for (int hop = 0; hop < 40; ++hop) {
            struct stat info { };
            if (::lstat(path.c_str(), &info) != 0)
                return std::string();
            if (!S_ISLNK(info.st_mode))
                return path;
            if (info.st_uid != ::geteuid() && info.st_uid != 0)
                return std::nullopt;
            std::string target(PATH_MAX, '\0');
            const ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
            if (n <= 0)
                return std::nullopt;
            target.resize(static_cast<size_t>(n));
            path = target[0] == '/' ? target : FolderPart(path) + target;
        }
        return std::nullopt;
    }

    // A new file ".name.XXXXXX" in folder, created with mode (less the umask), named in name.
    UniqueFd CreateTemporary(int folder, const std::string& base, mode_t mode, std::string& name)
    {
        static constexpr char Letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
        // Room for the dots and the suffix within a file name's 255 bytes.
        const std::string stem = "." + base.substr(0, 240) + ".";
        for (int attempt = 0; attempt < 100; ++attempt) {
            unsigned char random[6];
            if (::getrandom(random, sizeof random, 0) != static_cast<ssize_t>(sizeof random))
                return UniqueFd();
            name = stem;
            for (const unsigned char r : random)
                name += Letters[r % (sizeof Letters - 1)];
            UniqueFd fd(
                ::openat(folder, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
            if (fd || errno != EEXIST)
                return fd;
        }
        return UniqueFd();
    }

    // What a call that fills a buffer of the size it first tells gives (a list of attribute names,
    // an attribute's value); asked again when it grew in between. nullopt with errno on failure.
    template <typename Fill> std::optional<std::string> ReadSized(Fill fill)
    {
        for (int attempt = 0; attempt < 8; ++attempt) {
            const ssize_t size = fill(nullptr, 0);
            if (size < 0)
                return std::nullopt;
            std::string bytes(static_cast<size_t>(size), '\0');
            const ssize_t n = fill(bytes.data(), bytes.size());
            if (n >= 0) {
                bytes.resize(static_cast<size_t>(n));
                return bytes;
            }
            if (errno != ERANGE)
                return std::nullopt;
        }
        return std::nullopt;
    }

    // The names of a file's extended attributes (its access ACL among them) that the process can
    // see, from listxattr's list; nullopt when they cannot be listed.
    std::optional<std::vector<std::string>> AttributeNames(const std::optional<std::string>& list)
    {
        if (!list)
            return errno == ENOTSUP ? std::optional(std::vector<std::string>()) : std::nullopt;
        std::vector<std::string> names;
        for (size_t at = 0; at < list->size();) {
            const size_t end = std::min(list->find('\0', at), list->size());
            if (end > at)
                names.push_back(list->substr(at, end - at));
            at = end + 1;
        }
        return names;
    }

    // Gives the copy at fd the old file's extended attributes, its access ACL
    // (system.posix_acl_access) among them, and takes away any it was born with that the old file
    // lacks (a folder's default ACL, say). False when one of them cannot be read or set (a file
    // the process may not read, a security label or capability it may not set): the copy would
    // give someone access the old file did not, or take some away.
    bool TakeAttributes(int fd, const char* oldPath)
    {
        const auto oldNames = AttributeNames(
            ReadSized([&](char* to, size_t size) { return ::listxattr(oldPath, to, size); }));
        const auto newNames
            = AttributeNames(ReadSized([&](char* to, size_t size) { return ::flistxattr(fd, to, size); }));
        if (!oldNames || !newNames)
            return false;
        for (const std::string& name : *newNames) {
            if (std::find(oldNames->begin(), oldNames->end(), name) == oldNames->end()
                && ::fremovexattr(fd, name.c_str()) != 0)
                return false;
        }
        for (const std::string& name : *oldNames) {
            // A hash or signature of the content (integrity measurement) belongs to the old bytes;
            // the kernel keeps it for a file written in place.
            if (name == "security.ima" || name == "security.evm")
                return false;
            const auto value = ReadSized(
                [&](char* to, size_t size) { return ::getxattr(oldPath, name.c_str(), to, size); });
            if (!value || ::fsetxattr(fd, name.c_str(), value->data(), value->size(), 0) != 0)
                return false;
        }
        return true;
    }

    // The old file's owner, group, extended attributes and mode on the copy at fd, in that order:
    // a change of owner clears set-id bits and a file capability, and with an ACL the mode's group
    // bits are its mask, which the ACL must be there to take. False when the owner, the group or
    // an attribute cannot be kept: the copy would change who may read the file.
    bool TakeOwnerAttributesAndMode(int fd, const char* oldPath, const struct stat& old)
    {
        if (::fchown(fd, old.st_uid, old.st_gid) != 0)
            return false;
        if (!TakeAttributes(fd, oldPath))
            return false;
        return ::fchmod(fd, old.st_mode & 07777) == 0;
    }

    // Writes the old file itself, as an editor does where a replacement would split its names or
    // cannot be made or cannot keep who may read it. The new size is reserved first: when the disk
    // cannot take it, nothing is touched.
    int RewriteInPlace(const std::string& target, const std::string& bytes, const struct stat& old)
    {
        // Read and write where allowed: the C library's reservation reads where the file system
        // cannot reserve by itself.
        UniqueFd fd(::open(target.c_str(), O_RDWR | O_NOCTTY | O_NOFOLLOW | O_CLOEXEC));
        if (!fd && errno == EACCES)
            fd.reset(::open(target.c_str(), O_WRONLY | O_NOCTTY | O_NOFOLLOW | O_CLOEXEC));
        if (!fd)
            return errno;
        struct stat info { };
        if (::fstat(fd.get(), &info) != 0)
            return errno;
        // Another file under the name meanwhile: it is not the one meant.
        if (!S_ISREG(info.st_mode) || info.st_dev != old.st_dev || info.st_ino != old.st_ino)
            return EAGAIN;
        if (!bytes.empty()) {
            if (const int error = ::posix_fallocate(fd.get(), 0, static_cast<off_t>(bytes.size()))) {
                // A reservation cut short may have lengthened the file with zeros.
                if (::ftruncate(fd.get(), info.st_size) != 0) {
                    // The error that stopped the save is the one to tell.
                }
                return error;
            }
        }
        int error = WriteAll(fd.get(), bytes);
        if (error == 0 && ::ftruncate(fd.get(), static_cast<off_t>(bytes.size())) != 0)
            error = errno;
        if (error == 0 && ::fsync(fd.get()) != 0)
            error = errno;
        if (error == 0)
            error = CloseChecked(fd);
        return error;
    }

    // Whether a failure to make or name the copy means the folder is closed to the process (not
    // writable, or sticky and the file someone else's), where the file itself is still writable.
    bool FolderClosed(int error)
    {
        return error == EACCES || error == EPERM;
    }

    // Through a temporary file beside the target and a rename: a failure leaves the old file whole.
    // old is the file replaced, null for a new one. Written in place instead where that is the way
    // to keep the file's other names, its owner, its attributes, or where the folder is closed.
    int ReplaceRegular(const std::string& target, const std::string& bytes, const struct stat* old)
    {
        if (old != nullptr && ::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0)
            return errno;
        if (old != nullptr && old->st_nlink > 1)
            return RewriteInPlace(target, bytes, *old);
        const std::string folderPath = FolderPart(target);
        const std::string base = target.substr(folderPath.size());
        const char* folderName = folderPath.empty() ? "." : folderPath.c_str();
        UniqueFd folder(::open(folderName, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        // A folder that may be written but not listed (a drop box) takes the file all the same,
        // though it cannot be synced.
        const bool syncable = static_cast<bool>(folder);
        if (!syncable)
            folder.reset(::open(folderName, O_PATH | O_DIRECTORY | O_CLOEXEC));
        if (!folder)
            return errno;
        std::string temporary;
        // An existing file's copy stays private until it has the old file's owner and mode.
        UniqueFd fd = CreateTemporary(folder.get(), base, old != nullptr ? 0600 : 0666, temporary);
        if (!fd)
            return old != nullptr && FolderClosed(errno) ? RewriteInPlace(target, bytes, *old) : errno;
        // After the bytes: writing clears set-id bits and a file capability.
        int error = WriteAll(fd.get(), bytes);
        bool inPlace = false;
        if (error == 0 && old != nullptr)
            inPlace = !TakeOwnerAttributesAndMode(fd.get(), target.c_str(), *old);
        if (error == 0 && !inPlace)
            error = ::fsync(fd.get()) == 0 ? 0 : errno;
        if (error == 0 && !inPlace)
            error = CloseChecked(fd);
        if (error == 0 && !inPlace) {
            error = ::renameat(folder.get(), temporary.c_str(), folder.get(), base.c_str()) == 0 ? 0 : errno;
            inPlace = old != nullptr && FolderClosed(error);
        }
        if (error != 0 || inPlace) {
            ::unlinkat(folder.get(), temporary.c_str(), 0);
            return inPlace ? RewriteInPlace(target, bytes, *old) : error;
        }
        // The new name lasts a power cut only once the folder is on disk too.
        if (syncable && ::fsync(folder.get()) != 0 && errno != EINVAL)
            return errno;
        return 0;
    }

    // As `cat > path` would: a FIFO waits for its reader, a device takes the bytes.
    int WriteInPlace(const std::string& path, const std::string& bytes)
    {
        UniqueFd fd(::open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC));
        if (!fd)
            return errno;
        struct stat info { };
        if (::fstat(fd.get(), &info) != 0)
            return errno;
        // Made a regular file meanwhile: writing into it in place could leave it half old.
        if (!S_ISFIFO(info.st_mode) && !S_ISCHR(info.st_mode))
            return EAGAIN;
        if (const int error = WriteAll(fd.get(), bytes))
            return error;
        return CloseChecked(fd);
    }

} // namespace

int ReplaceFileBytes(const std::string& path, const std::string& bytes, TStreamTarget stream)
{
    struct stat info { };
    if (::lstat(path.c_str(), &info) != 0)
        return errno == ENOENT ? ReplaceRegular(path, bytes, nullptr) : errno;
    std::string target = path;
    if (S_ISLNK(info.st_mode)) {
        const auto followed = FollowOwnLinks(path);
        if (!followed)
            return ReplaceRegular(path, bytes, nullptr);
        if (::stat(path.c_str(), &info) != 0) {
            if (errno == ENOENT || errno == ENOTDIR)
                return ReplaceRegular(path, bytes, nullptr);
            return errno;
        }
        if (!followed->empty())
            target = *followed;
        else if (S_ISREG(info.st_mode))
            return ENOENT; // a file without a name (a deleted one behind /proc/self/fd)
    }
    if (S_ISREG(info.st_mode))
        return ReplaceRegular(target, bytes, &info);
    if (S_ISDIR(info.st_mode))
        return EISDIR;
    if ((S_ISFIFO(info.st_mode) || S_ISCHR(info.st_mode)) && stream == TStreamTarget::WriteInPlace)
        return WriteInPlace(target, bytes);
    return NotRegularFileError;
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
