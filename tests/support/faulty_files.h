// Real output files, except that one chosen call of one kind fails, the way a
// full disk, a yanked drive or a file system that refuses to seek would.
#pragma once

#include <cerrno>
#include <vector>

#include "common/output_file.h"

class FaultyFiles final : public OutputFiles {
 public:
  // Open counts the creation of a temporary file and the open in place alike.
  enum class Kind { None, Open, Write, Seek, Close, Sync, Rename };
  Kind fail_kind = Kind::None;
  int fail_at = 0;     // 1-based count of calls of that kind
  int fail_count = 1;  // how many calls of that kind fail from there on
  // Every close fails as well, to check that a second failure changes nothing.
  bool close_fails_too = false;
  // The size asked of every write, failed or not.
  std::vector<size_t> write_sizes;

  // A failed open creates nothing.
  FILE* open(const char* path) override {
    if (fails(Kind::Open, opens_)) return nullptr;
    return stdio_output_files().open(path);
  }
  FILE* create_new(const char* path, const char* permissions_from) override {
    if (fails(Kind::Open, opens_)) return nullptr;
    return stdio_output_files().create_new(path, permissions_from);
  }
  bool sync(FILE* stream) override {
    const bool real = stdio_output_files().sync(stream);
    return !fails(Kind::Sync, syncs_) && real;
  }
  bool replace(const char* from, const char* to) override {
    if (fails(Kind::Rename, renames_)) return false;
    return stdio_output_files().replace(from, to);
  }
  // A failed write stores its first half, as a disk that fills up mid-write
  // does, and says so.
  size_t write(FILE* stream, const void* data, size_t size) override {
    write_sizes.push_back(size);
    if (fails(Kind::Write, writes_))
      return stdio_output_files().write(stream, data, size / 2);
    return stdio_output_files().write(stream, data, size);
  }
  bool seek(FILE* stream, long offset) override {
    if (fails(Kind::Seek, seeks_)) return false;
    return stdio_output_files().seek(stream, offset);
  }
  // A failed close still releases the stream: the caller cannot retry it.
  bool close(FILE* stream) override {
    const bool real = stdio_output_files().close(stream);
    return !fails(Kind::Close, closes_) && !close_fails_too && real;
  }

 private:
  bool fails(Kind kind, int& counter) {
    if (kind != fail_kind) return false;
    ++counter;
    if (counter < fail_at || counter >= fail_at + fail_count) return false;
    errno = EIO;
    return true;
  }
  int opens_ = 0;
  int writes_ = 0;
  int seeks_ = 0;
  int closes_ = 0;
  int syncs_ = 0;
  int renames_ = 0;
};
