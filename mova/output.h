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
  NoTemporary,  // an existing file, but no temporary file can be made beside it
  WriteFailed,  // produce failed, or the data never reached its place
};

struct OutputStatus {
  OutputResult result = OutputResult::Ok;
  int error = 0;         // the system's error number, 0 when none is known
  bool in_place = true;  // written in place (the standard output, a device)
};

// Whether output_path means the standard output.
bool is_standard_output(const char* output_path);

// Whether the output reaches a terminal or another device rather than a file
// or a pipe: mova's own notes then go to the standard error, never into it.
bool output_is_device(const char* output_path);

// Creates the output, lets produce write everything into it and completes
// it, through AtomicOutput: a file output keeps what it held until the new
// contents are complete, and a failure leaves no partial output (a device,
// FIFO or symbolic link named as the output is never deleted). An output
// that is one of input_paths ("-": the standard input), the standard output
// included, is never opened nor written. Reports nothing: the caller names
// the failure.
OutputStatus write_output(const char* output_path,
                          std::span<const char* const> input_paths,
                          const std::function<bool(FILE*)>& produce);
