// The file operations that writing an output file needs. Every program writes
// through this seam so that tests can make any single call fail and check that
// every failure is reported and handled.
#pragma once

#include <cstddef>
#include <cstdio>

class OutputFiles {
 public:
  virtual ~OutputFiles() = default;
  // Creates or truncates path for binary writing; null on failure.
  virtual FILE* open(const char* path) = 0;
  // Writes size bytes; returns how many were written.
  virtual size_t write(FILE* stream, const void* data, size_t size) = 0;
  // Moves to offset bytes from the start of the file; false on failure.
  virtual bool seek(FILE* stream, long offset) = 0;
  // Closes the stream, writing out what it still buffers; false when that
  // failed (the file on disk is then incomplete).
  virtual bool close(FILE* stream) = 0;
  // Hands what the stream buffers to the system; false when that failed.
  virtual bool flush(FILE* stream) { return std::fflush(stream) == 0; }

  // Creates path for binary writing only if nothing exists there (errno is
  // EEXIST when something does), with the permissions of the existing file
  // permissions_from, or those a new file gets when it is null. Null on
  // failure, with nothing left behind.
  virtual FILE* create_new(const char* path, const char* permissions_from);
  // Hands what the stream buffers to the system and waits until the storage
  // holds it; false when either failed.
  virtual bool sync(FILE* stream);
  // Renames from to to, replacing what to names, in one step; false on
  // failure, with both names as they were.
  virtual bool replace(const char* from, const char* to);
};

// The standard library's buffered streams.
OutputFiles& stdio_output_files();

// The same with a 64 KiB buffer, for the WAV renderer: it writes 6144-byte
// pieces, hundreds of thousands a second, and pushes the buffer out after
// each flush of the ring, so a full disk still shows at the flush that hit it
// while the system sees one write per flush instead of one or two per piece.
// One stream at a time has the large buffer; another keeps the default.
OutputFiles& wav_output_files();
