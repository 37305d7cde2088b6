// Real input files whose n-th read from the system fails with EIO, once, as a
// failing disk or network share does; the reads after it work again. The
// stream reads in pieces of 64 bytes, so a log takes many reads. POSIX with
// glibc only (fopencookie).
#pragma once

#include <cerrno>
#include <cstdio>

#include "common/input_file.h"

class FaultyInput final : public InputFiles {
 public:
  int fail_at = 0;  // 1-based count of reads; 0: none fails
  int reads = 0;    // reads asked of the file so far

  FILE* open(const char* path) override {
    file_ = std::fopen(path, "rb");
    if (file_ == nullptr) return nullptr;
    reads = 0;
    cookie_io_functions_t calls{};
    calls.read = [](void* self, char* buffer, size_t size) -> ssize_t {
      auto* input = static_cast<FaultyInput*>(self);
      if (++input->reads == input->fail_at) {
        errno = EIO;
        return -1;
      }
      return static_cast<ssize_t>(std::fread(buffer, 1, size, input->file_));
    };
    calls.close = [](void* self) {
      return std::fclose(static_cast<FaultyInput*>(self)->file_);
    };
    FILE* stream = fopencookie(this, "rb", calls);
    if (stream != nullptr) std::setvbuf(stream, nullptr, _IOFBF, 64);
    return stream;
  }

 private:
  FILE* file_ = nullptr;
};
