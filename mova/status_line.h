// The one-line status of `mova play` on a terminal, and the plain line per
// song when the output is no terminal.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

struct SongStatus {
  std::string title, author;              // UTF-8, empty where the song stores none
  std::string file_name;                  // shown where the song has no title
  std::string format;                     // "YM5!", "VGM 1.71", "log", ...
  int index = 1, count = 1;               // song k of n
  uint64_t elapsed_us = 0, total_us = 0;  // total: the length that will play
  int loop = 1, loops = 1;                // the pass playing now, of how many
  bool looped = false;                    // whether the song loops at all
  bool paused = false;
};

// The status fitted to a terminal `width` columns wide, at most width - 1
// code points (so that the cursor never wraps to the next line):
//   "> Title - Author  YM5!  3/12  1:23/3:05  loop 1/2  [#####-------]"
// ("||" when paused); the progress bar takes the room the rest leaves, the
// name is cut (ending in "...") so that the bar keeps at least 10 cells;
// where even so the line is too long, the loop count goes, then the format.
// Under 40 columns the short form "> Title  3/12  1:23/3:05", cut to fit.
std::string status_line(const SongStatus& status, int width);

// One line per song when the output is no terminal, without escapes:
//   "3/12  Title - Author  3:05"
std::string plain_song_line(const SongStatus& status);

// m:ss, minutes unbounded ("75:03"); seconds rounded down.
std::string clock_time(uint64_t us);

// UTF-8 code points in text (bytes other than continuation bytes).
size_t code_points(std::string_view text);

// text cut to at most `limit` code points, ending in "..." when cut.
std::string fit_text(std::string_view text, size_t limit);
