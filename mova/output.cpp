#include "mova/output.h"

#include <cstring>

#include "common/atomic_output.h"
#include "common/files.h"
#include "common/output_file.h"

bool is_standard_output(const char* output_path) {
  return output_path == nullptr || std::strcmp(output_path, "-") == 0;
}

OutputResult write_output(const char* output_path,
                          std::span<const char* const> input_paths,
                          const std::function<bool(FILE*)>& produce) {
  OutputFiles& files = stdio_output_files();
  if (is_standard_output(output_path)) {
    set_binary_mode(stdout);
    const bool written = produce(stdout);
    return written && files.flush(stdout) ? OutputResult::Ok : OutputResult::WriteFailed;
  }
  for (const char* input : input_paths) {
    if (same_file(input, output_path)) return OutputResult::NamesInput;
  }
  // A regular file is written as a temporary file renamed into place once
  // complete, so the name keeps what it held until then.
  AtomicOutput output(files);
  FILE* stream = output.begin(output_path);
  if (stream == nullptr) return OutputResult::CantCreate;
  const bool in_place = output.mode() == AtomicOutput::Mode::InPlace;
  if (produce(stream) && output.commit()) return OutputResult::Ok;
  output.discard();
  // Written in place (a device, a FIFO, or a folder where no temporary file
  // can be made): delete only what may be ours and incomplete, a regular file.
  if (in_place && is_regular_file(output_path)) delete_file(output_path);
  return OutputResult::WriteFailed;
}
