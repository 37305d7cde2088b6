// VGM files: every chip write of a game's or a computer's music with its time
// in samples of 1/44100 s. Little-endian header: "Vgm " at 0, end-of-file
// offset (relative to 4) at 0x04, version (BCD) at 0x08, GD3 tag offset
// (relative to 0x14) at 0x14, loop offset at 0x1C, rate at 0x24, data offset
// (relative to 0x34, from version 1.50; before, or when 0, the data starts at
// 0x40) at 0x34, the AY-3-8910's clock at 0x74 (from version 1.51), its type at 0x78
// (0x10 and up: the YM2149 family) and flags at 0x79 (bit 4: the YM2149's clock divider
// pin set, halving the clock), and the other chips' clocks elsewhere. Fields at or beyond
// the data offset are not part of the header and read as 0.
//
// Commands: 0xA0 rr vv writes the AY-3-8910 (bit 7 of rr: the second chip),
// 0x61 nnnn waits n samples, 0x62 and 0x63 wait 735 and 882, 0x7n waits n+1,
// 0x8n waits n (after a YM2612 write), 0x64 cc nnnn sets the wait of 0x62 or
// 0x63, 0x66 ends the data, 0x67 0x66 tt ssssssss is a data block of s bytes
// (bit 31 of s: for a second chip); every other chip's command has a length
// fixed by its first byte. The import plays the song once; the time its loop
// offset points at is kept for a player that repeats the loop.
#include <algorithm>
#include <array>
#include <cstring>

#include "formats/importers.h"
#include "formats/register_stream.h"

