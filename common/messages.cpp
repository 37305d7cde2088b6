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
  std::fprintf(stderr, "%s: ", current_program_name);
  va_list arguments;
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
