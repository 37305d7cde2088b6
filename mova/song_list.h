// The list of things `mova play` and `mova render` play, from their
// arguments: song files, register logs, folders and M3U playlists.
//
// Each argument expands in place, in order:
//   - a file is recognised by its first bytes: a song (formats/'s
//     looks_like_song) or a register log ("MOVA-TXT" or "MOVA-BIN" and a line
//     end); failing both, a file whose name ends in .m3u or .m3u8 (any case)
//     is a playlist; anything else is skipped with a problem line;
//   - a folder is searched recursively, its names sorted byte by byte at
//     every level, so the list comes out sorted by path; inside a folder
//     playlists are left out (they name songs of the folder again), every
//     other file that is no song or log costs a problem line; a folder
//     reached a second time (through a link, or named twice) adds nothing;
//   - a playlist is UTF-8 text (a byte order mark is skipped), one entry a
//     line, CR LF read like LF, blank lines and lines starting with '#'
//     ignored, surrounding blanks trimmed; relative entries are relative to
//     the playlist's folder; an entry may be a song, a log, a folder or
//     another playlist; a missing entry costs a problem line; a playlist
//     that names itself, directly or through others, is not entered again.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum class EntryKind : uint8_t { Song, TextLog, BinaryLog };

struct ListEntry {
  std::string path;  // as named, or the playlist's folder joined to its entry
  EntryKind kind = EntryKind::Song;
};

struct SongList {
  std::vector<ListEntry> entries;
  // One line each, without the program name and line end: "FILE: what is
  // wrong", e.g. "notes.txt: not a song, register log or playlist".
  std::vector<std::string> problems;
};

SongList expand_song_arguments(const std::vector<std::string>& arguments);

// Writes each problem as "mova: PROBLEM" to the standard error.
void print_problems(const std::vector<std::string>& problems);

// Puts the entries in a random order that depends only on the seed, the same
// on every platform: a Fisher-Yates shuffle (for i from n-1 down to 1, swap
// entry i with entry j, j uniform in 0..i) drawing from std::mt19937_64
// seeded with seed, each j taken as r % (i+1) from the first draw r that is
// not below 2^64 mod (i+1), so that every j is equally likely.
void shuffle_entries(std::vector<ListEntry>& entries, uint64_t seed);
