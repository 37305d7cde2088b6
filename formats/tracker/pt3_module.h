// A Pro Tracker 3 module, checked where its header points and read with
// bounds: every read of the replayer goes through here.
//
// Layout (16-bit values little-endian): "ProTracker 3.", the version digit at
// 13 (or another text, e.g. "Vortex Tracker II"); the title's 32 bytes at
// 30 and the author's at 66; the tone table at 99, the speed at 100, the
// number of positions at 101, the loop position at 102; the offset of the
// pattern table at 103, 32 sample offsets at 105, 16 ornament offsets at 169,
// and the position list at 201 (pattern number times 3 each, 0xFF after the
// last). A pattern is three offsets of channel streams; a sample is its loop
// and length bytes, then 4 bytes a line; an ornament its loop and length
// bytes, then one signed note offset a line.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

class Pt3Module {
 public:
  // Parses the header and the position list. Returns an empty string when
  // the module can be played, else the reason.
  std::string parse(std::span<const uint8_t> bytes);

  int version() const { return version_; }  // 0..9; 6 when no digit
  int tone_table() const { return tone_table_; }
  int speed() const { return bytes_[100]; }
  int loop_position() const { return loop_position_; }
  int positions() const { return static_cast<int>(position_list_.size()); }
  const std::string& title() const { return title_; }
  const std::string& author() const { return author_; }
  const std::string& tracker() const { return tracker_; }  // "ProTracker 3.7", ...
  size_t size() const { return bytes_.size(); }

  // Pattern number of the position (0 <= position < positions()).
  int pattern_at(int position) const { return position_list_[position]; }
  // Offset of the channel's stream in the pattern; false when the pattern
  // table entry lies outside the module.
  bool channel_stream(int pattern, int channel, size_t& offset) const;
  // Offsets of a sample's or ornament's header (loop, length); false when
  // the table entry lies outside the module.
  bool sample_offset(int sample, size_t& offset) const;
  bool ornament_offset(int ornament, size_t& offset) const;

  // True when `count` bytes from `offset` lie inside the module.
  bool holds(size_t offset, size_t count) const {
    return offset <= bytes_.size() && count <= bytes_.size() - offset;
  }
  uint8_t byte(size_t offset) const { return bytes_[offset]; }

 private:
  uint16_t word(size_t offset) const {
    return static_cast<uint16_t>(bytes_[offset] | bytes_[offset + 1] << 8);
  }

  std::span<const uint8_t> bytes_;
  int version_ = 6, tone_table_ = 0, loop_position_ = 0;
  std::vector<uint8_t> position_list_;  // pattern numbers
  std::string title_, author_, tracker_;
};

// True when the bytes start like a module of Pro Tracker 3 or of the tracker
// that writes the same format under its own name.
bool looks_like_pt3(std::span<const uint8_t> bytes);
