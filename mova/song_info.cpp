#include "mova/song_info.h"

#include <cstdio>
#include <string>

#include "common/messages.h"
#include "mova/report.h"

namespace {

std::string joined(const std::vector<std::string>& items) {
  if (items.empty()) return "none";
  std::string text;
  for (const std::string& item : items) {
    if (!text.empty()) text += ", ";
    text += printable(item);
  }
  return text;
}

std::string rate_text(double rate_hz) {
  if (rate_hz <= 0) return "no frame rate";
  char text[32];
  std::snprintf(text, sizeof text, "%g Hz", rate_hz);
  return text;
}

std::string tuning_text(const SongInfo& info) {
  char text[96];
  std::snprintf(text, sizeof text, "tuning error %.2f cents mean, %.2f worst",
                info.tuning_mean_cents, info.tuning_worst_cents);
  return text;
}

}  // namespace

void print_import_summary(const char* song_path, const SongInfo& info) {
  std::string line =
      printable(info.format) + ", " + std::to_string(info.clock_hz) + " Hz, " +
      rate_text(info.rate_hz) + ", " + std::to_string(info.frames) + " frames, " +
      duration_text(info.duration_us) + ", " + std::to_string(info.writes) +
      " writes; effects imported: " + joined(info.effects) +
      "; writes skipped: " + std::to_string(info.skipped_writes) +
      "; restarts added: " + std::to_string(info.restarts_added) + "; " +
      tuning_text(info);
  for (const std::string& note : info.notes) line += "; " + printable(note, 200);
  std::fprintf(stderr, "%s: %s\n", one_line(song_path).c_str(), line.c_str());
}

void print_song_info(const char* song_path, const SongInfo& info) {
  std::printf("%s: %s song\n", one_line(song_path).c_str(),
              printable(info.format).c_str());
  if (!info.title.empty()) std::printf("  title: %s\n", printable(info.title).c_str());
  if (!info.author.empty()) std::printf("  author: %s\n", printable(info.author).c_str());
  if (!info.comment.empty()) {
    std::printf("  comment: %s\n", printable(info.comment, 200).c_str());
  }
  if (info.chips.size() > 1) {
    std::printf("  TurboSound: %u chips\n", static_cast<unsigned>(info.chips.size()));
  }
  for (size_t chip = 0; chip < info.chips.size(); ++chip) {
    std::printf("  chip %u: %s\n", static_cast<unsigned>(chip + 1),
                printable(info.chips[chip], 300).c_str());
  }
  if (!info.stereo.empty()) std::printf("  stereo: %s\n", info.stereo.c_str());
  std::printf("  chip clock: %u Hz\n", static_cast<unsigned>(info.clock_hz));
  // A VGM is timed in samples: it has no frames to tell of.
  if (info.framed) {
    std::printf("  frame rate: %s\n", rate_text(info.rate_hz).c_str());
    std::printf("  frames: %llu\n", static_cast<unsigned long long>(info.frames));
  }
  std::printf("  duration: %s\n", duration_text(info.duration_us).c_str());
  if (info.loop_frame >= 0) {
    std::printf("  loop frame: %lld\n", static_cast<long long>(info.loop_frame));
  } else if (info.framed) {
    std::printf("  loop frame: none\n");
  }
  std::printf("  effects: %s\n", joined(info.effects).c_str());
  if (!info.other_chips.empty()) {
    std::printf("  other chips: %s\n", joined(info.other_chips).c_str());
  }
  std::printf("  import: %llu writes, %llu skipped, %llu restarts added, %s\n",
              static_cast<unsigned long long>(info.writes),
              static_cast<unsigned long long>(info.skipped_writes),
              static_cast<unsigned long long>(info.restarts_added),
              tuning_text(info).c_str());
  for (const std::string& note : info.notes) {
    std::printf("  note: %s\n", printable(note, 200).c_str());
  }
}
