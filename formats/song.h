// Song files (YM, PSG, VGM/VGZ) turned into timed register writes for the
// 1 MHz chip of our register logs, with a short description of the song.
//
// This folder knows nothing of the chip's emulation or of sound: it turns
// bytes into (time, register, value) and a description. The log writers in
// common/ turn the writes into a log; `mova play` hands them to the drivers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "common/timed_write.h"

// Overrides from the command line; 0 means "what the file says".
struct ImportOptions {
  uint32_t clock_hz = 0;
  double rate_hz = 0;
  // The writes for the source chip itself: times in cycles of its clock, the
  // values as the song has them (nothing rescaled), for an engine that runs
  // at the song's own clock. Otherwise, for the 1 MHz chip of our logs.
  bool source_chip = false;
  bool second_chip = false;  // TurboSound: import the second chip's module
};

// What a song file holds, as far as its format tells, and what the import did.
struct SongInfo {
  std::string format;  // "YM5!", "YM3b", "PSG", "VGM 1.71", "VGZ 1.50", ...
  std::string title, author, comment;  // empty where the format stores none
  uint32_t clock_hz = 0;               // the source chip's clock
  std::string chip_type;               // "ay" (AY-3-8910 family) or "ym" (YM2149)
  double rate_hz = 0;                  // frames per second (VGM: its own rate or 0)
  uint64_t frames = 0;                 // frame count (VGM: 0)
  bool framed = true;                  // false: timed in samples, no frames (VGM)
  uint64_t duration_us = 0;            // length of the imported log
  int64_t loop_frame = -1;             // -1 when none is stored
  // Where the repeated part starts in the imported writes (YM: the loop
  // frame's time; VGM: the time its loop offset points at); -1 when the song
  // stores no usable loop point.
  int64_t loop_time_us = -1;
  std::vector<std::string>
      effects;  // YM: "SID voice", "sinus SID", "digidrums", "sync buzzer"
  std::vector<std::string> other_chips;  // VGM: chips other than the PSG present
  std::vector<std::string> chips;        // TurboSound: one line about each chip's module
  // VTX: the stereo layout its header names ("mono", "ABC", "ACB", ...), the
  // default layout of a stereo engine; empty where the format names none.
  std::string stereo;
  // What the import did, for the one-line summary.
  uint64_t writes = 0;          // writes in the imported log
  uint64_t skipped_writes = 0;  // e.g. VGM writes to a second PSG
  uint64_t restarts_added = 0;  // frames where a period change restarts an envelope
  double tuning_mean_cents = 0, tuning_worst_cents = 0;  // rescaled tone periods
  std::vector<std::string> notes;  // anything else the user should know
};

enum class ImportStatus : uint8_t {
  Ok,
  UnknownFormat,  // no known magic: not a song file
  Malformed,      // a song file, but cut short, inconsistent or hostile
};

struct ImportResult {
  ImportStatus status = ImportStatus::Ok;
  std::string error;  // one line without the file name, e.g.
                      // "register data cut short: 18,432 of 98,304 bytes"
  std::vector<TimedWrite> writes;
  SongInfo info;
};

// Recognises the format from the content (never the name), unpacks LHA or
// gzip where needed and imports the song. Never reads out of bounds and never
// allocates more than the input can justify.
ImportResult import_song(std::span<const uint8_t> bytes, const ImportOptions& options);

// How many leading bytes looks_like_song() needs at most.
inline constexpr size_t kSongMagicBytes = 32;

// Whether the file's first bytes carry a magic that import_song() takes up: a
// YM variant, PSG, VGM, VTX, a Pro Tracker 3 module, an LHA archive or a
// gzip stream. Cheap, for sorting
// the files of a folder; whether the song then imports is import_song()'s
// finding (an archive or gzip stream may hold something else).
bool looks_like_song(std::span<const uint8_t> head);
