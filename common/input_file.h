// How the programs open their input, behind a seam like the output's, so
// that tests can hand the readers a stream that fails on a chosen read.
#pragma once

#include <cstdio>

class InputFiles {
 public:
  virtual ~InputFiles() = default;
  // Opens path for binary reading; null on failure.
  virtual FILE* open(const char* path) = 0;
};

// The standard library's buffered streams.
InputFiles& stdio_input_files();
