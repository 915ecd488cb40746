#pragma once
// Reading one folder's entries, and a cache that keeps each folder's entries until the folder
// changes, so that a search on an unchanged share costs no folder reads.

#include <sys/stat.h>
#include <sys/types.h>

#include <chrono>
#include <ctime>
#include <functional>
#include <map>
#include <string>
#include <vector>

struct FolderEntry {
    std::string name;
    bool folder = false;
    bool link = false; // a symbolic link: whether it leads to a folder is asked each time
};

enum class FolderRead {
    Unreadable, // could not be opened: no entries
    CutShort, // an error ended the listing (a share that dropped midway): the entries before it
    Complete,
};

// The folder's entries in the order the file system yields them.
FolderRead ReadFolderEntries(const std::string& folder, std::vector<FolderEntry>& entries);

// Whether the entry (inside folder, which ends in "/") is a folder now; links are followed.
bool IsFolderEntry(const std::string& folder, const FolderEntry& entry);

class FolderListingCache {
public:
    using Clock = std::chrono::steady_clock;
    // How the cache looks at folders and at time: the file system and our monotonic clock, or
    // what a test puts in their place.
    struct Access {
        std::function<bool(const std::string& folder, struct stat& info)> Stat;
        std::function<FolderRead(const std::string& folder, std::vector<FolderEntry>& entries)> Read;
        std::function<Clock::time_point()> Now;
    };
    static Access RealAccess();

    explicit FolderListingCache(Access access = RealAccess());

    // The folder's entries, read again only when the folder may have changed since the last
    // read; null when it cannot be read. Valid until the next call.
    const std::vector<FolderEntry>* Entries(const std::string& folder);

    size_t Reads() const { return FReads; }

private:
    struct Listing {
        dev_t device = 0;
        ino_t inode = 0;
        timespec modified {};
        timespec changed {};
        // When these time stamps were first seen, by our clock.
        Clock::time_point stampsSeen {};
        // Read when the time stamps had stood long enough that any later change alters them.
        bool trusted = false;
        std::vector<FolderEntry> entries;
    };
    static bool SameFolderState(const Listing& listing, const struct stat& info);

    Access FAccess;
    std::map<std::string, Listing> FListings;
    // A listing that an error cut short: shown, never kept.
    std::vector<FolderEntry> FUncached;
    size_t FReads = 0;
};
