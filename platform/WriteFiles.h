#pragma once
// Writing whole files. Results are 0 or the errno value of the step that failed.

#include <string>

namespace platform {

// Writes bytes to path, creating or truncating it.
int WriteFileBytes(const std::string& path, const std::string& bytes);
// Replaces the file at path (or the file a symbolic link there points to) by bytes through a
// temporary file beside it and a rename, so that a failed write leaves the old file whole. An
// existing file keeps its permissions.
int ReplaceFileBytes(const std::string& path, const std::string& bytes);
// Creates folder and any missing folders above it.
int MakeFolders(const std::string& folder);

} // namespace platform
