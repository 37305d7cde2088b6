// The logs the render benchmarks time, written on demand so that no large
// file lives in the repository: a sparse one (long notes on three tones, no
// noise heard, no envelope followed) and a dense one (three tones at the
// shortest periods, noise at period 1, a running envelope at period 1, a
// write every 100 ticks).
#pragma once

#include <cstdint>
#include <cstdio>
#include <random>
#include <string>

namespace stress_logs {

inline void append_write(std::string* log, uint32_t time, unsigned reg, unsigned value) {
  char line[32];
  std::snprintf(line, sizeof line, "%u:%02X:%02X\n", time, reg, value);
  *log += line;
}

// Notes of a quarter to one second on each channel, at tone periods of 71 to
// 568 (110 to 880 Hz), fixed volumes. The noise and envelope periods are set
// but nothing listens to them, as in many real songs.
inline std::string sparse_log(uint32_t seconds, uint32_t seed = 1) {
  std::mt19937 random(seed);
  std::string log = "MOVA-TXT\n";
  append_write(&log, 0, 6, 0x10);
  append_write(&log, 0, 7, 0x38);  // three tones, no noise
  append_write(&log, 0, 11, 0x40);
  append_write(&log, 0, 13, 0x0E);
  const uint32_t end = seconds * 1000000u;
  uint32_t next_note[3] = {0, 0, 0};
  for (;;) {
    int channel = 0;
    for (int i = 1; i < 3; ++i) {
      if (next_note[i] < next_note[channel]) channel = i;
    }
    const uint32_t time = next_note[channel];
    if (time >= end) break;
    const unsigned period = 71 + random() % 498;
    append_write(&log, time, 2 * channel, period & 0xFF);
    append_write(&log, time, 2 * channel + 1, period >> 8);
    append_write(&log, time, 8 + channel, 8 + random() % 8);
    next_note[channel] = time + 250000 + random() % 750000;
  }
  append_write(&log, end, 7, 0x3F);
  return log;
}

// Everything at its busiest: tones at periods 1 to 16, noise at period 1 on
// every channel, all three channels following the envelope at period 1 on
// shape 14, and one tone period write every 100 ticks.
inline std::string dense_log(uint32_t seconds, uint32_t seed = 1) {
  std::mt19937 random(seed);
  std::string log = "MOVA-TXT\n";
  append_write(&log, 0, 6, 1);
  append_write(&log, 0, 7, 0x00);
  for (unsigned channel = 0; channel < 3; ++channel) {
    append_write(&log, 0, 2 * channel, 1 + channel);
    append_write(&log, 0, 2 * channel + 1, 0);
    append_write(&log, 0, 8 + channel, 0x10);
  }
  append_write(&log, 0, 11, 1);
  append_write(&log, 0, 12, 0);
  append_write(&log, 0, 13, 0x0E);
  const uint32_t end = seconds * 1000000u;
  unsigned channel = 0;
  for (uint32_t time = 100; time <= end; time += 100) {
    append_write(&log, time, 2 * channel, 1 + random() % 16);
    channel = (channel + 1) % 3;
  }
  return log;
}

}  // namespace stress_logs
