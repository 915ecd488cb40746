#pragma once
// What the file system says about one folder, for a properties view.

#include <string>

namespace platform {

struct FolderFacts {
    std::string owner; // user name, or the number when it has no name
    std::string group; // likewise
    std::string permissions; // "drwxr-xr-x (755)"
    std::string modified; // local time, "YYYY-MM-DD HH:MM:SS"
    long entries = -1; // entries inside, "." and ".." left out; -1 when it cannot be read
};

// false with errno's code in error when the path cannot be queried.
bool ReadFolderFacts(const std::string& path, FolderFacts& facts, int& error);

} // namespace platform
