#include "memo/MemoText.h"

#include "text/Strtools.h"

#include <cerrno>
#include <cstdint>

namespace {

// Decodes the code point starting at bytes[at]; 0 when the bytes there are no strict UTF-8.
size_t Utf8Length(const std::string& bytes, size_t at, uint32_t& codePoint)
{
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(bytes[i]); };
    const unsigned char lead = byte(at);
    size_t length = 0;
    uint32_t min = 0;
    if (lead < 0x80) {
        codePoint = lead;
        return 1;
    } else if ((lead & 0xE0) == 0xC0) {
        length = 2, codePoint = lead & 0x1F, min = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, codePoint = lead & 0x0F, min = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, codePoint = lead & 0x07, min = 0x10000;
    } else {
        return 0;
    }
    if (at + length > bytes.size())
        return 0;
    for (size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80)
            return 0;
        codePoint = (codePoint << 6) | (byte(at + i) & 0x3F);
    }
    if (codePoint < min || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF))
        return 0;
    return length;
}

// Characters the editor's document turns into paragraph or frame breaks; a text holding them is
// read byte by byte instead, so that its bytes come back unchanged.
bool EditorKeeps(uint32_t codePoint)
{
    return codePoint != 0x2029 && codePoint != 0xFDD0 && codePoint != 0xFDD1;
}

std::string JoinLines(const std::string& text, const char* lineBreak)
{
    const TStringToks lines = SplitLines(text);
    std::string joined;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (i > 0)
            joined += lineBreak;
        joined += lines[i];
    }
    return joined;
}

} // namespace

std::string EditorLoadErrorText(int error)
{
    if (error == EFBIG)
        return LoadErrorText(error) + " (the editor opens files of up to 16 MiB)";
    return LoadErrorText(error);
}

bool IsUtf8(const std::string& bytes)
{
    uint32_t codePoint = 0;
    for (size_t at = 0; at < bytes.size();) {
        const size_t length = Utf8Length(bytes, at, codePoint);
        if (length == 0)
            return false;
        at += length;
    }
    return true;
}

TEditorText DecodeFileText(const std::string& bytes)
{
    TEditorText text;
    const std::string lines = JoinLines(bytes, "\n");
    bool keepUtf8 = true;
    uint32_t codePoint = 0;
    for (size_t at = 0; keepUtf8 && at < lines.size();) {
        const size_t length = Utf8Length(lines, at, codePoint);
        keepUtf8 = length != 0 && EditorKeeps(codePoint);
        at += length;
    }
    if (keepUtf8) {
        text.Utf8 = lines;
        return text;
    }
    text.Latin1 = true;
    for (const char c : lines) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            text.Utf8 += c;
        } else {
            text.Utf8 += static_cast<char>(0xC0 | (byte >> 6));
            text.Utf8 += static_cast<char>(0x80 | (byte & 0x3F));
        }
    }
    return text;
}

std::string EncodeFileText(const std::string& utf8, bool latin1)
{
    const std::string crlf = JoinLines(utf8, "\r\n");
    if (!latin1)
        return crlf;
    std::string bytes;
    uint32_t codePoint = 0;
    for (size_t at = 0; at < crlf.size();) {
        const size_t length = Utf8Length(crlf, at, codePoint);
        if (length == 0 || codePoint > 0xFF)
            return crlf;
        bytes += static_cast<char>(codePoint);
        at += length;
    }
    return bytes;
}
