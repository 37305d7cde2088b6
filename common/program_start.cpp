#include "common/program_start.h"

#include <cstdlib>

#include "common/file_limits.h"
#include "common/interrupts.h"
#include "common/messages.h"

void start_program(const ProgramStart& start) {
  // First, so that it runs after every outcome.
  if (start.at_exit != nullptr) std::atexit(start.at_exit);
  set_program_name(start.name);
  make_oversized_writes_fail();
  install_interrupt_handling();
  if (start.banner != nullptr) print_banner(start.banner);
}
