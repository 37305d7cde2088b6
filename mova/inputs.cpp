#include "mova/inputs.h"

#include <cerrno>
#include <cstring>

#include "common/files.h"

bool is_standard_input(const char* path) {
  return std::strcmp(path, "-") == 0;
}

int MovaInputs::take_standard_input() {
  if (taken_) return error_;
  taken_ = true;
  set_binary_mode(stdin);
  uint8_t chunk[65536];
  size_t count = 0;
  while ((count = std::fread(chunk, 1, sizeof chunk, stdin)) != 0) {
    if (bytes_.size() + count > kMaxInputBytes) {
      error_ = EFBIG;
      break;
    }
    bytes_.insert(bytes_.end(), chunk, chunk + count);
  }
  if (error_ == 0 && std::ferror(stdin) != 0) error_ = errno != 0 ? errno : EIO;
  if (error_ != 0) bytes_.clear();
  return error_;
}

FILE* MovaInputs::open(const char* path) {
  if (!is_standard_input(path)) return files_.open(path);
  if (const int error = take_standard_input(); error != 0) {
    errno = error;
    return nullptr;
  }
  // A file of its own for each open: the readers seek and close it freely.
  FILE* stream = std::tmpfile();
  if (stream == nullptr) return nullptr;
  if (std::fwrite(bytes_.data(), 1, bytes_.size(), stream) != bytes_.size() ||
      std::fflush(stream) != 0 || std::fseek(stream, 0, SEEK_SET) != 0) {
    const int error = errno;
    std::fclose(stream);
    errno = error;
    return nullptr;
  }
  return stream;
}
