// Renders one log to one file by either engine, for whole-process timing of
// the tick-by-tick renderer next to the player's: render_file ticks|stretches
// LOG OUT. Exit code: the renderer's.
#include <cstdio>
#include <cstring>

#include "audio/rig.h"
#include "common/messages.h"
#include "common/register_log.h"

int main(int argc, char** argv) {
  if (argc != 4 ||
      (std::strcmp(argv[1], "ticks") != 0 && std::strcmp(argv[1], "stretches") != 0)) {
    std::fprintf(stderr, "Usage: render_file ticks|stretches LOG OUT\n");
    return 2;
  }
  set_program_name("render_file");
  RegisterLog register_log;
  if (!open_register_log(register_log, argv[2], LogOpenRules::Player)) return 1;
  ExactRig rig(std::strcmp(argv[1], "ticks") == 0 ? EngineKind::Ticks
                                                  : EngineKind::Stretches);
  const int code = rig.render(register_log, argv[2], argv[3]);
  register_log.close();
  return code;
}
