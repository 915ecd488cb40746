#pragma once
// File errors that errno has no value for.

// A FIFO, a device or a socket where a regular file is wanted: reading it could wait for ever or
// never end, and a window must not wait for a pipe's reader.
inline constexpr int NotRegularFileError = -1;
