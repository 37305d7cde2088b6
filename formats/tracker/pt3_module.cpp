#include "formats/tracker/pt3_module.h"

#include <cstring>

namespace {

constexpr size_t kHeaderBytes = 201;  // up to the position list
constexpr size_t kPatternTable = 103, kSampleTable = 105, kOrnamentTable = 169;

bool starts_with(std::span<const uint8_t> bytes, const char* text) {
  const size_t length = std::strlen(text);
  return bytes.size() >= length && std::memcmp(bytes.data(), text, length) == 0;
}

// A header field with its padding (spaces, NULs) trimmed at both ends.
std::string trimmed(std::span<const uint8_t> field) {
  size_t begin = 0, end = field.size();
  auto is_pad = [](uint8_t c) { return c == ' ' || c == 0; };
  while (begin < end && is_pad(field[begin])) ++begin;
  while (end > begin && is_pad(field[end - 1])) --end;
  return std::string(field.begin() + static_cast<long>(begin),
                     field.begin() + static_cast<long>(end));
}

}  // namespace

bool looks_like_pt3(std::span<const uint8_t> bytes) {
  return starts_with(bytes, "ProTracker 3.") || starts_with(bytes, "Vortex Tracker II");
}

std::string Pt3Module::parse(std::span<const uint8_t> bytes) {
  bytes_ = bytes;
  if (bytes.size() < kHeaderBytes + 1)
    return "module cut short: " + std::to_string(bytes.size()) +
           " bytes, the header needs " + std::to_string(kHeaderBytes + 1);
  // The tracker reads a digit at 13 as the version and anything else as 3.6.
  const bool digit =
      starts_with(bytes, "ProTracker 3.") && bytes[13] >= '0' && bytes[13] <= '9';
  version_ = digit ? bytes[13] - '0' : 6;
  tracker_ = starts_with(bytes, "ProTracker 3.") ? trimmed(bytes.subspan(0, 14))
                                                 : std::string("Vortex Tracker II");
  title_ = trimmed(bytes.subspan(30, 32));
  author_ = trimmed(bytes.subspan(66, 32));
  tone_table_ = bytes[99];
  if (tone_table_ > 3)
    return "tone table " + std::to_string(tone_table_) + " is not one of 0..3";
  for (size_t at = kHeaderBytes; at < bytes.size() && bytes[at] != 0xFF; ++at) {
    if (bytes[at] % 3 != 0)
      return "position " + std::to_string(at - kHeaderBytes) + " holds " +
             std::to_string(bytes[at]) + ", not a pattern number times 3";
    position_list_.push_back(static_cast<uint8_t>(bytes[at] / 3));
    if (position_list_.size() > 255) return "position list has no end";
  }
  if (position_list_.empty()) return "no positions";
  if (kHeaderBytes + position_list_.size() >= bytes.size())
    return "position list has no end";
  // The header's count is the list's length; the list is what the tracker
  // plays, so a count that disagrees is read as the list.
  loop_position_ = bytes[102];
  if (loop_position_ >= positions())
    return "loop position " + std::to_string(loop_position_) + " beyond the song's " +
           std::to_string(positions()) + " positions";
  return {};
}

bool Pt3Module::channel_stream(int pattern, int channel, size_t& offset) const {
  const size_t entry =
      word(kPatternTable) + static_cast<size_t>(pattern) * 6 + channel * 2;
  if (!holds(entry, 2)) return false;
  offset = word(entry);
  return true;
}

// Sample numbers above 31 (a byte's high half) read on past the table, as
// the routine does, as far as the module reaches.
bool Pt3Module::sample_offset(int sample, size_t& offset) const {
  const size_t entry = kSampleTable + static_cast<size_t>(sample) * 2;
  if (!holds(entry, 2)) {
    offset = entry;
    return false;
  }
  offset = word(entry);
  return holds(offset, 2);
}

bool Pt3Module::ornament_offset(int ornament, size_t& offset) const {
  offset = word(kOrnamentTable + static_cast<size_t>(ornament) * 2);
  return holds(offset, 2);
}
