#include "mova/output.h"

#include <cerrno>
#include <cstring>

#include "common/atomic_output.h"
#include "common/files.h"
#include "common/output_file.h"
#include "mova/inputs.h"

namespace {

FileIdentity identify_output(const char* output_path) {
  return is_standard_output(output_path) ? identify_stream(stdout)
                                         : identify_path(output_path);
}

// Whether writing the output would write over one of the inputs. A terminal
// may well be both: typing a song into it destroys nothing.
bool names_an_input(const char* output_path, std::span<const char* const> input_paths) {
  const FileIdentity output = identify_output(output_path);
  if (output.terminal) return false;
  for (const char* input : input_paths) {
    const FileIdentity identity =
        is_standard_input(input) ? identify_stream(stdin) : identify_path(input);
    if (same_identity(identity, output)) return true;
  }
  return false;
}

OutputStatus failed(OutputResult result, int error, bool in_place) {
  return OutputStatus{result, error, in_place};
}

}  // namespace

bool is_standard_output(const char* output_path) {
  return output_path == nullptr || std::strcmp(output_path, "-") == 0;
}

bool output_is_device(const char* output_path) {
  return identify_output(output_path).terminal;
}

OutputStatus write_output(const char* output_path,
                          std::span<const char* const> input_paths,
                          const std::function<bool(FILE*)>& produce) {
  if (names_an_input(output_path, input_paths)) {
    return failed(OutputResult::NamesInput, 0, true);
  }
  OutputFiles& files = stdio_output_files();
  if (is_standard_output(output_path)) {
    set_binary_mode(stdout);
    errno = 0;
    const bool written = produce(stdout) && files.flush(stdout);
    if (written) return {};
    return failed(OutputResult::WriteFailed, errno, true);
  }
  // A regular file is written as a temporary file renamed into place once
  // complete, so the name keeps what it held until then.
  AtomicOutput output(files);
  FILE* stream = output.begin(output_path);
  if (stream == nullptr) {
    const bool existing = output.no_temporary() && identify_path(output_path).known;
    return failed(existing ? OutputResult::NoTemporary : OutputResult::CantCreate,
                  output.error(), false);
  }
  const bool in_place = output.mode() == AtomicOutput::Mode::InPlace;
  errno = 0;
  if (!produce(stream)) {
    const int error = errno;
    output.abandon();
    return failed(OutputResult::WriteFailed, error, in_place);
  }
  if (output.commit()) return {};
  const int error = output.error();
  // Written in place, an incomplete regular file is deleted; a device or a
  // FIFO stays.
  output.abandon();
  return failed(OutputResult::WriteFailed, error, in_place);
}
