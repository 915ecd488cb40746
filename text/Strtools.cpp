#include "text/Strtools.h"

#include "platform/HostInfo.h"
#include "platform/UniqueFd.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

bool SplitAtFirst(
    const std::string& source, std::string& left, const std::string& separator, std::string& right)
{
    const std::string::size_type at
        = (source.empty() || separator.empty()) ? std::string::npos : source.find(separator);
    if (at == std::string::npos) {
        left = source;
        right.clear();
        return false;
    }
    // right may alias source: take both parts before writing either.
    std::string before = source.substr(0, at);
    std::string after = source.substr(at + separator.size());
    left = std::move(before);
    right = std::move(after);
    return true;
}

std::string TrimText(const std::string& text)
{
    const auto kept = [](char c) { return static_cast<unsigned char>(c) > 0x20; };
    size_t first = 0;
    size_t last = text.size();
    while (first < last && !kept(text[first]))
        ++first;
    while (last > first && !kept(text[last - 1]))
        --last;
    return text.substr(first, last - first);
}

int FileSizeOf(const char* path)
{
    struct stat info { };
    if (path == nullptr || stat(path, &info) != 0)
        return -1;
    // A size the int result cannot hold must not turn into a negative or truncated count.
    if (info.st_size < 0 || info.st_size > INT_MAX)
        return -1;
    return static_cast<int>(info.st_size);
}

int ReadFileBytes(const char* path, unsigned char* buffer, int n)
{
    FILE* file = std::fopen(path, "rb");
    if (file == nullptr)
        return -1;
    const size_t count = n > 0 ? std::fread(buffer, 1, static_cast<size_t>(n), file) : 0;
    std::fclose(file);
    return static_cast<int>(count);
}

namespace {

// Opening a FIFO waits for a writer and a device may never end, so the file is opened without
// blocking and checked before a byte is read.
int OpenRegularFile(const char* path, size_t limit, UniqueFd& fd, size_t& size)
{
    if (path == nullptr)
        return EINVAL;
    fd.reset(::open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!fd)
        return errno;
    struct stat info { };
    if (::fstat(fd.get(), &info) != 0)
        return errno;
    if (S_ISDIR(info.st_mode))
        return EISDIR;
    if (!S_ISREG(info.st_mode))
        return NotRegularFileError;
    if (info.st_size < 0 || static_cast<uintmax_t>(info.st_size) > limit)
        return EFBIG;
    size = static_cast<size_t>(info.st_size);
    return 0;
}

// Exactly size bytes; a file that shrank meanwhile is a failed read.
int ReadExactly(int fd, unsigned char* buffer, size_t size)
{
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::read(fd, buffer + done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n < 0 ? errno : EIO;
        done += static_cast<size_t>(n);
    }
    return 0;
}

} // namespace

unsigned char* LoadFileBytes(const char* path, uint32_t& size)
{
    UniqueFd fd;
    size_t fileSize = 0;
    if (const int error = OpenRegularFile(path, INT_MAX, fd, fileSize)) {
        errno = error > 0 ? error : EINVAL;
        return nullptr;
    }
    // malloc(0) may return null; ask for one byte so an empty file still yields a real block.
    auto* buffer = static_cast<unsigned char*>(std::malloc(fileSize > 0 ? fileSize : 1));
    if (buffer == nullptr) {
        size = 0;
        errno = ENOMEM;
        return nullptr;
    }
    if (const int error = ReadExactly(fd.get(), buffer, fileSize)) {
        std::free(buffer);
        size = 0;
        errno = error;
        return nullptr;
    }
    size = static_cast<uint32_t>(fileSize);
    return buffer;
}

int LoadRegularFile(const char* path, size_t limit, std::string& bytes)
{
    UniqueFd fd;
    size_t size = 0;
    if (const int error = OpenRegularFile(path, limit, fd, size))
        return error;
    std::string read(size, '\0');
    if (const int error = ReadExactly(fd.get(), reinterpret_cast<unsigned char*>(read.data()), size))
        return error;
    bytes = std::move(read);
    return 0;
}

std::string LoadErrorText(int error)
{
    if (error == NotRegularFileError)
        return "Not a regular file";
    return TrimText(SystemErrorText(error));
}

std::string GetLocalDnsDomain()
{
    return platform::DnsDomainOf(platform::CanonicalHostName());
}

std::string SystemErrorText(int code)
{
    // Whether a code is known does not depend on the language the text comes in.
    if (strerrorname_np(code) == nullptr)
        return {};
    char buffer[256];
    // GNU strerror_r returns the text, which may or may not be in buffer.
    const char* text = strerror_r(code, buffer, sizeof buffer);
    if (text == nullptr)
        return {};
    return std::string(text) + "\n";
}

std::string FormatText(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string text;
    if (length > 0) {
        text.resize(static_cast<size_t>(length) + 1);
        std::vsnprintf(text.data(), text.size(), format, again);
        text.resize(static_cast<size_t>(length));
    }
    va_end(again);
    return text;
}

int StrToIntLoose(const std::string& text)
{
    return std::atoi(text.c_str());
}

std::string ReplaceAll(const std::string& text, const std::string& from, const std::string& to)
{
    if (from.empty())
        return text;
    std::string result;
    std::string::size_type start = 0;
    for (auto at = text.find(from); at != std::string::npos; at = text.find(from, start)) {
        result.append(text, start, at - start);
        result += to;
        start = at + from.size();
    }
    result.append(text, start, std::string::npos);
    return result;
}

TStringToks SplitLines(const std::string& text)
{
    TStringToks lines;
    std::string::size_type start = 0;
    for (std::string::size_type i = 0; i < text.size(); ++i) {
        if (text[i] != '\r' && text[i] != '\n')
            continue;
        lines.push_back(text.substr(start, i - start));
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            ++i;
        start = i + 1;
    }
    lines.push_back(text.substr(start));
    return lines;
}
