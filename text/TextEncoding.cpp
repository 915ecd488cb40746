#include "text/TextEncoding.h"

#include <cstddef>
#include <cstdint>

size_t Utf8SequenceAt(const std::string& text, size_t i, uint32_t& code)
{
    const auto byte = static_cast<unsigned char>(text[i]);
    size_t more = 0;
    if (byte < 0x80) {
        code = byte;
        return 1;
    } else if ((byte & 0xe0) == 0xc0) {
        more = 1;
        code = byte & 0x1f;
    } else if ((byte & 0xf0) == 0xe0) {
        more = 2;
        code = byte & 0x0f;
    } else if ((byte & 0xf8) == 0xf0) {
        more = 3;
        code = byte & 0x07;
    } else {
        return 0;
    }
    if (i + more >= text.size())
        return 0;
    for (size_t k = 1; k <= more; ++k) {
        const auto next = static_cast<unsigned char>(text[i + k]);
        if ((next & 0xc0) != 0x80)
            return 0;
        code = (code << 6) | (next & 0x3f);
    }
    // Overlong forms, surrogates and code points beyond Unicode are no UTF-8.
    static const uint32_t smallest[] = { 0, 0x80, 0x800, 0x10000 };
    if (code < smallest[more] || code > 0x10ffff || (code >= 0xd800 && code <= 0xdfff))
        return 0;
    return more + 1;
}

bool IsValidUtf8(const std::string& text)
{
    uint32_t code = 0;
    for (size_t i = 0; i < text.size();) {
        const size_t length = Utf8SequenceAt(text, i, code);
        if (length == 0)
            return false;
        i += length;
    }
    return true;
}

std::string AsUtf8(const std::string& text)
{
    if (IsValidUtf8(text))
        return text;
    std::string latin1;
    latin1.reserve(text.size() * 2);
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            latin1 += c;
        } else {
            latin1 += static_cast<char>(0xc0 | (byte >> 6));
            latin1 += static_cast<char>(0x80 | (byte & 0x3f));
        }
    }
    return latin1;
}
