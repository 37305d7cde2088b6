// Zarnik: plays a register log live or renders it into a WAV file.
#pragma once

enum PlayerExit : int {
  kPlayerOk = 0,
  kPlayerUsage = 1,
  kPlayerCantOpen = 2,
};

// The player's whole flow, from the arguments to the exit code (0 to 8).
int player_main(int argc, const char* const* argv);
