#pragma once
// Writing whole files. Results are 0, the errno value of the step that failed, or
// NotRegularFileError.

#include "platform/FileErrors.h"

#include <string>

namespace platform {

// What a save does with a FIFO or a character device (a pipe behind /dev/stdout, /dev/null).
enum class TStreamTarget {
    WriteInPlace, // the bytes go into it as `cat > path` would; a FIFO waits for its reader
    Refuse, // NotRegularFileError: a window must not wait for a pipe's reader
};

// Saves bytes at path so that a failure never leaves a damaged file, and no one gains or loses
// access to it by the save:
// - a new name, or a regular file the process may write, is replaced through a temporary file
//   beside it and a rename. A new file gets 0666 less the umask (or the folder's default ACL); an
//   existing one keeps its owner and group, its extended attributes (its ACL among them) and its
//   mode. The file and then its folder are synced before 0 is returned. A regular file the process
//   may not write is refused (EACCES).
// - a regular file is written in place instead where a replacement would not be the same file:
//   one with more than one name, one whose owner, group or attributes the process may not give a
//   new file, one in a folder the process may not write (or a sticky folder it may not rename in).
//   The new size is reserved first, so a full disk leaves the old bytes whole; then the file is
//   written, cut to the new size and synced.
// - a symbolic link is followed only when every link on the way belongs to the process's user or
//   to root; a dangling link, and one that someone else planted (in a shared folder, say), is
//   itself replaced, so it cannot steer the save to another file.
// - a FIFO or a character device as stream says; a socket, a block device or anything else is
//   refused with NotRegularFileError, a folder with EISDIR.
int ReplaceFileBytes(const std::string& path, const std::string& bytes, TStreamTarget stream);
// Creates folder and any missing folders above it.
int MakeFolders(const std::string& folder);

} // namespace platform
