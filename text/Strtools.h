#pragma once
// Small window-free routines shared by the whole program.

#include "platform/FileErrors.h"

#include <cstdint>
#include <cstdlib>
#include <map>
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
// The whole regular file in a block from malloc (release with free), or null with errno set. size
// is written on success and set to 0 after a failed read; it is left alone when the file cannot be
// queried or is no regular file.
unsigned char* LoadFileBytes(const char* path, uint32_t& size);

// The whole regular file at path into bytes, opened without waiting for a writer or a device; a
// file larger than limit bytes is refused with EFBIG. 0, or why not (an errno value or
// NotRegularFileError; bytes are then left alone).
int LoadRegularFile(const char* path, size_t limit, std::string& bytes);
// The reason for a load or save error (an errno value or NotRegularFileError), one line without a
// line break.
std::string LoadErrorText(int error);

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

// Every occurrence of from in text replaced by to, left to right, without overlaps and without
// scanning the inserted text again. An empty from changes nothing.
std::string ReplaceAll(const std::string& text, const std::string& from, const std::string& to);
// The lines of a text; CR LF, LF and CR each end a line. What follows the last line break is a
// line too, so joining the result with any one line break loses nothing.
TStringToks SplitLines(const std::string& text);

// Values last confirmed for named placeholders, kept by the caller between expansions.
using TParamMemory = std::map<std::string, std::string>;

// How the expansion asks the user: the windows implement it with a query box and an error box.
class TPlaceholderPrompter {
public:
    virtual ~TPlaceholderPrompter() = default;
    // Shows value for editing; true on OK with the confirmed value in value.
    virtual bool Query(const std::string& caption, const std::string& prompt, std::string& value) = 0;
    virtual void ShowError(const std::string& text) = 0;
};

// Asks for each "<?Name>" or "<?Name:Default>" in text and puts the answer in its place,
// remembering it in memory. False when a query was cancelled or a placeholder is unterminated.
bool ExpandPlaceholders(std::string& text, TParamMemory& memory, TPlaceholderPrompter& prompter);
