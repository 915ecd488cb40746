#include "gotoproj/DriveListing.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <memory>

namespace {

struct CloseDir {
    void operator()(DIR* dir) const { closedir(dir); }
};

bool LeadsToFolder(int dirFd, const char* name)
{
    struct stat info { };
    return fstatat(dirFd, name, &info, 0) == 0 && S_ISDIR(info.st_mode);
}

bool Before(const timespec& a, const timespec& b)
{
    return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec < b.tv_nsec);
}

bool Same(const timespec& a, const timespec& b)
{
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// Time stamps of shares and of some file systems are coarse (up to two seconds), and a folder may
// change within the same tick in which it was read; a listing is trusted only when the folder's
// last change lies this far before the read began.
constexpr time_t SettleSeconds = 2;

} // namespace

bool ReadFolderEntries(const std::string& folder, std::vector<FolderEntry>& entries)
{
    entries.clear();
    std::unique_ptr<DIR, CloseDir> dir(opendir(folder.c_str()));
    if (!dir)
        return false;
    const int dirFd = dirfd(dir.get());
    while (const dirent* item = readdir(dir.get())) {
        FolderEntry entry;
        entry.name = item->d_name;
        switch (item->d_type) {
        case DT_DIR:
            entry.folder = true;
            break;
        case DT_LNK:
            entry.link = true;
            break;
        case DT_UNKNOWN: {
            struct stat info { };
            if (fstatat(dirFd, item->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0) {
                entry.folder = S_ISDIR(info.st_mode);
                entry.link = S_ISLNK(info.st_mode);
            }
            break;
        }
        default:
            break;
        }
        entries.push_back(std::move(entry));
    }
    return true;
}

bool IsFolderEntry(const std::string& folder, const FolderEntry& entry)
{
    if (!entry.link)
        return entry.folder;
    return LeadsToFolder(AT_FDCWD, (folder + entry.name).c_str());
}

const std::vector<FolderEntry>* FolderListingCache::Entries(const std::string& folder)
{
    struct stat info { };
    if (stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        FListings.erase(folder);
        return nullptr;
    }
    auto found = FListings.find(folder);
    if (found != FListings.end()) {
        const Listing& listing = found->second;
        if (!listing.unsettled && listing.device == info.st_dev && listing.inode == info.st_ino
            && Same(listing.modified, info.st_mtim) && Same(listing.changed, info.st_ctim))
            return &listing.entries;
    }

    timespec readStart {};
    clock_gettime(CLOCK_REALTIME, &readStart);
    Listing listing;
    ++FReads;
    if (!ReadFolderEntries(folder, listing.entries)) {
        FListings.erase(folder);
        return nullptr;
    }
    listing.device = info.st_dev;
    listing.inode = info.st_ino;
    listing.modified = info.st_mtim;
    listing.changed = info.st_ctim;
    timespec settled = readStart;
    settled.tv_sec -= SettleSeconds;
    listing.unsettled = !Before(info.st_mtim, settled);
    return &(FListings[folder] = std::move(listing)).entries;
}
