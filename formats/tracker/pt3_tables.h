// The numbers the Pro Tracker 3 replayer computes with: its four tone tables
// (three of them in an older and a newer variant) and its two volume tables.
#pragma once

#include <array>
#include <cstdint>

using Pt3ToneTable = std::array<uint16_t, 96>;

// The tone table a module plays with: `table` is the header's byte 99 (0 to
// 3), `version` the header's version digit. Table 1 has one variant; 0, 2
// and 3 use their older variant up to version 3.3.
const Pt3ToneTable& pt3_tone_table(int table, int version);

// Channel volume (0..15) times sample amplitude (0..15), the way the tracker
// scales it: rounded (`rounded`, the tracker's playback of 3.3 and later)
// or truncated with a coarser step (earlier versions).
class Pt3VolumeTable {
 public:
  explicit Pt3VolumeTable(bool rounded);
  uint8_t at(int volume, int amplitude) const { return cells_[volume * 16 + amplitude]; }

 private:
  std::array<uint8_t, 256> cells_{};
};
