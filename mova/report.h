// The small pieces of text that mova's reports share.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "mova/output.h"

// Logs "mova: PATH: what\n" (printf-formatted what) to the standard error,
// always as one line: control bytes of the path and of what are escaped.
void report(const char* path, const char* format, ...)
    __attribute__((format(printf, 2, 3)));

// Logs why an output could not be written, with the system's reason, and
// returns the exit code for it (0 for OutputResult::Ok).
int report_output(const char* output_path, const OutputStatus& status);

// Pushes out what the standard output still buffers; when that or any
// earlier write to it failed, logs so and returns kMovaCantWrite, else code.
int finish_standard_output(int code);

// A duration in microseconds as h:mm:ss.mmm, e.g. 0:01:03.912.
std::string duration_text(uint64_t microseconds);

// Text from a file made safe for one line of a report: control characters
// are escaped as one_line() does (\n, \x1b), a backslash becomes \\, and
// anything past max_chars is cut.
std::string printable(std::string_view text, size_t max_chars = 80);
