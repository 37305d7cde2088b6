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
  // Hands what the stream buffers to the system; false when that failed.
  virtual bool flush(FILE* stream) { return std::fflush(stream) == 0; }
};

// The standard library's buffered streams.
OutputFiles& stdio_output_files();

// The same with a 64 KiB buffer, for the WAV renderer: it writes 6144-byte
// pieces, hundreds of thousands a second, and pushes the buffer out after
// each flush of the ring, so a full disk still shows at the flush that hit it
// while the system sees one write per flush instead of one or two per piece.
// One stream at a time has the large buffer; another keeps the default.
OutputFiles& wav_output_files();
