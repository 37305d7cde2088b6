// Writing an output file so that its name holds either what it held before or
// the complete new contents, never a part of them, whatever fails and
// whenever the program is interrupted.
//
// How an output is written, by what its path names:
//   - Nothing yet, or a regular file this process may write: the stream
//     writes a temporary file in the same folder, created exclusively with
//     the permissions a new file would get, or those (and, where allowed, the
//     owner) of the existing file. commit() stores it (fflush, fsync) and
//     renames it over the name; discard() deletes it. The name meanwhile
//     keeps its old contents. For a symbolic link the temporary file sits
//     beside the link's final target and replaces the target, so the link
//     keeps pointing at the finished file. Another hard link to the old file
//     keeps the old contents.
//   - A device, FIFO, pipe, folder, a file the user protected against
//     writing, or a link that leads nowhere: opened in place ("direct"), as
//     an ordinary open would (/dev/null, /dev/stdout and NUL work as always).
//   - When no temporary file can be created beside the file (a writable file
//     in a read-only folder, for instance), nothing is opened: writing the
//     name in place would truncate it at once and leave it half written on
//     any failure. begin() then returns null and no_temporary() says why.
//     A temporary name too long for the folder (ENAMETOOLONG, beside a long
//     file name) gives way to a short one, ".<process>-<n>.tmp".
// While a temporary file exists it is registered with guard_file(), so an
// interruption (common/interrupts.h) deletes it.
//
// Every call goes through the OutputFiles seam, so tests can fail any single
// open, write, seek, close, sync or rename.
//
// Use:
//   AtomicOutput output(files);
//   FILE* stream = output.begin(path);   // null: report that it can't open
//   ... write through files ...
//   if (all written) { if (!output.commit()) report a failed write; }
//   else output.abandon();
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "common/output_file.h"

class AtomicOutput {
 public:
  enum class Mode : uint8_t {
    Closed,     // no stream: before begin(), after commit() or discard()
    Temporary,  // writing a temporary file that commit() renames
    InPlace,    // writing the path itself (device, FIFO, protected name)
  };

  explicit AtomicOutput(OutputFiles& files = stdio_output_files()) : files_(files) {}
  // Discards an output that was begun and never committed.
  ~AtomicOutput();
  AtomicOutput(const AtomicOutput&) = delete;
  AtomicOutput& operator=(const AtomicOutput&) = delete;

  // Opens path for binary writing as described above; returns the stream to
  // write through the seam, or null when nothing could be opened (nothing is
  // then left behind; error() tells why).
  FILE* begin(const char* path);

  // Completes the output: closes the stream and, for a temporary file, stores
  // it and renames it over the name. True when all of it worked. On failure a
  // temporary file is deleted and the name keeps what it held; a file written
  // in place is left as it is, for the caller to judge.
  bool commit();

  // Abandons the output: closes the stream and deletes a temporary file. A
  // file written in place is left as it is. No-op when nothing is open.
  void discard();

  // discard(), and when the output was written in place to what is now a
  // regular file, deletes it too: it holds an incomplete output. A device, a
  // FIFO or a symbolic link named as the output stays. Also after a failed
  // commit(). No-op when nothing was begun.
  void abandon();

  // The system's error number of the first failed call of the last begin()
  // or commit(); 0 when none failed or the failure set none.
  int error() const { return error_; }
  // Whether the last begin() refused an existing file, or a new one, because
  // no temporary file could be made in its folder.
  bool no_temporary() const { return no_temporary_; }

  Mode mode() const { return mode_; }
  FILE* stream() const { return stream_; }

 private:
  FILE* create_temporary(const char* permissions_from);
  FILE* create_temporary_named(const std::string& stem, const char* permissions_from);
  void forget_temporary();
  void note_error();

  OutputFiles& files_;
  Mode mode_ = Mode::Closed;
  FILE* stream_ = nullptr;
  std::string target_;     // the file the temporary file replaces
  std::string temporary_;  // the temporary file's path
  std::string in_place_;   // the path written in place, until abandon()
  int guard_slot_ = -1;
  int error_ = 0;
  bool no_temporary_ = false;
};
