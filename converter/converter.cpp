#include "converter/converter.h"

#include "common/command_line.h"
#include "common/exit_wait.h"
#include "common/files.h"
#include "common/log_writer.h"
#include "common/messages.h"
#include "common/program_start.h"
#include "common/register_log.h"

int convert_register_log(const char* input_path, const char* output_path,
                         OutputFiles& files, InputFiles& inputs) {
  RegisterLog log;
  if (!open_register_log(log, input_path, LogOpenRules::Converter, inputs)) {
    return kConvertCantOpenInput;
  }

  // Creating the output would truncate the log we are about to read.
  FILE* output = nullptr;
  if (!same_file(input_path, output_path)) output = files.open(output_path);
  if (output == nullptr) {
    log_error("Can't create [%s]\n", output_path);
    log.close();
    return kConvertCantCreateOutput;
  }

  int exit_code = kConvertOk;
  int32_t time = 0;
  int32_t previous_time = 0;
  uint8_t reg = 0;
  uint8_t value = 0;
  if (files.write(output, kBinaryMagic, kMagicLength) != kMagicLength) {
    log_error("Can't write to [%s]\n", output_path);
    exit_code = kConvertCantWriteMagic;
  } else if (!read_text_event_time(log.stream, &time, &reg, &value)) {
    if (report_read_error(log, input_path)) {
      exit_code = kConvertCantOpenInput;
    } else {
      log_error("Can't find data in [%s]\n", input_path);
      exit_code = kConvertNoData;
    }
  } else {
    // The first event's own time is the origin: its delay is 0.
    previous_time = time;
    do {
      const uint32_t delay =
          text_delay(static_cast<uint32_t>(previous_time), static_cast<uint32_t>(time));
      if (!write_binary_event(delay, reg, value, output, files)) {
        log_error("Can't write to [%s]\n", output_path);
        exit_code = kConvertCantWriteRecord;
        break;
      }
      previous_time = time;
    } while (read_text_event_time(log.stream, &time, &reg, &value));
    // What was converted stays: the output holds every record before the
    // failed read.
    if (exit_code == kConvertOk && report_read_error(log, input_path)) {
      exit_code = kConvertCantOpenInput;
    }
  }

  log.close();
  // The stream still buffers the last records: a close that fails means they
  // never reached the disk, which must not pass for success.
  if (!files.close(output) && (exit_code == kConvertOk || exit_code == kConvertNoData)) {
    log_error("Can't write to [%s]\n", output_path);
    exit_code =
        exit_code == kConvertNoData ? kConvertCantWriteMagic : kConvertCantWriteRecord;
  }
  return exit_code;
}

namespace {

void wait_at_exit() {
  wait_for_key_unless_prompt();
}

}  // namespace

int converter_main(int argc, const char* const* argv) {
  start_program({"Tubrel", wait_at_exit, "text to binary PSG register log converter"});

  CommandLine command_line;
  if (!command_line.parse(argc, argv, CommandLineRules::Converter)) {
    log_error("Usage: %s inFile -o outFile\n", program_name());
    return kConvertUsage;
  }
  print_progress("Compressing %s to %s\n", command_line.input_path,
                 command_line.output_path);
  return convert_register_log(command_line.input_path, command_line.output_path);
}
