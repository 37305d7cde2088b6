// mova: imports song files into register logs, plays them, and dumps,
// describes and checks logs. Every flow returns its exit code.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/input_file.h"
#include "common/register_log.h"
#include "formats/song.h"

// Exit codes. 3 to 8 are also the player's, and `mova play` returns the
// player's codes for the playing part.
enum MovaExit : int {
  kMovaOk = 0,
  kMovaFindings = 1,       // check: a log has problems; dump: not an exact inverse
  kMovaCantRead = 2,       // an input can't be read, or is no log (or song) at all
  kMovaCantCreate = 3,     // the output can't be created, or names an input
  kMovaBadSong = 9,        // a song file that is malformed, cut short or too large
  kMovaCantWrite = 10,     // writing the output failed
  kMovaDoesNotFit = 11,    // the song's writes do not fit the log form
  kMovaUsage = 64,         // command-line error
  kMovaInterrupted = 130,  // stopped by Ctrl-C, as a shell reports SIGINT
};

// What the import commands take from the command line.
struct SongCommand {
  const char* song_path = nullptr;
  const char* output_path = nullptr;  // null or "-": the standard output
  bool binary = false;
  uint32_t clock_hz = 0;  // 0: what the file says
  double rate_hz = 0;
  bool source_chip = false;      // the writes for the song's own chip and clock
  InputFiles* inputs = nullptr;  // null: the standard library's files
  bool second_chip = false;      // import: a TurboSound file's second chip
};

// Reads and imports the song file. Returns 0, or the exit code after
// reporting why not.
int import_song_file(const SongCommand& command, ImportResult& result);
// Whether a log of the form can carry every write; reports the first one it
// cannot.
bool writes_fit(const char* song_path, const std::vector<TimedWrite>& writes,
                LogForm form);
// Reads up to max_bytes from the start of path into bytes. Returns 0, or the
// exit code after reporting why not.
int read_file_head(const char* path, std::vector<uint8_t>& bytes, size_t max_bytes);

int import_command(const SongCommand& command);
// dump: one binary log to the text form.
// Inputs are opened through inputs, "-" being the standard input.
int dump_command(const char* log_path, const char* output_path, InputFiles& inputs);
// info and check: any number of files; the exit code is the worst one.
int info_command(const std::vector<const char*>& paths, InputFiles& inputs);
int check_command(const std::vector<const char*>& paths, InputFiles& inputs);

// The whole program, from the arguments to the exit code; every input is
// opened through files.
int mova_main(int argc, const char* const* argv, InputFiles& files = stdio_input_files());
