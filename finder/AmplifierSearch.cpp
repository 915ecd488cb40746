#include "finder/AmplifierSearch.h"

#include "text/TextEncoding.h"

#include <cstring>

namespace {

struct AsciiFoldTable {
    unsigned char lower[256];
    constexpr AsciiFoldTable()
        : lower()
    {
        for (int c = 0; c < 256; ++c)
            lower[c] = static_cast<unsigned char>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c);
    }
};
constexpr AsciiFoldTable AsciiFold;

unsigned char FoldAscii(unsigned char c)
{
    return AsciiFold.lower[c];
}

bool HasHighBytes(const std::string& text)
{
    for (const char c : text)
        if (static_cast<unsigned char>(c) >= 0x80)
            return true;
    return false;
}

// Lower case for ASCII, and for Latin-1's capitals U+00C0..U+00DE (bar U+00D7, the multiplication
// sign), which in UTF-8 are 0xC3 0x80..0x9E and become 0xC3 0xA0..0xBE.
void FoldUtf8(std::string& text)
{
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            text[i] = static_cast<char>(FoldAscii(c));
        } else if (c == 0xC3 && i + 1 < text.size()) {
            const auto next = static_cast<unsigned char>(text[i + 1]);
            if (next >= 0x80 && next <= 0x9E && next != 0x97)
                text[i + 1] = static_cast<char>(next + 0x20);
            ++i;
        }
    }
}

// needle is folded already; haystack is folded byte by byte for ASCII only, which is all it holds
// when the caller passes an ASCII field, and a no-op on a folded one.
bool ContainsFolded(const char* haystack, size_t length, const std::string& needle)
{
    const size_t n = needle.size();
    if (n > length)
        return false;
    const auto first = static_cast<unsigned char>(needle[0]);
    for (size_t i = 0; i + n <= length; ++i) {
        if (FoldAscii(static_cast<unsigned char>(haystack[i])) != first)
            continue;
        size_t k = 1;
        while (k < n
            && FoldAscii(static_cast<unsigned char>(haystack[i + k]))
                == static_cast<unsigned char>(needle[k]))
            ++k;
        if (k == n)
            return true;
    }
    return false;
}

} // namespace

AmplifierMatcher::AmplifierMatcher(const std::string& text)
    : FNeedle(AsUtf8(text))
    , FNeedleAscii(!HasHighBytes(text))
{
    FoldUtf8(FNeedle);
}

bool AmplifierMatcher::Contains(const std::string& field) const
{
    if (FNeedle.empty())
        return false;
    // Reading the field as Latin-1 and folding it change only bytes >= 0x80, which an ASCII text
    // never matches: the field's own bytes tell.
    if (FNeedleAscii)
        return ContainsFolded(field.data(), field.size(), FNeedle);
    if (!HasHighBytes(field))
        return false;
    FScratch = AsUtf8(field);
    FoldUtf8(FScratch);
    return ContainsFolded(FScratch.data(), FScratch.size(), FNeedle);
}

bool AmplifierMatcher::Matches(const TTovrinData& record) const
{
    return Contains(record.MacKey) || Contains(record.IP) || Contains(record.Name);
}

int FindAmplifier(const AmplifierList& list, const std::string& text, int after)
{
    const AmplifierMatcher matcher(text);
    const int count = list.Count();
    if (count == 0 || text.empty())
        return -1;
    const int start = after >= 0 && after < count ? after + 1 : 0;
    for (int i = 0; i < count; ++i) {
        const int row = (start + i) % count;
        if (matcher.Matches(list.Row(row)))
            return row;
    }
    return -1;
}
