// The file operations that writing an output file needs. Both programs write
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
};

// The standard library's buffered streams.
OutputFiles& stdio_output_files();
