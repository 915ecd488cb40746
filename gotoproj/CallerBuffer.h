#pragma once
// Texts handed to and from callers of the exported functions through C buffers of a given size.

#include <string>

// The buffer's text: up to its first zero byte, never past size bytes; empty for a null buffer or
// a size of 0 or less.
std::string ReadCallerBuffer(const char* buffer, int size);
// At most size - 1 bytes of text (not ending inside a UTF-8 character), then zero bytes up to the
// end of the buffer. Nothing for a null buffer or a size of 0 or less.
void WriteCallerBuffer(const std::string& text, char* buffer, int size);
