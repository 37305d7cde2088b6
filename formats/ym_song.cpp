// YM files: frames of the chip's registers, one frame per player interrupt.
//
// - YM2! and YM3!: the magic, then 14 registers per frame, interleaved (all
//   frames' register 0, then all frames' register 1, ...). Clock 2,000,000
//   Hz, 50 frames a second.
// - YM2!: as YM3!, but recorded from one Atari replay routine that uses
//   registers 10, 12 and 13 its own way: bit 7 of register 10 starts a
//   digidrum on voice C (sample number in bits 0-6, timer count in register
//   12) from samples the replay routine keeps, not the file; the envelope
//   period's coarse byte is always 0; and a register 13 other than 0xFF
//   writes the envelope period (register 11) and shape 10. The digidrums are
//   left out (voice C is silent in the frames that start one) and reported.
// - YM3b: as YM3!, with the loop frame in the last 4 bytes. The format's
//   description does not give their byte order: the order that gives a frame
//   inside the song is taken (big-endian, as in YM5!, when both do).
// - YM5! and YM6!: a header (big-endian): "LeOnArD!" at 4, frames (32 bits)
//   at 12, attributes (32) at 16 (bit 0: interleaved), digidrum count (16) at
//   20, clock (32) at 22, frame rate (16) at 26, loop frame (32) at 28, size
//   of extra data (16) at 32; the extra data; each digidrum as its size (32)
//   and samples; title, author and comment as NUL-terminated strings; 16
//   registers per frame (14, 15 and spare bits drive the timer effects, see
//   ym_effects.h); "End!".
// A register 13 of 0xFF means the player did not write it in that frame.
#include <algorithm>
#include <array>
#include <cstring>
#include <memory>

#include "formats/importers.h"
#include "formats/register_stream.h"
#include "formats/ym_effects.h"

namespace {

constexpr uint32_t kAtariClockHz = 2000000;
constexpr double kDefaultRateHz = 50;
constexpr size_t kHeaderBytes = 34;
constexpr uint8_t kYm2Drum = 0x80;  // YM2!: bit 7 of register 10
constexpr uint8_t kYm2EnvelopeShape = 10;

struct YmFile {
  std::string format;
  int registers = 14;  // per frame
  bool interleaved = true;
  uint64_t frames = 0;
  uint32_t attributes = 0, clock_hz = kAtariClockHz;
  double rate_hz = kDefaultRateHz;
  int64_t loop_frame = -1;
  std::vector<std::vector<uint8_t>> drums;
  std::string title, author, comment;
  std::span<const uint8_t> data;  // the registers
  std::vector<std::string> notes;

