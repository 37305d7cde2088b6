// What the render targets share: a log cut short enough to render quickly,
// and the header's size fields.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "common/register_log.h"

// About 0.3 s of sound: enough for one flush inside the loop (36868 bytes)
// and a final one.
inline constexpr uint64_t kMaxRenderTicks = 300000;

inline uint32_t le32(const std::string& bytes, size_t at) {
  return static_cast<uint32_t>(static_cast<uint8_t>(bytes[at])) |
         static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + 1])) << 8 |
         static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + 2])) << 16 |
         static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + 3])) << 24;
}

// Reads the log as the renderer will; returns the chip time after the first
// event and sets *keep to the length of the input that stays within the
// bound. False when the log does not open.
inline bool measure(const std::string& path, size_t size, uint64_t* ticks, size_t* keep) {
  RegisterLog log;
  if (!open_register_log(log, path.c_str(), LogOpenRules::Player)) return false;
  *ticks = 0;
  *keep = size;
  uint8_t reg = 0;
  uint8_t value = 0;
  if (log.event_reader(nullptr, &reg, &value)) {
    uint32_t delay = 0;
    for (;;) {
      const long before = log.position();
      if (!log.event_reader(&delay, &reg, &value)) break;
      if (*ticks + delay > kMaxRenderTicks) {
        *keep = static_cast<size_t>(before);
        break;
      }
      *ticks += delay;
    }
  }
  log.close();
  return true;
}