namespace {

constexpr uint32_t kSampleRate = 44100;
constexpr uint32_t kMsxClockHz = 1789772;
constexpr size_t kLegacyDataStart = 0x40;
constexpr uint32_t kClockMask = 0x3FFFFFFF;

struct Chip {
  size_t offset;
  const char* name;
};
constexpr Chip kOtherChips[] = {
    {0x0C, "SN76489"},    {0x10, "YM2413"},  {0x2C, "YM2612"},   {0x30, "YM2151"},
    {0x38, "SegaPCM"},    {0x40, "RF5C68"},  {0x44, "YM2203"},   {0x48, "YM2608"},
    {0x4C, "YM2610"},     {0x50, "YM3812"},  {0x54, "YM3526"},   {0x58, "Y8950"},
    {0x5C, "YMF262"},     {0x60, "YMF278B"}, {0x64, "YMF271"},   {0x68, "YMZ280B"},
    {0x6C, "RF5C164"},    {0x70, "PWM"},     {0x80, "GB DMG"},   {0x84, "NES APU"},
    {0x88, "MultiPCM"},   {0x8C, "uPD7759"}, {0x90, "OKIM6258"}, {0x98, "OKIM6295"},
    {0x9C, "K051649"},    {0xA0, "K054539"}, {0xA4, "HuC6280"},  {0xA8, "C140"},
    {0xAC, "K053260"},    {0xB0, "Pokey"},   {0xB4, "QSound"},   {0xB8, "SCSP"},
    {0xC0, "WonderSwan"}, {0xC4, "VSU"},     {0xC8, "SAA1099"},  {0xCC, "ES5503"},
    {0xD0, "ES5506"},     {0xD8, "X1-010"},  {0xDC, "C352"},     {0xE0, "GA20"},
};

// The length in bytes of a command of fixed length in a file of `version`,
// 0 for the commands handled on their own and for unknown ones.
size_t command_length(uint8_t command, uint32_t version) {
  if (command >= 0x30 && command <= 0x3F) return 2;
  // Reserved with one operand up to version 1.60, with two from 1.61.
  if (command >= 0x40 && command <= 0x4E) return version >= 0x161 ? 3 : 2;
  if (command == 0x4F || command == 0x50) return 2;
  if (command >= 0x51 && command <= 0x5F) return 3;
  if (command == 0x68) return 12;
  if (command >= 0x90 && command <= 0x95)
    return std::array<size_t, 6>{5, 5, 6, 11, 2, 5}[command - 0x90];
  if (command >= 0xA1 && command <= 0xBF) return 3;
  if (command >= 0xC0 && command <= 0xDF) return 4;
  if (command >= 0xE0) return 5;
  return 0;
}

struct VgmHeader {
  uint32_t version = 0;
  size_t data_start = kLegacyDataStart, data_end = 0;
  uint32_t ay_clock = 0;
  bool clock_halved = false;
  bool ym_family = false;  // type 0x10 and up: YM2149, YM3439, YMZ284, YMZ294
  uint32_t rate = 0, loop_offset = 0, gd3_offset = 0;
  std::vector<std::string> other_chips;
};

std::string parse_header(std::span<const uint8_t> bytes, VgmHeader& header) {
  if (bytes.size() < kLegacyDataStart)
    return "header cut short: " + with_commas(bytes.size()) + " of 64 bytes";
  header.version = read_le32(&bytes[0x08]);
  const uint64_t end = uint64_t{read_le32(&bytes[0x04])} + 4;
  if (end > bytes.size() && read_le32(&bytes[0x04]) != 0)
    return "file cut short: " + with_commas(bytes.size()) + " of " + with_commas(end) +
           " bytes";
  header.data_end = read_le32(&bytes[0x04]) != 0 ? end : bytes.size();
  if (header.version >= 0x150 && read_le32(&bytes[0x34]) != 0) {
    const uint64_t start = uint64_t{read_le32(&bytes[0x34])} + 0x34;
    if (start < kLegacyDataStart || start > header.data_end)
      return "data offset " + hex(start) + " lies outside the file";
    header.data_start = start;
  }
  auto field = [&](size_t offset) {
    return offset + 4 <= header.data_start ? read_le32(&bytes[offset]) : 0;
  };
  header.rate = field(0x24);
  header.loop_offset = field(0x1C);
  header.gd3_offset = field(0x14);
  if (header.version >= 0x151) {
    header.ay_clock = field(0x74) & kClockMask;
    const uint32_t type_and_flags = field(0x78);
    header.ym_family = (type_and_flags & 0xF0) >= 0x10;
    header.clock_halved =
        (type_and_flags & 0xF0) >= 0x10 && (type_and_flags >> 8 & 0x10) != 0;
    if (header.clock_halved) header.ay_clock /= 2;
  }
  for (const Chip& chip : kOtherChips)
    if ((field(chip.offset) & kClockMask) != 0) header.other_chips.push_back(chip.name);
  return {};
}

// UTF-16LE text up to a NUL, as UTF-8; `at` moves past the NUL. False when
// the text runs past `end`.
bool read_utf16(std::span<const uint8_t> bytes, size_t& at, size_t end,
                std::string& text) {
  for (; at + 2 <= end; at += 2) {
    const uint32_t unit = read_le16(&bytes[at]);
    if (unit == 0) {
      at += 2;
      return true;
    }
    if (unit < 0x80) {
      text += static_cast<char>(unit);
    } else if (unit < 0x800) {
      text += static_cast<char>(0xC0 | unit >> 6);
      text += static_cast<char>(0x80 | (unit & 0x3F));
    } else {  // surrogates pass as they are: tags are names, not checked text
      text += static_cast<char>(0xE0 | unit >> 12);
      text += static_cast<char>(0x80 | (unit >> 6 & 0x3F));
      text += static_cast<char>(0x80 | (unit & 0x3F));
    }
  }
  return false;
}

// The GD3 tag's English track name, game name and author, where present.
void read_tags(std::span<const uint8_t> bytes, const VgmHeader& header, SongInfo& info) {
  if (header.gd3_offset == 0) return;
  const uint64_t at = uint64_t{header.gd3_offset} + 0x14;
  if (at + 12 > bytes.size() || std::memcmp(&bytes[at], "Gd3 ", 4) != 0) {
    info.notes.push_back("GD3 tag missing or damaged: no title");
    return;
  }
  const uint64_t end =
      std::min<uint64_t>(bytes.size(), at + 12 + read_le32(&bytes[at + 8]));
  std::string fields[8];
  size_t cursor = at + 12;
  for (std::string& field : fields)
    if (!read_utf16(bytes, cursor, end, field)) break;
  info.title = printable(fields[0]);
  info.comment = printable(fields[2]);
  info.author = printable(fields[6]);
}

}  // namespace

