#pragma once
// The one rule by which bytes from the network become UTF-8 text in files other programs read
// (JSON lines, CSV lists): valid UTF-8 stays as it is; any other text is read byte by byte as
// Latin-1, so no byte is lost and the result is always valid UTF-8.

#include <string>

bool IsValidUtf8(const std::string& text);
std::string AsUtf8(const std::string& text);
