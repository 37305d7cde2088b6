// How long a song plays: its looped part repeated and a fade-out after the
// last loop, and the writes that play it.
//
// A song of duration D whose repeated part starts at time T plays the whole
// song once and the part from T to D another (loops - 1) times, and then goes
// on playing (looping as needed) for the fade's length while the sound fades
// to silence: loops end at D + (D - T) * (loops - 1), for a song of F frames
// looping from frame L that is F + (F - L) * (loops - 1) frames. A song
// without a loop point plays once without a fade, as does every register log
// (the caller gives it no SongInfo loop). loops 1 with fade 0 plays the
// imported writes unchanged.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "common/timed_write.h"
#include "formats/song.h"

struct LengthOptions {
  int loops = 2;      // times the looped part plays, at least 1
  double fade_s = 8;  // seconds of fade after the last loop, at least 0
};

struct SongLength {
  bool looped = false;         // whether the song has a loop point
  int loops = 1;               // times the looped part plays
  uint64_t loop_start_us = 0;  // the looped part in the imported writes
  uint64_t song_end_us = 0;    // the imported song's end (D)
  uint64_t fade_start_us = 0;  // the end of the last loop: the fade starts
  uint64_t end_us = 0;         // the fade's end, or fade_start_us without one
};

SongLength song_length(const SongInfo& info, const LengthOptions& options);

// A register log or any song played once: no loop, no fade.
SongLength played_once(uint64_t duration_us);

// The writes that play the song for `length`: the imported writes up to the
// song's end, then for each further pass the registers' values at the loop
// point the first time round (0..12 always; 13 only when it differs from its
// value at the end of the pass before, since writing it restarts the
// envelope) followed by the looped part's writes, moved in time; cut at the
// fade's end, where the mixer (register 7) is written again with its value
// so that a player plays up to that time (in place of the import's own
// closing write at the song's end). Played once (no loop, or loops 1 and no
// fade) the writes are returned unchanged.
std::vector<TimedWrite> writes_to_play(std::span<const TimedWrite> writes,
                                       const SongLength& length);
