// The command lines of the player ("inFile [-o outFile]") and of the converter
// ("inFile -o outFile").
#pragma once

enum class CommandLineRules {
  Player,     // the output is optional
  Converter,  // the output is required
};

struct CommandLine {
  // The argument naming the register log to read; null until parsed.
  const char* input_path = nullptr;
  // The argument following -o; null when none was given.
  const char* output_path = nullptr;

  // Scans argv[1..argc-1] once, left to right. Returns true on success; on the
  // first failure logs the reason through log_error and returns false. The
  // paths point at the argument strings themselves.
  bool parse(int argc, const char* const* argv, CommandLineRules rules);
};
