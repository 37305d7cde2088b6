#include "mova/report.h"

#include <cstdarg>
#include <cstdio>

#include "common/messages.h"
#include "mova/mova.h"

void report(const char* path, const char* format, ...) {
  char what[512];
  va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(what, sizeof what, format, arguments);
  va_end(arguments);
  log_error("%s: %s\n", path, what);
}

int report_output(const char* output_path, OutputResult result) {
  const char* shown = is_standard_output(output_path) ? "standard output" : output_path;
  switch (result) {
    case OutputResult::Ok: return 0;
    case OutputResult::NamesInput:
      report(shown, "the output is an input file: not written over");
      return kMovaCantCreate;
    case OutputResult::CantCreate:
      report(shown, "can't create the output file");
      return kMovaCantCreate;
    case OutputResult::WriteFailed: break;
  }
  if (is_standard_output(output_path)) {
    report(shown, "can't write the output");
  } else {
    report(shown, "can't write the output: no partial file left behind");
  }
  return kMovaCantWrite;
}

std::string duration_text(uint64_t microseconds) {
  const uint64_t ms = microseconds / 1000;
  char text[48];
  std::snprintf(text, sizeof text, "%llu:%02u:%02u.%03u",
                static_cast<unsigned long long>(ms / 3600000),
                static_cast<unsigned>(ms / 60000 % 60),
                static_cast<unsigned>(ms / 1000 % 60), static_cast<unsigned>(ms % 1000));
  return text;
}

std::string printable(std::string_view text, size_t max_chars) {
  std::string shown;
  for (const char c : text.substr(0, max_chars)) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F || c == '\\') {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\x%02X", byte);
      shown += escape;
    } else {
      shown += c;
    }
  }
  if (text.size() > max_chars) shown += "...";
  return shown;
}
