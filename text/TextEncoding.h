#pragma once
// The one rule by which bytes from the network become UTF-8 text in files other programs read
// (JSON lines, CSV lists): valid UTF-8 stays as it is; any other text is read byte by byte as
// Latin-1, so no byte is lost and the result is always valid UTF-8.

#include <cstddef>
#include <cstdint>
#include <string>

bool IsValidUtf8(const std::string& text);
// The length of the UTF-8 sequence that begins at text[i] (i < size), its code point in code; 0
// when no valid sequence begins there.
size_t Utf8SequenceAt(const std::string& text, size_t i, uint32_t& code);
std::string AsUtf8(const std::string& text);
