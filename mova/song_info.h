// What mova tells about a song: the one-line summary after an import, and
// the description `info` prints.
#pragma once

#include "common/input_file.h"
#include "formats/song.h"

// Prints "SONG: format, clock, rate, frames, duration, writes; notes" as one
// line to the standard error.
void print_import_summary(const char* song_path, const SongInfo& info);

// Prints what the song file holds and what an import makes of it to the
// standard output.
void print_song_info(const char* song_path, const SongInfo& info);

// info for a song file: reads and imports it, prints its description.
// Returns the exit code.
int song_info(const char* path, InputFiles& inputs);
