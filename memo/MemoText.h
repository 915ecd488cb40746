#pragma once
// The text editor's file texts, byte-exact: a file's bytes become the UTF-8 text the editor shows,
// and that text becomes the same bytes again.

#include <cstddef>
#include <string>

// The largest file the editor loads: far above any menu file, small enough to edit without a wait.
inline constexpr size_t EditorFileLimit = size_t(16) << 20;
// Why the editor could not load a file (a LoadRegularFile result), one line.
std::string EditorLoadErrorText(int error);

// A file's text as the editor holds it: UTF-8 with "\n" between lines, and whether the file was
// read as 8-bit text (one character per byte) because it was no UTF-8 the editor can keep.
struct TEditorText {
    std::string Utf8;
    bool Latin1 = false;
};

// CR LF, CR and LF become "\n". Valid UTF-8 stays UTF-8; other bytes are read as Latin-1.
TEditorText DecodeFileText(const std::string& bytes);
// The editor's text as file bytes: "\n" becomes CR LF and nothing is added after the last line.
// A text read as Latin-1 is written as Latin-1 again while all its characters fit; else UTF-8.
std::string EncodeFileText(const std::string& utf8, bool latin1);
// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool IsUtf8(const std::string& bytes);
