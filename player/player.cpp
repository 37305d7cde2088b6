#include "player/player.h"

#include "audio/rig.h"
#include "common/command_line.h"
#include "common/exit_wait.h"
#include "common/messages.h"
#include "common/program_start.h"
#include "common/register_log.h"

namespace {

void wait_at_exit() {
  print_progress("Done.\n");
  wait_for_key_unless_prompt();
}

}  // namespace

int player_main(int argc, const char* const* argv) {
  start_program({"Zarnik", wait_at_exit, "PSG register log player"});

  CommandLine command_line;
  if (!command_line.parse(argc, argv, CommandLineRules::Player)) {
    log_error("Usage: %s inFile [-o outFile]\n", program_name());
    return kPlayerUsage;
  }
  RegisterLog register_log;
  if (!open_register_log(register_log, command_line.input_path, LogOpenRules::Player)) {
    log_error("Can't open [%s]\n", command_line.input_path);
    return kPlayerCantOpen;
  }
  int code = 0;
  if (command_line.output_path != nullptr) {
    ExactRig rig(EngineKind::Stretches);
    code = rig.render(register_log, command_line.input_path, command_line.output_path);
  } else {
    // Kept to the end of the process: see LiveRig.
    LiveRig* live = new LiveRig;
    code = live->play(register_log, command_line.input_path);
  }
  register_log.close();
  return code;
}
