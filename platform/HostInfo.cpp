#include "platform/HostInfo.h"

#include <netdb.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstring>

namespace platform {

std::string CanonicalHostName()
{
    char name[HOST_NAME_MAX + 1] = {};
    if (gethostname(name, sizeof name - 1) != 0)
        return {};
    addrinfo hints {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_flags = AI_CANONNAME;
    addrinfo* found = nullptr;
    if (getaddrinfo(name, nullptr, &hints, &found) != 0 || found == nullptr)
        return name;
    std::string canonical = found->ai_canonname != nullptr ? found->ai_canonname : name;
    freeaddrinfo(found);
    return canonical;
}

std::string DnsDomainOf(const std::string& hostName)
{
    const auto dot = hostName.find('.');
    if (dot == std::string::npos)
        return {};
    return hostName.substr(dot + 1);
}

uint32_t TickCount()
{
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

std::string ExecutableFolder()
{
    char path[PATH_MAX + 1] = {};
    const ssize_t length = ::readlink("/proc/self/exe", path, PATH_MAX);
    if (length <= 0)
        return {};
    std::string folder(path, static_cast<size_t>(length));
    const auto slash = folder.rfind('/');
    return slash == std::string::npos ? std::string() : folder.substr(0, slash);
}

} // namespace platform
