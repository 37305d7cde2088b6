// Small register logs written by tests.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "common/register_log.h"
#include "common/version.h"

inline const std::string kTextHeader = "MOVA-TXT\n";
inline const std::string kBinaryHeader = "MOVA-BIN\n";

// The banners, as each program prints them first, with the release's version.
inline const std::string kZarnikBanner =
    std::string("Zarnik ") + kVersion + " - PSG register log player\n";
inline const std::string kTubrelBanner =
    std::string("Tubrel ") + kVersion + " - text to binary PSG register log converter\n";

// One event as a driver receives it.
struct LogEvent {
  uint32_t delay;
  uint8_t reg;
  uint8_t value;
  bool operator==(const LogEvent&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const LogEvent& e) {
  return out << "{" << e.delay << ", " << int{e.reg} << ", " << int{e.value} << "}";
}

// Reads the whole log as a driver does: the first event without a delay.
inline std::vector<LogEvent> read_all_events(WriteSource& source) {
  std::vector<LogEvent> read;
  LogEvent e{};
  if (!source.first_write(&e.reg, &e.value)) return read;
  read.push_back(e);
  for (uint64_t delay = 0; source.next_write(&delay, &e.reg, &e.value);) {
    e.delay = static_cast<uint32_t>(delay);
    read.push_back(e);
  }
  return read;
}
