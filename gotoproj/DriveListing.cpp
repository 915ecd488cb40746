#include "gotoproj/DriveListing.h"

#include <dirent.h>
#include <fcntl.h>

#include <cerrno>
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

bool Same(const timespec& a, const timespec& b)
{
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// Time stamps of shares and of some file systems are coarse (up to two seconds), so a change
// within the tick of the stamps a listing was read under would go unnoticed. Once the same stamps
// have stood this long by our own clock, any later change gets new ones, whatever the server's
// clock says (it need not agree with ours).
constexpr std::chrono::seconds SettleTime(2);

} // namespace

FolderRead ReadFolderEntries(const std::string& folder, std::vector<FolderEntry>& entries)
{
    entries.clear();
    std::unique_ptr<DIR, CloseDir> dir(opendir(folder.c_str()));
    if (!dir)
        return FolderRead::Unreadable;
    const int dirFd = dirfd(dir.get());
    for (;;) {
        errno = 0;
        const dirent* item = readdir(dir.get());
        if (item == nullptr)
            return errno == 0 ? FolderRead::Complete : FolderRead::CutShort;
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
}

bool IsFolderEntry(const std::string& folder, const FolderEntry& entry)
{
    if (!entry.link)
        return entry.folder;
    return LeadsToFolder(AT_FDCWD, (folder + entry.name).c_str());
}

FolderListingCache::Access FolderListingCache::RealAccess()
{
    return {
        [](const std::string& folder, struct stat& info) { return stat(folder.c_str(), &info) == 0; },
        ReadFolderEntries,
        [] { return Clock::now(); },
    };
}

FolderListingCache::FolderListingCache(Access access)
    : FAccess(std::move(access))
{
}

bool FolderListingCache::SameFolderState(const Listing& listing, const struct stat& info)
{
    return listing.device == info.st_dev && listing.inode == info.st_ino
        && Same(listing.modified, info.st_mtim) && Same(listing.changed, info.st_ctim);
}

const std::vector<FolderEntry>* FolderListingCache::Entries(const std::string& folder)
{
    struct stat info { };
    if (!FAccess.Stat(folder, info) || !S_ISDIR(info.st_mode)) {
        FListings.erase(folder);
        return nullptr;
    }
    // Taken after the stat: these stamps were there at this moment at the latest.
    const Clock::time_point now = FAccess.Now();
    Clock::time_point stampsSeen = now;
    const auto found = FListings.find(folder);
    if (found != FListings.end() && SameFolderState(found->second, info)) {
        if (found->second.trusted)
            return &found->second.entries;
        stampsSeen = found->second.stampsSeen;
    }

    Listing listing;
    ++FReads;
    switch (FAccess.Read(folder, listing.entries)) {
    case FolderRead::Unreadable:
        FListings.erase(folder);
        return nullptr;
    case FolderRead::CutShort:
        FListings.erase(folder);
        FUncached = std::move(listing.entries);
        return &FUncached;
    case FolderRead::Complete:
        break;
    }
    listing.device = info.st_dev;
    listing.inode = info.st_ino;
    listing.modified = info.st_mtim;
    listing.changed = info.st_ctim;
    listing.stampsSeen = stampsSeen;
    listing.trusted = now - stampsSeen >= SettleTime;
    return &(FListings[folder] = std::move(listing)).entries;
}
