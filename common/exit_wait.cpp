#include "common/exit_wait.h"

#include <cstdio>
#include <cstdlib>

#include "common/console.h"

void wait_for_key_unless_prompt() {
  if (std::getenv("PROMPT") != nullptr) return;
  // Whatever was printed must be on screen before the program sits waiting.
  std::fflush(stdout);
  std::fflush(stderr);
  console_wait_for_key();
}
