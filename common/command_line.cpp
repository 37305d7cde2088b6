#include "common/command_line.h"

#include "common/messages.h"

bool CommandLine::parse(int argc, const char* const* argv, CommandLineRules rules) {
  for (int i = 1; i < argc; ++i) {
    const char* argument = argv[i];
    if (argument[0] == '-') {
      // Only the second character names an option: -o, -out and -ox all mean
      // the output; a lone minus sign and --o are unknown.
      if (argument[1] != 'o') {
        log_error("Unknown option [%s]\n", argument);
        return false;
      }
      if (i + 1 >= argc) {
        log_error("-o must be followed by the output filename.\n");
        return false;
      }
      if (output_path != nullptr) {
        log_error("Only one output file allowed.\n");
        return false;
      }
      // Whatever follows is the name, even an empty one or one that starts
      // with a minus sign.
      output_path = argv[++i];
      continue;
    }
    if (input_path != nullptr) {
      log_error("Only one input file allowed.\n");
      return false;
    }
    input_path = argument;
  }
  if (input_path == nullptr) {
    log_error("No input file provided\n");
    return false;
  }
  if (rules == CommandLineRules::Converter && output_path == nullptr) {
    log_error("No output file provided\n");
    return false;
  }
  return true;
}
