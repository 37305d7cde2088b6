// What every program does first, in this order: registers its wait at exit,
// names itself for its diagnostics, makes oversized writes fail instead of
// ending the process, installs its interruption handling, and prints its
// banner.
#pragma once

struct ProgramStart {
  const char* name = nullptr;    // in front of every diagnostic ("Zarnik")
  void (*at_exit)() = nullptr;   // run at every normal end; null for none
  const char* banner = nullptr;  // the banner's description; null for none
};

void start_program(const ProgramStart& start);
