#include "platform/FolderFacts.h"

#include <dirent.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <memory>
#include <vector>

namespace platform {
namespace {

    std::string UserName(uid_t uid)
    {
        std::vector<char> buffer(16384);
        passwd entry {};
        passwd* found = nullptr;
        if (getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr)
            return found->pw_name;
        return std::to_string(uid);
    }

    std::string GroupName(gid_t gid)
    {
        std::vector<char> buffer(16384);
        group entry {};
        group* found = nullptr;
        if (getgrgid_r(gid, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr)
            return found->gr_name;
        return std::to_string(gid);
    }

    std::string ModeText(mode_t mode)
    {
        std::string text = S_ISDIR(mode) ? "d" : S_ISLNK(mode) ? "l" : "-";
        const char letters[] = "rwxrwxrwx";
        for (int bit = 0; bit < 9; ++bit)
            text += (mode & (0400 >> bit)) ? letters[bit] : '-';
        char octal[16];
        std::snprintf(octal, sizeof octal, " (%03o)", static_cast<unsigned>(mode & 07777));
        return text + octal;
    }

    struct CloseDir {
        void operator()(DIR* dir) const { closedir(dir); }
    };

} // namespace

bool ReadFolderFacts(const std::string& path, FolderFacts& facts, int& error)
{
    struct stat info { };
    if (stat(path.c_str(), &info) != 0) {
        error = errno;
        return false;
    }
    facts.owner = UserName(info.st_uid);
    facts.group = GroupName(info.st_gid);
    facts.permissions = ModeText(info.st_mode);
    tm local {};
    char when[32] = {};
    if (localtime_r(&info.st_mtim.tv_sec, &local) != nullptr)
        std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", &local);
    facts.modified = when;
    facts.entries = -1;
    if (std::unique_ptr<DIR, CloseDir> dir { opendir(path.c_str()) }) {
        facts.entries = 0;
        while (const dirent* item = readdir(dir.get())) {
            const std::string name = item->d_name;
            if (name != "." && name != "..")
                ++facts.entries;
        }
    }
    error = 0;
    return true;
}

} // namespace platform
