#include "mova/status_line.h"

#include <algorithm>

namespace {

constexpr size_t kMinBarCells = 10;
constexpr size_t kMinBarCellsShrunk = 5;  // what the bar may shrink to for the rest
constexpr size_t kMinNameWidth = 8;
constexpr int kShortFormWidth = 40;

bool is_continuation(char c) {
  return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// The first `limit` code points of text.
std::string_view first_points(std::string_view text, size_t limit) {
  size_t points = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (is_continuation(text[i])) continue;
    if (points++ == limit) return text.substr(0, i);
  }
  return text;
}

std::string song_name(const SongStatus& status) {
  if (status.title.empty()) return status.file_name;
  if (status.author.empty()) return status.title;
  return status.title + " - " + status.author;
}

std::string bar(const SongStatus& status, size_t cells) {
  const uint64_t total = status.total_us == 0 ? 1 : status.total_us;
  const uint64_t elapsed = status.elapsed_us < total ? status.elapsed_us : total;
  const auto filled = static_cast<size_t>(elapsed * cells / total);
  // Built in place: one expression trips a false -Wrestrict of GCC 12.
  std::string text(cells + 2, '-');
  text.front() = '[';
  text.replace(1, filled, filled, '#');
  text.back() = ']';
  return text;
}

std::string short_form(const SongStatus& status, size_t room) {
  const std::string state = status.paused ? "|| " : "> ";
  const std::string tail =
      "  " + std::to_string(status.index) + "/" + std::to_string(status.count) + "  " +
      clock_time(status.elapsed_us) + "/" + clock_time(status.total_us);
  const size_t used = state.size() + tail.size();
  if (used + 4 > room)
    return fit_text(
        state + clock_time(status.elapsed_us) + "/" + clock_time(status.total_us), room);
  return state + fit_text(song_name(status), room - used) + tail;
}

}  // namespace

std::string clock_time(uint64_t us) {
  const uint64_t seconds = us / 1000000;
  const uint64_t rest = seconds % 60;
  return std::to_string(seconds / 60) + (rest < 10 ? ":0" : ":") + std::to_string(rest);
}

size_t code_points(std::string_view text) {
  size_t points = 0;
  for (char c : text) points += is_continuation(c) ? 0 : 1;
  return points;
}

std::string fit_text(std::string_view text, size_t limit) {
  if (code_points(text) <= limit) return std::string(text);
  if (limit <= 3) return std::string(first_points(text, limit));
  return std::string(first_points(text, limit - 3)) + "...";
}

std::string status_line(const SongStatus& status, int width) {
  if (width < 2) return {};
  const auto room = static_cast<size_t>(width - 1);
  if (width < kShortFormWidth) return short_form(status, room);
  const std::string state = status.paused ? "|| " : "> ";
  const std::string name = song_name(status);
  // What does not fit goes: the loop count first, then the format.
  for (int detail = 2; detail >= 0; --detail) {
    std::string info = "  ";
    if (detail >= 1) info += status.format + "  ";
    info += std::to_string(status.index) + "/" + std::to_string(status.count) + "  " +
            clock_time(status.elapsed_us) + "/" + clock_time(status.total_us) + "  ";
    if (detail >= 2 && status.looped)
      info += "loop " + std::to_string(status.loop) + "/" + std::to_string(status.loops) +
              "  ";
    const size_t fixed = state.size() + code_points(info) + 2;  // the bar's brackets
    if (fixed + kMinNameWidth + kMinBarCellsShrunk > room) continue;
    const size_t for_name_and_bar = room - fixed;
    const size_t bar_cells_at_least =
        std::min(kMinBarCells, for_name_and_bar - kMinNameWidth);
    const std::string shown = fit_text(name, for_name_and_bar - bar_cells_at_least);
    return state + shown + info + bar(status, for_name_and_bar - code_points(shown));
  }
  return short_form(status, room);
}

std::string plain_song_line(const SongStatus& status) {
  return std::to_string(status.index) + "/" + std::to_string(status.count) + "  " +
         song_name(status) + "  " + clock_time(status.total_us);
}
