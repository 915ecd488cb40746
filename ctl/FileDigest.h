#pragma once
// The SHA-256 of a file, read piece by piece.

#include <string>

// Lower-case hexadecimal digest; empty, with the reason in error, when the file cannot be read.
std::string Sha256OfFile(const std::string& path, std::string& error);
