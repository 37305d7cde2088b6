#include "mova/song_load.h"

#include <cmath>
#include <cstring>

#include "common/register_log.h"
#include "mova/mova.h"
#include "mova/report.h"

bool is_register_log(const std::vector<uint8_t>& bytes) {
  const auto starts = [&](const char* magic) {
    return bytes.size() >= 8 && std::memcmp(bytes.data(), magic, 8) == 0;
  };
  return starts(kTextMagic) || starts(kBinaryMagic);
}

namespace {

int load_log(const std::string& path, LoadedSong& song) {
  RegisterLog log;
  if (!open_register_log(log, path.c_str(), LogOpenRules::Player)) {
    return kMovaCantRead;
  }
  song.is_log = true;
  song.info.format =
      log.form == LogForm::Text ? "text register log" : "binary register log";
  uint8_t reg = 0;
  uint8_t value = 0;
  uint64_t time = 0;
  if (log.first_write(&reg, &value)) {
    song.writes.push_back({0, reg, value});
    for (uint64_t delay = 0; log.next_write(&delay, &reg, &value);) {
      time += delay;
      song.writes.push_back({time, reg, value});
    }
  }
  const bool failed = log.read_failed();
  log.close();
  if (failed) {
    report(path.c_str(), "can't read");
    return kMovaCantRead;
  }
  if (song.writes.empty()) {
    report(path.c_str(), "holds no register write");
    return kMovaCantRead;
  }
  song.end_ticks = time;
  song.info.duration_us = time;
  return kMovaOk;
}

}  // namespace

int load_song(const std::string& path, const LoadOptions& options, LoadedSong& song) {
  song = LoadedSong{};
  song.path = path;
  std::vector<uint8_t> head;
  if (const int code = read_file_head(path.c_str(), head, 16); code != kMovaOk) {
    return code;
  }
  if (is_register_log(head)) return load_log(path, song);

  SongCommand command;
  command.song_path = path.c_str();
  command.clock_hz = options.clock_hz;
  command.rate_hz = options.rate_hz;
  command.source_chip = options.source_chip;
  ImportResult result;
  if (const int code = import_song_file(command, result); code != kMovaOk) return code;
  song.info = std::move(result.info);
  song.writes = std::move(result.writes);
  if (song.writes.empty()) {
    report(path.c_str(), "holds no register write");
    return kMovaBadSong;
  }
  song.clock_hz = options.source_chip ? song.info.clock_hz : 1000000;
  song.end_ticks = song.writes.back().time - song.writes.front().time;
  if (song.info.loop_frame >= 0 && song.info.rate_hz > 0 &&
      static_cast<uint64_t>(song.info.loop_frame) < song.info.frames) {
    song.loop_ticks = std::llround(static_cast<double>(song.info.loop_frame) *
                                   song.clock_hz / song.info.rate_hz);
  }
  return kMovaOk;
}
