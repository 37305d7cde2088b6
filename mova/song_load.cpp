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

namespace {

// The writes of two chips in time order, the second's registers moved up by
// 16; at one time the first chip's writes come first.
std::vector<TimedWrite> merge_chips(const std::vector<TimedWrite>& first,
                                    const std::vector<TimedWrite>& second) {
  std::vector<TimedWrite> merged;
  merged.reserve(first.size() + second.size());
  size_t j = 0;
  for (const TimedWrite& write : first) {
    for (; j < second.size() && second[j].time < write.time; ++j) {
      merged.push_back(
          {second[j].time, static_cast<uint8_t>(second[j].reg + 16), second[j].value});
    }
    merged.push_back(write);
  }
  for (; j < second.size(); ++j) {
    merged.push_back(
        {second[j].time, static_cast<uint8_t>(second[j].reg + 16), second[j].value});
  }
  return merged;
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
  if (options.both_chips && song.info.chips.size() > 1) {
    command.second_chip = true;
    ImportResult second;
    if (const int code = import_song_file(command, second); code != kMovaOk) return code;
    song.writes = merge_chips(song.writes, second.writes);
    song.two_chips = true;
  }
  if (song.writes.empty()) {
    report(path.c_str(), "holds no register write");
    return kMovaBadSong;
  }
  song.clock_hz = options.source_chip ? song.info.clock_hz : 1000000;
  song.end_ticks = song.writes.back().time - song.writes.front().time;
  return kMovaOk;
}
