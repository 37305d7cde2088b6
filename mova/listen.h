// Listening and archiving: `mova play` (live, or one song into a file) and
// `mova render` (a whole list into a folder), over lists of songs, logs,
// folders and playlists, with loops and a fade-out.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "formats/song_length.h"

struct ListenOptions {
  std::vector<std::string> inputs;
  const char* output_path = nullptr;  // play -o: one song into a file ("-": stdout)
  const char* folder = nullptr;       // render -d
  bool flac = false;                  // render --format flac
  int jobs = 0;                       // render -j; 0: one per core
  LengthOptions length;
  bool shuffle = false;
  bool seeded = false;
  uint64_t seed = 0;
  bool repeat = false;
  bool exact = false;
  // The studio engine's: "ay" or "ym" (empty: what the song was made for),
  // "abc", "acb" or "mono" (empty: the song's own layout, else abc), and the
  // frames per second.
  std::string chip;
  std::string stereo;
  uint32_t sample_rate = 44100;
  uint32_t clock_hz = 0;  // --clock and --rate
  double rate_hz = 0;
};

int listen_play(const ListenOptions& options);
int listen_render(const ListenOptions& options);
