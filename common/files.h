// The few questions about files that stdio cannot answer, behind a small
// interface implemented once per platform.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

// Whether an open stream is a directory (some systems let fopen open one).
bool stream_is_directory(FILE* stream);

// Whether an open stream reads a file on disk: reading it ahead by whole
// blocks never waits for bytes that a writer has yet to send, as reading a
// pipe or a device ahead would.
bool stream_is_disk_file(FILE* stream);

// Whether both paths name one existing file (the same device and inode), so
// that writing one would destroy the other.
bool same_file(const char* first_path, const char* second_path);

// Which file an open stream or a path reaches: device and inode (volume and
// file index on Windows). known is false when the system tells none (a pipe
// on Windows, a missing path); terminal marks a character device, which
// reading and writing at once destroys nothing on.
struct FileIdentity {
  bool known = false;
  bool terminal = false;
  uint64_t device = 0;
  uint64_t inode = 0;
};
FileIdentity identify_stream(FILE* stream);
FileIdentity identify_path(const char* path);

// Whether both identities are known and name one file.
inline bool same_identity(const FileIdentity& a, const FileIdentity& b) {
  return a.known && b.known && a.device == b.device && a.inode == b.inode;
}

// Whether the path itself names a regular file; a symbolic link, a device, a
// FIFO or a socket does not, and neither does a missing path.
bool is_regular_file(const char* path);

// Makes a stream pass bytes unchanged (no LF to CR LF on Windows), so that
// a log written to the standard output holds the same bytes as a file.
void set_binary_mode(FILE* stream);

// Deletes the file at path; returns whether it is gone.
bool delete_file(const char* path);

// What an output path leads to, following symbolic links.
enum class OutputTarget {
  Missing,  // nothing yet: the file will be new
  Regular,  // an existing regular file that this process may write
  Other,    // a device, FIFO, folder, socket, read-only or unreadable file
};

// Examines path; for Missing and Regular sets *target to the path of the file
// itself (the final target of a chain of symbolic links, else path), whose
// folder then takes the temporary file.
OutputTarget examine_output(const char* path, std::string* target);

// Creates path for binary writing only if nothing exists there (errno EEXIST
// when something does). The file gets the permissions (and, where allowed,
// the owner) of the existing file permissions_from, or when that is null the
// ones any new file gets. Null on failure, with nothing left behind.
FILE* create_exclusive_file(const char* path, const char* permissions_from);

// Waits until the storage holds everything the system has of the stream's
// file; false when it reports that it could not store it.
bool sync_to_storage(FILE* stream);

// Asks the system to start writing what it holds of the stream's file to
// the storage, without waiting: a later sync_to_storage() then has little
// left to wait for. Only a hint; does nothing where the system has no way.
void start_storing(FILE* stream);

// A run of bytes to write, held by its writer.
struct OutputPiece {
  const void* data;
  size_t size;
};

// Writes the pieces to the stream's file in order, at its position, with as
// few system calls as the system allows (one for all of them where it can
// gather them), and leaves the stream's own buffer empty; false when the
// system refused any of it.
bool write_pieces(FILE* stream, const OutputPiece* pieces, size_t count);

// Renames from to to, replacing the file to names in one step, and makes the
// new name durable; false on failure, with both names as they were.
bool replace_file(const char* from, const char* to);

// This process's identifier, to make file names of its own.
unsigned long current_process_id();

// One byte from a stream that only this thread reads, without the stream lock.
inline int read_byte(FILE* stream) {
#if defined(_WIN32)
  return _getc_nolock(stream);
#else
  return getc_unlocked(stream);
#endif
}
