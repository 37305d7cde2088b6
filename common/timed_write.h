// One register write at an absolute time, the shape in which imported songs
// reach the log writers and the in-memory log reader.
#pragma once

#include <cstdint>

// One register write at an absolute time in microseconds (1 MHz chip ticks)
// from the start of the song. Writes come in time order; writes at the same
// time keep their order.
struct TimedWrite {
  uint64_t time = 0;
  uint8_t reg = 0;
  uint8_t value = 0;
};
