// Diagnostics, progress lines and the banner shared by both programs.
#pragma once

#include <string>
#include <string_view>

// Sets the constant name that stands in front of every diagnostic ("Zarnik" or
// "Tubrel"). Each program sets it once, first thing; argv[0] is never used.
void set_program_name(const char* name);

// The name set above.
const char* program_name();

// Writes "<program name>: " and then the printf-formatted message to the
// standard error stream. Adds no line end: every message carries its own.
void log_error(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Prints a progress line (printf-formatted) to the standard output and pushes
// it out at once, so that it keeps its place among the diagnostics.
void print_progress(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Prints the one-line banner that names the program and its version to the
// standard output: "Zarnik 1.0.0 - <description>".
void print_banner(const char* description);

// Text made fit for one line of a message: a newline, carriage return or tab
// becomes \n, \r or \t, any other control byte \xNN (\x1b for ESC); the rest
// passes unchanged, so that a file name reads as the user typed it.
std::string one_line(std::string_view text);

// "PATH: what: reason" for a failed file operation, the path made one line
// and the reason the system's text for error (strerror); "PATH: what" when
// error is 0. Without a line end, for log_error("%s\n", ...).
std::string file_failure(const char* path, const char* what, int error);
