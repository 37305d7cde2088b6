// Tubrel: converts a text register log into the compact binary form.
#pragma once

#include <cstdint>
#include <cstdio>

#include "common/input_file.h"
#include "common/log_writer.h"
#include "common/output_file.h"

// Exit codes of the converter.
enum ConverterExit : int {
  kConvertOk = 0,
  kConvertUsage = 1,
  kConvertCantOpenInput = 2,
  kConvertCantCreateOutput = 3,
  kConvertCantWriteMagic = 4,
  kConvertNoData = 5,
  kConvertCantWriteRecord = 6,
};

// Converts input_path to output_path after the command line has been parsed
// and the "Compressing" line printed. Returns the exit code (2 also for a
// read that failed midway); never deletes the output.
int convert_register_log(const char* input_path, const char* output_path,
                         OutputFiles& files = stdio_output_files(),
                         InputFiles& inputs = stdio_input_files());

// The converter's whole flow, from the arguments to the exit code.
int converter_main(int argc, const char* const* argv);