namespace {

// Runs the commands from the data start to 0x66 or the data's end.
class CommandReader {
 public:
  CommandReader(std::span<const uint8_t> bytes, const VgmHeader& header,
                RegisterStream& stream)
      : bytes_(bytes),
        at_(header.data_start),
        end_(header.data_end),
        version_(header.version),
        loop_at_(header.loop_offset != 0 ? size_t{header.loop_offset} + 0x1C : 0),
        stream_(stream) {}

  // Returns an empty string when the data was read to its end, else why not.
  std::string run() {
    while (at_ < end_) {
      const size_t offset = at_;
      const uint8_t command = bytes_[at_];
      if (offset == loop_at_) loop_samples_ = samples_;
      if (command == 0x66) break;
      std::string error = step(command);
      if (!error.empty()) return error + " at offset " + hex(offset);
      if (stream_.limit_reached())
        return "more than " + with_commas(kMaxWrites) + " writes";
    }
    if (!flush()) return "more than " + with_commas(kMaxWrites) + " writes";
    return {};
  }

  uint64_t samples() const { return samples_; }
  // Where the loop offset points, in samples from the start; -1 when it
  // points at no command.
  int64_t loop_samples() const { return loop_samples_; }
  uint64_t ay_writes() const { return ay_writes_; }
  uint64_t second_chip_writes() const { return second_chip_writes_; }
  uint64_t high_register_writes() const { return high_register_writes_; }

 private:
  bool have(size_t count) const { return end_ - at_ >= count; }

  // The writes set since the last wait, at the time before the wait.
  bool flush() {
    if (!pending_) return true;
    pending_ = false;
    return stream_.flush(sample_time_us(samples_, kSampleRate));
  }

  void wait(uint64_t count) {
    if (count == 0) return;
    flush();
    samples_ += count;
  }

  std::string step(uint8_t command) {
    if (command == 0xA0) {
      if (!have(3)) return "AY-3-8910 write cut short";
      write_ay(bytes_[at_ + 1], bytes_[at_ + 2]);
      at_ += 3;
    } else if (command == 0x61) {
      if (!have(3)) return "wait cut short";
      wait(read_le16(&bytes_[at_ + 1]));
      at_ += 3;
    } else if (command == 0x62 || command == 0x63) {
      wait(command == 0x62 ? wait_62_ : wait_63_);
      at_ += 1;
    } else if (command >= 0x70 && command <= 0x8F) {
      wait((command & 15) + (command < 0x80 ? 1 : 0));
      at_ += 1;
    } else if (command == 0x64) {
      if (!have(4)) return "wait setting cut short";
      const uint16_t count = read_le16(&bytes_[at_ + 2]);
      if (bytes_[at_ + 1] == 0x62) wait_62_ = count;
      if (bytes_[at_ + 1] == 0x63) wait_63_ = count;
      at_ += 4;
    } else if (command == 0x67) {
      if (!have(7) || bytes_[at_ + 1] != 0x66)
        return "data block header cut short or damaged";
      const uint64_t size = read_le32(&bytes_[at_ + 3]) & 0x7FFFFFFFu;
      if (!have(7 + size))
        return "data block cut short: " + with_commas(end_ - at_ - 7) + " of " +
               with_commas(size) + " bytes";
      at_ += 7 + size;
    } else if (const size_t length = command_length(command, version_); length != 0) {
      if (!have(length)) return "command " + hex(command) + " cut short";
      at_ += length;
    } else {
      return "unknown command " + hex(command);
    }
    return {};
  }

