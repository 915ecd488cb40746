#pragma once
// Small window-free routines shared by the whole program.

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

using TStringToks = std::vector<std::string>;

// Splits source at the first occurrence of separator. right may be the same object as source.
bool SplitAtFirst(
    const std::string& source, std::string& left, const std::string& separator, std::string& right);

// Size of the file in bytes, or -1 when it cannot be queried or does not fit a non-negative int.
int FileSizeOf(const char* path);
// Owner of a block from LoadFileBytes: released with free.
struct TFreeBlock {
    void operator()(unsigned char* block) const { std::free(block); }
};
using TFileBytes = std::unique_ptr<unsigned char, TFreeBlock>;

// Reads up to n bytes from the start of the file; -1 when it cannot be opened.
int ReadFileBytes(const char* path, unsigned char* buffer, int n);
// The whole file in a block from malloc (release with free), or null. size is written on success
// and set to 0 after a failed read; it is left alone when the file cannot be queried.
unsigned char* LoadFileBytes(const char* path, uint32_t& size);

// DNS domain of this computer (the part of its canonical name after the first dot), or empty.
std::string GetLocalDnsDomain();
// The system's message for an errno value, ending in a line break; empty for unknown codes.
std::string SystemErrorText(int code);

// The text without leading and trailing blanks and control characters (every byte up to 0x20).
std::string TrimText(const std::string& text);

// printf-style formatting into a text.
std::string FormatText(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Decimal conversion as the C library's atoi does it.
int StrToIntLoose(const std::string& text);
