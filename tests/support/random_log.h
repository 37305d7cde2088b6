// Seeded random register logs that reach every corner of the chip.
#pragma once

#include <cstdint>
#include <random>
#include <string>

// A text log of `events` writes: every register (0..15 and a few above),
// every envelope shape, periods of 0 and 1, delays of 0, short delays and
// occasional long ones, times that start anywhere and sometimes go back.
inline std::string random_text_log(uint32_t seed, int events,
                                   uint32_t long_delay = 300000) {
  std::mt19937 random(seed);
  std::string log = "MOVA-TXT\n";
  int32_t time = static_cast<int32_t>(random());
  char line[64];
  for (int i = 0; i < events; ++i) {
    const uint32_t pick = random() % 100;
    uint32_t delay = 0;
    if (pick < 20) {
      delay = 0;
    } else if (pick < 90) {
      delay = random() % 2000;
    } else {
      delay = random() % long_delay;
    }
    time = static_cast<int32_t>(static_cast<uint32_t>(time) + delay);
    uint32_t reg = random() % 16;
    if (random() % 40 == 0) reg = 16 + random() % 240;
    uint32_t value = random() % 256;
    // Small periods are where the generators are busiest.
    if ((reg <= 5 || reg == 6 || reg == 11 || reg == 12) && random() % 3 == 0) {
      value = random() % 3;
    }
    std::snprintf(line, sizeof line, "%d:%02X:%02X\n", time, reg, value);
    log += line;
  }
  return log;
}
