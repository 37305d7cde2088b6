// The few questions about files that stdio cannot answer, behind a small
// interface implemented once per platform.
#pragma once

#include <cstdio>

// Whether an open stream is a directory (some systems let fopen open one).
bool stream_is_directory(FILE* stream);

// Whether both paths name one existing file (the same device and inode), so
// that writing one would destroy the other.
bool same_file(const char* first_path, const char* second_path);

// Whether the path itself names a regular file; a symbolic link, a device, a
// FIFO or a socket does not, and neither does a missing path.
bool is_regular_file(const char* path);

// Makes a stream pass bytes unchanged (no LF to CR LF on Windows), so that
// a log written to the standard output holds the same bytes as a file.
void set_binary_mode(FILE* stream);

// Deletes the file at path; returns whether it is gone.
bool delete_file(const char* path);

// One byte from a stream that only this thread reads, without the stream lock.
inline int read_byte(FILE* stream) {
#if defined(_WIN32)
  return _getc_nolock(stream);
#else
  return getc_unlocked(stream);
#endif
}
