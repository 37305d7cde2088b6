// import, play and the song half of info: a song file read in full (up to a
// bound), imported in memory, then written as a log or handed to the drivers.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "audio/audio_engine.h"
#include "audio/audio_sink.h"
#include "audio/clock.h"
#include "audio/engine_threads.h"
#include "audio/play_loop.h"
#include "audio/wav_renderer.h"
#include "common/files.h"
#include "common/log_writer.h"
#include "common/register_log.h"
#include "formats/song.h"
#include "mova/mova.h"
#include "mova/output.h"
#include "mova/report.h"
#include "mova/song_info.h"
#include "psg/chip.h"
#include "psg/sample_ring.h"

namespace {

// The largest song file read: far above any real song (the largest VGM rips
// with sample data stay below 20 MiB), low enough to hold in memory.
constexpr size_t kMaxSongBytes = size_t{64} << 20;

// Reads the whole file into bytes. Returns 0, or the exit code after
// reporting why not.
int read_song_file(const char* path, std::vector<uint8_t>& bytes) {
  FILE* stream = std::fopen(path, "rb");
  if (stream == nullptr) {
    report(path, "can't open: %s", std::strerror(errno));
    return kMovaCantRead;
  }
  if (stream_is_directory(stream)) {
    std::fclose(stream);
    report(path, "is a folder, not a song file");
    return kMovaCantRead;
  }
  uint8_t chunk[65536];
  size_t count = 0;
  while ((count = std::fread(chunk, 1, sizeof chunk, stream)) != 0) {
    if (bytes.size() + count > kMaxSongBytes) {
      std::fclose(stream);
      report(path, "more than %llu bytes: too large for a song file",
             static_cast<unsigned long long>(kMaxSongBytes));
      return kMovaBadSong;
    }
    bytes.insert(bytes.end(), chunk, chunk + count);
  }
  const bool failed = std::ferror(stream) != 0;
  std::fclose(stream);
  if (failed) {
    report(path, "can't read: %s", std::strerror(errno));
    return kMovaCantRead;
  }
  return kMovaOk;
}

// Reads and imports the song. Returns 0, or the exit code after reporting
// why not.
int import_song_file(const SongCommand& command, ImportResult& result) {
  std::vector<uint8_t> bytes;
  if (const int code = read_song_file(command.song_path, bytes); code != kMovaOk) {
    return code;
  }
  ImportOptions options;
  options.clock_hz = command.clock_hz;
  options.rate_hz = command.rate_hz;
  options.second_chip = command.second_chip;
  result = import_song(bytes, options);
  switch (result.status) {
    case ImportStatus::Ok: return kMovaOk;
    case ImportStatus::UnknownFormat:
      report(command.song_path, "%s", result.error.c_str());
      return kMovaCantRead;
    case ImportStatus::Malformed: break;
  }
  report(command.song_path, "%s", result.error.c_str());
  return kMovaBadSong;
}

// Whether a log of the form can carry every write; reports the first one it
// cannot.
bool writes_fit(const char* song_path, const std::vector<TimedWrite>& writes,
                LogForm form) {
  const size_t index = first_unwritable_write(writes, form);
  if (index == writes.size()) return true;
  const TimedWrite& before = writes[index - 1];
  const TimedWrite& write = writes[index];
  if (write.time < before.time) {
    report(song_path, "the write at %llu us comes before the one at %llu us",
           static_cast<unsigned long long>(write.time),
           static_cast<unsigned long long>(before.time));
  } else {
    report(song_path, "%llu us pass between the writes at %llu us and %llu us: %s",
           static_cast<unsigned long long>(write.time - before.time),
           static_cast<unsigned long long>(before.time),
           static_cast<unsigned long long>(write.time),
           form == LogForm::Binary
               ? "too long for a binary record (at most 268435455)"
               : "too long for a text log, which reads at most 4294967295 between lines");
  }
  return false;
}

}  // namespace

int import_command(const SongCommand& command) {
  ImportResult result;
  if (const int code = import_song_file(command, result); code != kMovaOk) return code;
  const LogForm form = command.binary ? LogForm::Binary : LogForm::Text;
  if (!writes_fit(command.song_path, result.writes, form)) return kMovaDoesNotFit;

  const char* inputs[] = {command.song_path};
  const OutputResult written =
      write_output(command.output_path, inputs,
                   [&](FILE* stream) { return write_log(result.writes, form, stream); });
  if (written != OutputResult::Ok) return report_output(command.output_path, written);
  print_import_summary(command.song_path, result.info);
  return kMovaOk;
}

int play_command(const SongCommand& command) {
  ImportResult result;
  if (const int code = import_song_file(command, result); code != kMovaOk) return code;
  // The writes play exactly as their text log would: a pause that log cannot
  // carry is refused here as it is on import.
  if (!writes_fit(command.song_path, result.writes, LogForm::Text))
    return kMovaDoesNotFit;
  print_import_summary(command.song_path, result.info);
  if (result.info.chips.size() > 1)
    report(command.song_path,
           "TurboSound: playing the first chip alone (this engine plays one chip)");

  // The player's rig: one ring, one chip, one renderer, one engine.
  static SampleRing ring;
  static Chip chip(ring);
  RegisterLog log;
  open_register_log(log, result.writes);
  chip.install_volume_table(kFullLevels);
  if (command.output_path != nullptr) {
    static WavRenderer renderer(chip, ring);
    return renderer.render(log, command.song_path, command.output_path);
  }
  static AudioEngine engine(chip, ring, system_audio_sink(), system_threads());
  static PlayLoop live(chip, ring, engine, system_clock());
  return live.play(log, command.song_path);
}

int song_info(const char* path) {
  SongCommand command;
  command.song_path = path;
  ImportResult result;
  if (const int code = import_song_file(command, result); code != kMovaOk) return code;
  print_song_info(path, result.info);
  return kMovaOk;
}
