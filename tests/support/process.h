// Runs a built executable the way a user would, capturing what it prints.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

struct ProcessResult {
  int exit_code = -1;   // -1 when the process did not exit normally
  int term_signal = 0;  // POSIX: the signal that ended it, if one did
  std::string out;
  std::string err;
  // With sample_memory: the program's peak resident memory (kB), read about
  // every 20 ms while it ran; each sample is the peak so far.
  std::vector<long> memory_samples_kb;
};

struct ProcessOptions {
  std::string working_directory;  // empty: the test's own
  // Environment changes: a value sets the variable, nullopt removes it.
  std::vector<std::pair<std::string, std::optional<std::string>>> environment;
  // When not negative: the largest file the process may write (RLIMIT_FSIZE),
  // normally with SIGXFSZ ignored so that a write past it simply falls short,
  // as on a full disk.
  long file_size_limit = -1;
  // Whether the limit comes with SIGXFSZ ignored; false leaves the signal's
  // default action, which ends a process that does not ignore it itself.
  bool ignore_file_size_signal = true;
  // Run as the unprivileged user "nobody" when the tests run as root, so that
  // file permissions apply to the program as they would to a user.
  bool drop_root = false;
  // Fill memory_samples_kb (Linux /proc).
  bool sample_memory = false;
  // POSIX: called with the process id once the process runs, before its
  // output is read (for a test that signals it from another thread).
  std::function<void(long pid)> started;
};

// The uid and gid that drop_root switches to.
inline constexpr unsigned kNobodyId = 65534;

// Runs program with args (argv[0] is the program path) with standard input
// from the null device (/dev/null, NUL), and waits for it. On Windows the CR LF
// line ends of the program's text-mode output are folded into LF, and a
// file_size_limit cannot be applied: the result then has exit_code -1.
ProcessResult run_program(const std::string& program,
                          const std::vector<std::string>& args,
                          const ProcessOptions& options = {});
