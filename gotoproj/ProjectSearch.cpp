#include "gotoproj/ProjectSearch.h"

#include "gotoproj/DriveListing.h"
#include "text/Strtools.h"

#include <cstdlib>

namespace {

char LowerAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Where the character starting at at ends: "?" stands for a whole UTF-8 character, not one byte.
size_t NextCharacter(const std::string& text, size_t at)
{
    ++at;
    while (at < text.size() && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80)
        ++at;
    return at;
}

} // namespace

std::string ProjectDriveRoot()
{
    const char* root = std::getenv("TOVRIN_PROJECT_DRIVE");
    return (root != nullptr && *root != '\0') ? std::string(root) : std::string("/mnt/p");
}

std::array<ProjectSearchMask, 5> ProjectSearchMasks(const std::string& pattern, const std::string& driveRoot)
{
    std::string drive = driveRoot;
    while (drive.size() > 1 && drive.back() == '/')
        drive.pop_back();
    if (drive != "/")
        drive += '/';
    const std::string p = TrimText(pattern);
    const std::string yy = p.substr(0, 2);
    const std::string nameMask = "*" + p + "*";
    return { {
        { drive + "Produktion/20" + yy + "/", nameMask },
        { drive + "Produktion/19" + yy + "/", nameMask },
        { drive + "Firmware/Work/", nameMask },
        { drive + "Firmware/Archiv20" + yy + "/", nameMask },
        { drive + "Firmware/Archiv19" + yy + "/", nameMask },
    } };
}

bool WildcardMatch(const std::string& name, const std::string& mask)
{
    // Greedy match with one back-up point: the last "*" and the name position it may stretch to.
    size_t n = 0;
    size_t m = 0;
    size_t starMask = std::string::npos;
    size_t starName = 0;
    while (n < name.size()) {
        if (m < mask.size() && mask[m] == '*') {
            starMask = ++m;
            starName = n;
        } else if (m < mask.size() && mask[m] == '?') {
            n = NextCharacter(name, n);
            ++m;
        } else if (m < mask.size() && LowerAscii(mask[m]) == LowerAscii(name[n])) {
            ++n;
            ++m;
        } else if (starMask != std::string::npos) {
            m = starMask;
            n = starName = NextCharacter(name, starName);
        } else {
            return false;
        }
    }
    while (m < mask.size() && mask[m] == '*')
        ++m;
    return m == mask.size();
}

static void AppendMatches(
    const ProjectSearchMask& mask, const std::vector<FolderEntry>& entries, std::vector<std::string>& found)
{
    for (const FolderEntry& entry : entries)
        if (WildcardMatch(entry.name, mask.nameMask) && IsFolderEntry(mask.folder, entry))
            found.push_back(mask.folder + entry.name + "/");
}

std::vector<std::string> SearchProjectFolders(const std::string& pattern, const std::string& driveRoot)
{
    std::vector<std::string> found;
    std::vector<FolderEntry> entries;
    for (const ProjectSearchMask& mask : ProjectSearchMasks(pattern, driveRoot))
        if (ReadFolderEntries(mask.folder, entries) != FolderRead::Unreadable)
            AppendMatches(mask, entries, found);
    return found;
}

bool SearchProjectFolders(const std::string& pattern, const std::string& driveRoot, FolderListingCache& cache,
    std::vector<std::string>& found, const std::function<bool()>& cancelled)
{
    found.clear();
    for (const ProjectSearchMask& mask : ProjectSearchMasks(pattern, driveRoot)) {
        if (cancelled && cancelled())
            return false;
        if (const std::vector<FolderEntry>* entries = cache.Entries(mask.folder))
            AppendMatches(mask, *entries, found);
    }
    return true;
}

std::string ExtractProjectNumber(const std::string& text)
{
    std::string result;
    size_t count = 0;
    for (const char c : text) {
        if (c == '\\' || c == '/') {
            result.clear();
            count = 0;
        } else if (c >= '0' && c <= '9') {
            result += c;
            ++count;
        } else if (count > 5) {
            if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')))
                break;
            result += c;
            ++count;
        }
    }
    return result;
}

std::string ProjectNumberOfPath(const std::string& path)
{
    std::string withoutSeparator = path;
    if (!withoutSeparator.empty() && (withoutSeparator.back() == '/' || withoutSeparator.back() == '\\'))
        withoutSeparator.pop_back();
    return ExtractProjectNumber(withoutSeparator);
}

std::string ExtensionKey(const std::string& path)
{
    const size_t slash = path.rfind('/');
    const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    const size_t dot = path.rfind('.');
    if (dot == std::string::npos || dot < nameStart)
        return {};
    std::string key = path.substr(dot);
    for (char& c : key)
        c = LowerAscii(c);
    return key;
}

std::string FolderPart(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}
