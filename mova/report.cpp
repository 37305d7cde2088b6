#include "mova/report.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "common/messages.h"
#include "mova/mova.h"

void report(const char* path, const char* format, ...) {
  char what[512];
  va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(what, sizeof what, format, arguments);
  va_end(arguments);
  log_error("%s: %s\n", one_line(path).c_str(), one_line(what).c_str());
}

int report_output(const char* output_path, const OutputStatus& status) {
  const char* shown = is_standard_output(output_path) ? "standard output" : output_path;
  const std::string reason =
      status.error != 0 ? std::string(": ") + std::strerror(status.error) : "";
  switch (status.result) {
    case OutputResult::Ok: return kMovaOk;
    case OutputResult::NamesInput:
      report(shown, "the output is an input file: not written over");
      return kMovaCantCreate;
    case OutputResult::CantCreate:
      report(shown, "can't create the output file%s", reason.c_str());
      return kMovaCantCreate;
    case OutputResult::NoTemporary:
      report(shown,
             "can't make a temporary file in its folder (%s): not written, so that it "
             "keeps what it holds",
             status.error != 0 ? std::strerror(status.error) : "unknown reason");
      return kMovaCantCreate;
    case OutputResult::WriteFailed: break;
  }
  report(shown, "can't write the output%s%s", reason.c_str(),
         status.in_place ? "" : "; no partial file left behind");
  return kMovaCantWrite;
}

int finish_standard_output(int code) {
  errno = 0;
  const bool flushed = std::fflush(stdout) == 0;
  const int error = errno;
  // A failed output already told of its own failure.
  if ((flushed && std::ferror(stdout) == 0) || code == kMovaCantWrite) return code;
  report("standard output", "can't write%s%s", error != 0 ? ": " : "",
         error != 0 ? std::strerror(error) : "");
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
  std::string kept;
  for (const char c : text.substr(0, max_chars)) {
    kept += c;
    if (c == '\\') kept += c;
  }
  std::string shown = one_line(kept);
  if (text.size() > max_chars) shown += "...";
  return shown;
}
