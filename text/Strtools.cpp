#include "text/Strtools.h"

#include "platform/HostInfo.h"

#include <sys/stat.h>

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

unsigned char* LoadFileBytes(const char* path, uint32_t& size)
{
    const int fileSize = FileSizeOf(path);
    if (fileSize < 0)
        return nullptr;
    // malloc(0) may return null; ask for one byte so an empty file still yields a real block.
    auto* buffer = static_cast<unsigned char*>(std::malloc(fileSize > 0 ? fileSize : 1));
    if (buffer == nullptr) {
        size = 0;
        return nullptr;
    }
    if (ReadFileBytes(path, buffer, fileSize) != fileSize) {
        std::free(buffer);
        size = 0;
        return nullptr;
    }
    size = static_cast<uint32_t>(fileSize);
    return buffer;
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
