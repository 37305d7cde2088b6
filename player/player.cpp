#include "player/player.h"

#include <cstdlib>

#include "audio/audio_engine.h"
#include "audio/audio_sink.h"
#include "audio/clock.h"
#include "audio/engine_threads.h"
#include "audio/play_loop.h"
#include "audio/sample_ring.h"
#include "audio/wav_renderer.h"
#include "common/command_line.h"
#include "common/exit_wait.h"
#include "common/file_limits.h"
#include "common/interrupts.h"
#include "common/messages.h"
#include "common/register_log.h"
#include "psg/chip.h"

namespace {

// The program's one ring, one chip, one renderer, one engine, one log.
SampleRing ring;
Chip chip(ring);
WavRenderer renderer(chip, ring);
AudioEngine engine(chip, ring, system_audio_sink(), system_threads());
PlayLoop live(chip, ring, engine, system_clock());
RegisterLog register_log;

void wait_at_exit() {
  print_progress("Done.\n");
  wait_for_key_unless_prompt();
}

}  // namespace

int player_main(int argc, const char* const* argv) {
  std::atexit(wait_at_exit);
  set_program_name("Zarnik");
  make_oversized_writes_fail();
  install_interrupt_handling();
  print_banner("PSG register log player");

  CommandLine command_line;
  if (!command_line.parse(argc, argv, CommandLineRules::Player)) {
    log_error("Usage: %s inFile [-o outFile]\n", program_name());
    return kPlayerUsage;
  }
  if (!open_register_log(register_log, command_line.input_path, LogOpenRules::Player)) {
    log_error("Can't open [%s]\n", command_line.input_path);
    return kPlayerCantOpen;
  }
  // Rendering uses the full levels; live play replaces them with the quartered
  // ones once the sound device is open.
  chip.install_volume_table(kFullLevels);

  const int code = command_line.output_path != nullptr
                       ? renderer.render(register_log, command_line.input_path,
                                         command_line.output_path)
                       : live.play(register_log, command_line.input_path);
  register_log.close();
  return code;
}
