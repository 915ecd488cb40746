#include "gotoproj/CallerBuffer.h"

#include <algorithm>
#include <cstring>

std::string ReadCallerBuffer(const char* buffer, int size)
{
    if (buffer == nullptr || size <= 0)
        return {};
    return std::string(buffer, strnlen(buffer, static_cast<size_t>(size)));
}

void WriteCallerBuffer(const std::string& text, char* buffer, int size)
{
    if (buffer == nullptr || size <= 0)
        return;
    size_t count = std::min(text.size(), static_cast<size_t>(size) - 1);
    // A character cut in half would leave the caller a text that is no longer valid UTF-8.
    if (count < text.size())
        while (count > 0 && (static_cast<unsigned char>(text[count]) & 0xC0) == 0x80)
            --count;
    std::memcpy(buffer, text.data(), count);
    std::memset(buffer + count, 0, static_cast<size_t>(size) - count);
}
