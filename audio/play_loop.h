// Live play: runs the chip in step with the sound card.
#pragma once

#include "common/register_log.h"

// Exit codes of live play (the player's codes 3 to 5).
enum PlayExit : int {
  kPlayOk = 0,
  kPlayNoEngine = 3,
  kPlayNoData = 4,
  kPlayNoClock = 5,
};

// Plays the open log (at its first event) on the default sound device and
// returns the exit code. Leaves the log open.
int play_loop(RegisterLog& log, const char* input_path);
