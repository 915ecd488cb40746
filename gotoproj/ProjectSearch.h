#pragma once
// The search for project folders on the shared drive, and the rule that reads a project or serial
// number out of a text. Window-free: the finder dialog shows what these return.

#include <array>
#include <functional>
#include <string>
#include <vector>

// One of the five look-ups: the folders directly inside folder (ending in "/") whose names match
// nameMask ("*" any run of characters, "?" one character, letters without regard to case).
struct ProjectSearchMask {
    std::string folder;
    std::string nameMask;
};

// The drive folder that stands for "P:": $TOVRIN_PROJECT_DRIVE when set and not empty, else /mnt/p.
std::string ProjectDriveRoot();

// The five look-ups for a pattern, in the order their results are listed: production 20YY and
// 19YY, the firmware work folder, firmware archive 20YY and 19YY (YY: the pattern's first two
// characters after trimming).
std::array<ProjectSearchMask, 5> ProjectSearchMasks(const std::string& pattern, const std::string& driveRoot);

bool WildcardMatch(const std::string& name, const std::string& mask);

// The matching folders, each a full path with a trailing "/", in mask order and, within a mask, in
// the order the file system lists them. Missing or unreadable folders contribute nothing.
std::vector<std::string> SearchProjectFolders(const std::string& pattern, const std::string& driveRoot);

class FolderListingCache;
// The same entries from the cache's listings. cancelled is asked before each folder; when it says
// yes the search stops and returns false.
bool SearchProjectFolders(const std::string& pattern, const std::string& driveRoot, FolderListingCache& cache,
    std::vector<std::string>& found, const std::function<bool()>& cancelled = {});

// The run of at least six digits, optionally followed by letters, in the text's last component
// ("/" and "\\" both begin a new component); fewer digits when the text ends before the sixth.
std::string ExtractProjectNumber(const std::string& text);
// The number of a found folder: its path without the final separator, so that a folder named
// only by its number still gives that number.
std::string ProjectNumberOfPath(const std::string& path);

// The lower-case extension of the path's last component from its last dot on; empty for a
// folder path, which ends in "/".
std::string ExtensionKey(const std::string& path);
// The path up to and including its last "/" (the path itself for a folder path).
std::string FolderPart(const std::string& path);
