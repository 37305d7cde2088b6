#include "common/messages.h"

#include <cstdarg>
#include <cstdio>

#include "common/version.h"

namespace {
const char* current_program_name = "";
}  // namespace

void set_program_name(const char* name) {
  current_program_name = name;
}

const char* program_name() {
  return current_program_name;
}

void log_error(const char* format, ...) {
  // Made whole first and written in one call, so that lines from threads
  // running side by side (a batch render) never mix.
  char line[1024];
  const int prefix = std::snprintf(line, sizeof line, "%s: ", current_program_name);
  va_list arguments;
  va_start(arguments, format);
  const int length =
      std::vsnprintf(line + prefix, sizeof line - prefix, format, arguments);
  va_end(arguments);
  if (length >= 0 && static_cast<size_t>(prefix + length) < sizeof line) {
    std::fputs(line, stderr);
    return;
  }
  std::fprintf(stderr, "%s: ", current_program_name);
  va_start(arguments, format);
  std::vfprintf(stderr, format, arguments);
  va_end(arguments);
}

void print_progress(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  std::vprintf(format, arguments);
  va_end(arguments);
  std::fflush(stdout);
}

void print_banner(const char* description) {
  print_progress("%s %s - %s\n", current_program_name, kVersion, description);
}
