// What every fuzz target shares: the input as a read-only stream, a private
// folder for files, and a check that stops the run with a reason.
#pragma once

#include <sanitizer/common_interface_defs.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

// Stops the fuzzer with a finding when a property does not hold. The reason
// goes through the sanitizer's report channel, which libFuzzer keeps open
// when it silences the programs' own output (-close_fd_mask).
#define FUZZ_REQUIRE(condition)                                                  \
  do {                                                                           \
    if (!(condition)) {                                                          \
      __sanitizer_report_error_summary("property failed at " __FILE__            \
                                       ":" FUZZ_LINE(__LINE__) ": " #condition); \
      std::abort();                                                              \
    }                                                                            \
  } while (0)
#define FUZZ_LINE(line) FUZZ_STRINGIFY(line)
#define FUZZ_STRINGIFY(text) #text

// The input bytes as a stream read like a file; an empty input reads as an
// empty file.
class InputStream {
 public:
  InputStream(const uint8_t* data, size_t size)
      : stream_(size == 0 ? std::fopen("/dev/null", "rb")
                          : fmemopen(const_cast<uint8_t*>(data), size, "rb")) {
    FUZZ_REQUIRE(stream_ != nullptr);
  }
  ~InputStream() { std::fclose(stream_); }
  InputStream(const InputStream&) = delete;
  InputStream& operator=(const InputStream&) = delete;
  FILE* get() const { return stream_; }

 private:
  FILE* stream_;
};

// A folder of this process's own, emptied at exit.
inline const std::string& scratch_folder() {
  static const std::string path = [] {
    // Memory-backed when the system offers it: every input is written to a
    // file and read back, and a disk makes that the slowest part of a run.
    const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    std::string pattern = std::string(base) + "/zarnik-fuzz-XXXXXX";
    FUZZ_REQUIRE(mkdtemp(pattern.data()) != nullptr);
    static std::string removed_at_exit;
    removed_at_exit = pattern;
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(removed_at_exit, ignored);
    });
    return pattern;
  }();
  return path;
}

inline void write_whole_file(const std::string& path, const uint8_t* data, size_t size) {
  FILE* file = std::fopen(path.c_str(), "wb");
  FUZZ_REQUIRE(file != nullptr);
  FUZZ_REQUIRE(std::fwrite(data, 1, size, file) == size);
  FUZZ_REQUIRE(std::fclose(file) == 0);
}

inline std::string read_whole_file(const std::string& path) {
  std::string bytes;
  FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return bytes;
  char buffer[65536];
  size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0)
    bytes.append(buffer, got);
  std::fclose(file);
  return bytes;
}

inline bool path_exists(const std::string& path) {
  return access(path.c_str(), F_OK) == 0;
}