  void write_ay(uint8_t reg, uint8_t value) {
    if (reg & 0x80) {
      ++second_chip_writes_;
    } else if (reg > 15) {
      ++high_register_writes_;
    } else {
      ++ay_writes_;
      stream_.set(reg, value);
      pending_ = true;
    }
  }

  std::span<const uint8_t> bytes_;
  size_t at_, end_;
  uint32_t version_;
  size_t loop_at_;
  RegisterStream& stream_;
  uint64_t samples_ = 0;
  int64_t loop_samples_ = -1;
  uint16_t wait_62_ = 735, wait_63_ = 882;
  bool pending_ = false;
  uint64_t ay_writes_ = 0, second_chip_writes_ = 0, high_register_writes_ = 0;
};

std::string version_text(uint32_t version) {
  const auto digit = [&](int shift) {
    return static_cast<char>('0' + (version >> shift & 15));
  };
  std::string text;
  if (version >> 12 & 15) text += digit(12);
  return text + digit(8) + "." + digit(4) + digit(0);
}

void describe(const VgmHeader& header, const CommandReader& reader, double options_rate,
              SongInfo& info) {
  info.format = "VGM " + version_text(header.version);
  info.rate_hz = header.rate;
  info.other_chips = header.other_chips;
  info.skipped_writes = reader.second_chip_writes();
  info.duration_us = sample_time_us(reader.samples(), kSampleRate);
  if (reader.loop_samples() >= 0 &&
      static_cast<uint64_t>(reader.loop_samples()) < reader.samples())
    info.loop_time_us = static_cast<int64_t>(
        sample_time_us(static_cast<uint64_t>(reader.loop_samples()), kSampleRate));
  if (reader.second_chip_writes() != 0)
    info.notes.push_back("writes to a second AY-3-8910 skipped: " +
                         with_commas(reader.second_chip_writes()));
  if (reader.high_register_writes() != 0)
    info.notes.push_back("writes to registers above 15 skipped: " +
                         with_commas(reader.high_register_writes()));
  if (header.loop_offset != 0) info.notes.push_back("loop not repeated: played once");
  if (options_rate != 0)
    info.notes.push_back("frame rate ignored: VGM times are in samples");
  if (header.clock_halved)
    info.notes.push_back("YM2149 with its clock divider set: half the header's clock");
}

}  // namespace

ImportResult import_vgm(std::span<const uint8_t> bytes, const ImportOptions& options) {
  VgmHeader header;
  if (std::string error = parse_header(bytes, header); !error.empty())
    return malformed(error);
  ImportResult result;
  SongInfo& info = result.info;
  uint32_t clock = options.clock_hz != 0 ? options.clock_hz : header.ay_clock;
  if (clock == 0) {
    clock = kMsxClockHz;
    info.notes.push_back("no AY-3-8910 clock in the header: 1,789,772 Hz (MSX) assumed");
  }
  if (std::string error = check_clock_and_rate(clock, 50); !error.empty())
    return malformed(error);
  RegisterStream stream(clock, result.writes, options.source_chip);
  CommandReader reader(bytes, header, stream);
  if (std::string error = reader.run(); !error.empty()) return malformed(error);
  if (reader.ay_writes() == 0) {
    std::string chips;
    for (const std::string& chip : header.other_chips)
      chips += (chips.empty() ? "" : ", ") + chip;
    return malformed("no AY-3-8910 writes" +
                     (chips.empty() ? "" : " (chips: " + chips + ")"));
  }
  if (!stream.finish(sample_time_us(reader.samples(), kSampleRate)))
    return malformed("more than " + with_commas(kMaxWrites) + " writes");
  info.clock_hz = clock;
  info.chip_type = header.ym_family ? "ym" : "ay";
  read_tags(bytes, header, info);
  describe(header, reader, options.rate_hz, info);
  stream.report(info);
  return result;
}
