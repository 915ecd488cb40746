#include "support/SmallDisk.h"

#include <sched.h>
#include <sys/mount.h>

#include <cerrno>
#include <cstring>

SmallDisk::SmallDisk(const std::string& at, const std::string& size)
    : FAt(at)
{
    if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0
        || ::mount("tovrin-full", at.c_str(), "tmpfs", 0, ("size=" + size).c_str()) != 0)
        FRefused = std::string("no mount namespace of its own here: ") + std::strerror(errno);
}

SmallDisk::~SmallDisk()
{
    if (FRefused.empty())
        ::umount2(FAt.c_str(), MNT_DETACH);
}
