// mova: imports song files into register logs, plays them, and dumps,
// describes and checks logs. Every flow returns its exit code.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Exit codes. 3 to 8 are also the player's, and `mova play` returns the
// player's codes for the playing part.
enum MovaExit : int {
  kMovaOk = 0,
  kMovaFindings = 1,     // check: a log has problems; dump: not an exact inverse
  kMovaCantRead = 2,     // an input can't be read, or is no log (or song) at all
  kMovaCantCreate = 3,   // the output can't be created, or names an input
  kMovaBadSong = 9,      // a song file that is malformed, cut short or too large
  kMovaCantWrite = 10,   // writing the output failed
  kMovaDoesNotFit = 11,  // the song's writes do not fit the log form
  kMovaUsage = 64,       // command-line error
};

// What the import commands take from the command line.
struct SongCommand {
  const char* song_path = nullptr;
  const char* output_path = nullptr;  // null or "-": the standard output
  bool binary = false;
  uint32_t clock_hz = 0;  // 0: what the file says
  double rate_hz = 0;
  bool second_chip = false;  // import: a TurboSound file's second chip
};

int import_command(const SongCommand& command);
int play_command(const SongCommand& command);
// dump: one binary log to the text form.
int dump_command(const char* log_path, const char* output_path);
// info and check: any number of files; the exit code is the worst one.
int info_command(const std::vector<const char*>& paths);
int check_command(const std::vector<const char*>& paths);

// The whole program, from the arguments to the exit code.
int mova_main(int argc, const char* const* argv);
