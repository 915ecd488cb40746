#pragma once
// Reading one folder's entries, and a cache that keeps each folder's entries until the folder
// changes, so that a search on an unchanged share costs no folder reads.

#include <sys/types.h>

#include <ctime>
#include <map>
#include <string>
#include <vector>

struct FolderEntry {
    std::string name;
    bool folder = false;
    bool link = false; // a symbolic link: whether it leads to a folder is asked each time
};

// The folder's entries in the order the file system yields them; false when it cannot be read.
bool ReadFolderEntries(const std::string& folder, std::vector<FolderEntry>& entries);

// Whether the entry (inside folder, which ends in "/") is a folder now; links are followed.
bool IsFolderEntry(const std::string& folder, const FolderEntry& entry);

class FolderListingCache {
public:
    // The folder's entries, read again only when the folder has changed since the last read; null
    // when it cannot be read. Valid until the next call.
    const std::vector<FolderEntry>* Entries(const std::string& folder);

    size_t Reads() const { return FReads; }

private:
    struct Listing {
        dev_t device = 0;
        ino_t inode = 0;
        timespec modified {};
        timespec changed {};
        // Read while the folder's time stamps were too recent to tell a later change apart.
        bool unsettled = true;
        std::vector<FolderEntry> entries;
    };
    std::map<std::string, Listing> FListings;
    size_t FReads = 0;
};
