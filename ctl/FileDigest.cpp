#include "ctl/FileDigest.h"

#include "platform/Sha256.h"
#include "platform/UniqueFd.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

std::string Sha256OfFile(const std::string& path, std::string& error)
{
    UniqueFd file(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!file) {
        error = std::strerror(errno);
        return {};
    }
    TSha256 digest;
    if (!digest.Usable()) {
        error = "SHA-256 is not available";
        return {};
    }
    std::vector<unsigned char> buffer(1 << 20);
    for (;;) {
        const ssize_t n = read(file.get(), buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            error = std::strerror(errno);
            return {};
        }
        if (n == 0)
            break;
        digest.Add(buffer.data(), static_cast<size_t>(n));
    }
    return digest.HexDigest();
}
