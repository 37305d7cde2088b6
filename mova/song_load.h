// One entry of a play or render list loaded for playing: a song file
// imported in memory, or a register log read whole, as timed writes with the
// clock their times count.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/timed_write.h"
#include "formats/song.h"

struct LoadedSong {
  std::string path;
  bool is_log = false;     // a register log: played exactly as zarnik plays it
  bool two_chips = false;  // the writes address a second chip from register 16
  SongInfo info;           // what the song says of itself (a log: its form only)
  std::vector<TimedWrite> writes;
  uint32_t clock_hz = 1000000;  // ticks per second of the writes' times
  uint64_t end_ticks = 0;       // the last write's time: where the song ends
};

struct LoadOptions {
  uint32_t clock_hz = 0;  // --clock and --rate; 0: what the file says
  double rate_hz = 0;
  bool source_chip = false;  // the writes for the song's own chip and clock
  // A TurboSound file's two chips in one list of writes, the second chip's
  // registers numbered from 16 (for an engine with two chips).
  bool both_chips = false;
};

// Loads path. Returns 0, or the exit code after reporting one line
// ("mova: FILE: what is wrong").
int load_song(const std::string& path, const LoadOptions& options, LoadedSong& song);

// Whether bytes start like a register log.
bool is_register_log(const std::vector<uint8_t>& bytes);
