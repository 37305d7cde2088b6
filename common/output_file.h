// The file operations that writing an output file needs. Every program writes
// through this seam so that tests can make any single call fail and check that
// every failure is reported and handled.
#pragma once

#include <cstddef>
#include <cstdio>
#include <memory>

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

// The same for the WAV renderer, which writes 6144-byte pieces straight from
// its ring, hundreds of thousands a second, and flushes after each drain of
// the ring. For one stream at a time (another is a plain one) writes of 512
// bytes or more are not copied but noted, and a flush hands everything
// written since the last to the system in one gathered write, so each frame
// is copied into the ring and then by the system, and nowhere else. Such a
// write's bytes must stay as they are until the stream's next flush, seek,
// sync or close. A full disk still shows at the flush that hit it.
OutputFiles& wav_output_files();

// A large buffer for a file stream, so that the system is handed what is
// written in few writes rather than one for every few kilobytes. It must
// outlive the stream it is attached to, which has seen no I/O yet.
class StreamBuffer {
 public:
  void attach(FILE* stream);

 private:
  static constexpr size_t kBytes = 128 * 1024;
  std::unique_ptr<char[]> bytes_;
};
