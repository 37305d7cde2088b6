// The one way mova writes an output: to the file named by -o, or to the
// standard output when none is named or the name is "-".
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <span>

enum class OutputResult : uint8_t {
  Ok,
  NamesInput,   // the output is one of the inputs: never opened
  CantCreate,   // can't be created
  WriteFailed,  // produce failed, or the data never reached the disk
};

// Whether output_path means the standard output.
bool is_standard_output(const char* output_path);

// Creates the output, lets produce write everything into it and completes
// it, through AtomicOutput: a file output keeps what it held until the new
// contents are complete, and a failure leaves no partial output (a device,
// FIFO or symbolic link named as the output is never deleted). An output
// that is one of input_paths is never opened. Reports nothing: the caller
// names the failure.
OutputResult write_output(const char* output_path,
                          std::span<const char* const> input_paths,
                          const std::function<bool(FILE*)>& produce);
