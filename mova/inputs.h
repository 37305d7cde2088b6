// How mova opens its inputs: a path through the InputFiles seam, and "-" as
// the standard input, which is read once, in full, and handed out again at
// every open, so that info can read it first as a log and then as a song.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "common/input_file.h"

// The most an input read in full may hold: a song file, or the standard
// input. Far above any real song (the largest VGM rips with sample data stay
// below 20 MiB), low enough to hold in memory.
inline constexpr size_t kMaxInputBytes = size_t{64} << 20;

// Whether path names the standard input.
bool is_standard_input(const char* path);

class MovaInputs final : public InputFiles {
 public:
  explicit MovaInputs(InputFiles& files = stdio_input_files()) : files_(files) {}
  // A path as files does; "-" as a fresh stream over what the standard input
  // held, or null with errno set (EFBIG past kMaxInputBytes).
  FILE* open(const char* path) override;

 private:
  // Reads the standard input the first time; errno of its failure, or 0.
  int take_standard_input();

  InputFiles& files_;
  bool taken_ = false;
  int error_ = 0;
  std::vector<uint8_t> bytes_;
};
