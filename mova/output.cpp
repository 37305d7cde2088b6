#include "mova/output.h"

#include <cstring>

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
  FILE* stream = files.open(output_path);
  if (stream == nullptr) return OutputResult::CantCreate;
  const bool written = produce(stream);
  // The close writes out what the stream still buffers: failing there loses
  // data just as a failed write does.
  const bool closed = files.close(stream);
  if (written && closed) return OutputResult::Ok;
  if (is_regular_file(output_path)) delete_file(output_path);
  return OutputResult::WriteFailed;
}