  uint8_t value(uint64_t frame, int reg) const {
    return interleaved ? data[static_cast<size_t>(reg) * frames + frame]
                       : data[frame * static_cast<size_t>(registers) + reg];
  }
};

std::string cut_short(const char* what, uint64_t have, uint64_t need) {
  return std::string(what) + " cut short: " + with_commas(have) + " of " +
         with_commas(need) + " bytes";
}

std::string parse_old(std::span<const uint8_t> bytes, YmFile& ym) {
  size_t size = bytes.size() - 4;
  if (ym.format == "YM3b") {
    if (size < 4) return cut_short("loop frame", size, 4);
    size -= 4;
  }
  if (size == 0) return "no frames";
  if (size % 14 != 0)
    return "register data is not whole frames of 14 registers: " + with_commas(size) +
           " bytes";
  ym.frames = size / 14;
  if (ym.format == "YM3b") {
    const uint32_t big = read_be32(&bytes[4 + size]),
                   little = read_le32(&bytes[4 + size]);
    ym.loop_frame = big >= ym.frames && little < ym.frames ? little : big;
  }
  ym.data = bytes.subspan(4, size);
  if (ym.format == "YM2!") {
    const auto r10 = ym.data.subspan(10 * ym.frames, ym.frames);
    const auto drums = std::count_if(r10.begin(), r10.end(),
                                     [](uint8_t value) { return value & kYm2Drum; });
    if (drums != 0)
      ym.notes.push_back(
          "YM2! digidrum starts not imported (the samples are the replay routine's, "
          "not the file's): " +
          with_commas(static_cast<uint64_t>(drums)));
  }
  return {};
}

// A NUL-terminated string at `at`, which moves past it.
bool read_string(std::span<const uint8_t> bytes, size_t& at, std::string& text) {
  const auto* begin = bytes.data() + at;
  const void* nul = std::memchr(begin, 0, bytes.size() - at);
  if (nul == nullptr) return false;
  text.assign(reinterpret_cast<const char*>(begin),
              static_cast<const uint8_t*>(nul) - begin);
  at += text.size() + 1;
  return true;
}

std::string parse_drums(std::span<const uint8_t> bytes, size_t& at, YmFile& ym,
                        unsigned count) {
  for (unsigned drum = 0; drum < count; ++drum) {
    if (bytes.size() - at < 4)
      return "digidrum " + std::to_string(drum) + " size cut short";
    const uint32_t size = read_be32(&bytes[at]);
    at += 4;
    if (size > bytes.size() - at)
      return cut_short(("digidrum " + std::to_string(drum)).c_str(), bytes.size() - at,
                       size);
    ym.drums.push_back(digidrum_volumes(bytes.subspan(at, size), ym.attributes));
    at += size;
  }
  return {};
}

std::string parse_new(std::span<const uint8_t> bytes, YmFile& ym) {
  if (bytes.size() < kHeaderBytes) return cut_short("header", bytes.size(), kHeaderBytes);
  if (std::memcmp(&bytes[4], "LeOnArD!", 8) != 0) return "check string is not LeOnArD!";
  ym.registers = 16;
  ym.frames = read_be32(&bytes[12]);
  ym.attributes = read_be32(&bytes[16]);
  ym.interleaved = (ym.attributes & 1) != 0;
  ym.clock_hz = read_be32(&bytes[22]);
  ym.rate_hz = read_be16(&bytes[26]);
  ym.loop_frame = read_be32(&bytes[28]);
  size_t at = kHeaderBytes;
  const uint16_t extra = read_be16(&bytes[32]);
  if (extra > bytes.size() - at)
    return cut_short("extra header data", bytes.size() - at, extra);
  at += extra;
  if (std::string error = parse_drums(bytes, at, ym, read_be16(&bytes[20]));
      !error.empty())
    return error;
  for (std::string* text : {&ym.title, &ym.author, &ym.comment})
    if (!read_string(bytes, at, *text)) return "title, author or comment not terminated";
  if (ym.frames == 0) return "no frames";
  const uint64_t need = ym.frames * 16;
  if (need > bytes.size() - at)
    return cut_short("register data", bytes.size() - at, need);
  ym.data = bytes.subspan(at, need);
  at += need;
  if (bytes.size() - at < 4 || std::memcmp(&bytes[at], "End!", 4) != 0)
    ym.notes.push_back("no \"End!\" after the register data");
  return {};
}

// Sets a YM2! frame's registers as its replay routine wrote them.
void set_ym2_frame(const std::array<uint8_t, 16>& regs, RegisterStream& stream) {
  for (uint8_t reg = 0; reg < 10; ++reg) stream.set(reg, regs[reg]);
  stream.set(10, regs[10] & kYm2Drum ? 0 : regs[10]);
  if (regs[13] == 0xFF) return;
  stream.set(11, regs[11]);
  stream.set(12, 0);
  stream.set(13, kYm2EnvelopeShape);
}

bool play_frames(const YmFile& ym, double rate_hz, RegisterStream& stream,
                 YmEffects* effects) {
  std::array<uint8_t, 16> regs{};
  const bool is_ym2 = ym.format == "YM2!";
  for (uint64_t frame = 0; frame < ym.frames; ++frame) {
    for (int reg = 0; reg < ym.registers; ++reg) regs[reg] = ym.value(frame, reg);
    const uint64_t start = frame_time_us(frame, rate_hz);
    if (is_ym2) {
      set_ym2_frame(regs, stream);
    } else {
      for (uint8_t reg = 0; reg < 13; ++reg) stream.set(reg, regs[reg]);
      if (regs[13] != 0xFF) stream.set(13, regs[13]);
    }
    if (effects != nullptr)
      effects->begin_frame(regs, start, frame_time_us(frame + 1, rate_hz), stream);
    if (!stream.flush(start)) return false;
    if (effects != nullptr && !effects->write_frame(stream)) return false;
  }
  return stream.finish(frame_time_us(ym.frames, rate_hz));
}

}  // namespace

ImportResult import_ym(std::span<const uint8_t> bytes, const ImportOptions& options) {
  YmFile ym;
  ym.format.assign(bytes.begin(), bytes.begin() + 4);
  const bool is_new = ym.format == "YM5!" || ym.format == "YM6!";
  if (std::string error = is_new ? parse_new(bytes, ym) : parse_old(bytes, ym);
      !error.empty())
    return malformed(error);
  if (ym.rate_hz == 0) return malformed("frame rate 0 in the header");
  const uint32_t clock = options.clock_hz != 0 ? options.clock_hz : ym.clock_hz;
  const double rate = options.rate_hz != 0 ? options.rate_hz : ym.rate_hz;
  if (std::string error = check_clock_and_rate(clock, rate); !error.empty())
    return malformed(error);

  ImportResult result;
  SongInfo& info = result.info;
  info.format = ym.format;
  info.title = printable(ym.title);
  info.author = printable(ym.author);
  info.comment = printable(ym.comment);
  info.clock_hz = clock;
  info.chip_type = "ym";  // the Atari ST's YM2149, or a song made for one
  info.rate_hz = rate;
  info.frames = ym.frames;
  info.loop_frame = ym.loop_frame;
  info.notes = ym.notes;
  RegisterStream stream(clock, result.writes, options.source_chip);
  std::unique_ptr<YmEffects> effects;
  if (is_new)
    effects = std::make_unique<YmEffects>(
        ym.format == "YM5!" ? YmLayout::Ym5 : YmLayout::Ym6, std::move(ym.drums));
  if (!play_frames(ym, rate, stream, effects.get()))
    return malformed("more than " + with_commas(kMaxWrites) + " writes");
  if (effects) effects->report(info);
  stream.report(info);
  info.duration_us = frame_time_us(ym.frames, rate);
  if (ym.loop_frame >= 0 && static_cast<uint64_t>(ym.loop_frame) < ym.frames)
    info.loop_time_us =
        static_cast<int64_t>(frame_time_us(static_cast<uint64_t>(ym.loop_frame), rate));
  return result;
}
