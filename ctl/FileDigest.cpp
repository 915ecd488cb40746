#include "ctl/FileDigest.h"

#include "platform/UniqueFd.h"
#include "text/Strtools.h"

#include <openssl/evp.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

std::string Sha256OfFile(const std::string& path, std::string& error)
{
    UniqueFd file(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!file) {
        error = std::strerror(errno);
        return {};
    }
    const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1) {
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
        EVP_DigestUpdate(context.get(), buffer.data(), static_cast<size_t>(n));
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned length = 0;
    EVP_DigestFinal_ex(context.get(), digest, &length);
    std::string hex;
    for (unsigned i = 0; i < length; ++i)
        hex += FormatText("%02x", digest[i]);
    return hex;
}
