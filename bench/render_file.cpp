// Renders one log to one file by either path, for whole-process timing of the
// tick-by-tick renderer next to the player's: render_file ticks|stretches
// LOG OUT. Exit code: the renderer's.
#include <cstdio>
#include <cstring>

#include "audio/wav_renderer.h"
#include "common/messages.h"

namespace {

SampleRing ring;
Chip chip(ring);
WavRenderer renderer(chip, ring);
RegisterLog register_log;

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4 ||
      (std::strcmp(argv[1], "ticks") != 0 && std::strcmp(argv[1], "stretches") != 0)) {
    std::fprintf(stderr, "Usage: render_file ticks|stretches LOG OUT\n");
    return 2;
  }
  set_program_name("render_file");
  if (!open_register_log(register_log, argv[2], LogOpenRules::Player)) return 1;
  chip.install_volume_table(kFullLevels);
  renderer.path =
      std::strcmp(argv[1], "ticks") == 0 ? RenderPath::TickByTick : RenderPath::Stretches;
  const int code = renderer.render(register_log, argv[2], argv[3]);
  register_log.close();
  return code;
}
