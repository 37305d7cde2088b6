#include "audio/play_loop.h"

#include "common/messages.h"

int play_loop(RegisterLog& log, const char* input_path) {
  (void)log;
  print_progress("Starting to play [%s]\n", input_path);
  // No sound device can be opened on this build.
  log_error("Can't start sound engine\n");
  return kPlayNoEngine;
}
