// VTX files: a ZX Spectrum register dump like YM3!, packed with LHA's -lh5-
// method as a bare stream. Header (little-endian): chip "ay" or "ym" (either
// case), stereo layout (0 mono, 1 ABC, 2 ACB, 3 BAC, 4 BCA, 5 CAB, 6 CBA),
// loop frame (16), chip clock (32), frame rate (8), year (16), unpacked size
// (32), then title, author, program, tracker and comment as NUL-terminated
// strings, then the packed data: 14 registers a frame, interleaved by
// register, register 13 = 255 where the player did not write it.
#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>

#include "formats/importers.h"
#include "formats/register_stream.h"

namespace {

constexpr size_t kFixedBytes = 16;
constexpr std::array<const char*, 7> kStereo = {"mono", "ABC", "ACB", "BAC",
                                                "BCA",  "CAB", "CBA"};

struct VtxFile {
  std::string chip;  // "AY" or "YM"
  std::string stereo;
  uint32_t loop_frame = 0, clock_hz = 0, unpacked_size = 0;
  double rate_hz = 0;
  unsigned year = 0;
  std::array<std::string, 5> texts;  // title, author, program, tracker, comment
  std::span<const uint8_t> packed;
};

std::string parse_header(std::span<const uint8_t> bytes, VtxFile& vtx) {
  if (bytes.size() < kFixedBytes)
    return "header cut short: " + with_commas(bytes.size()) + " of " +
           with_commas(kFixedBytes) + " bytes";
  vtx.chip = std::tolower(bytes[0]) == 'a' ? "AY" : "YM";
  if (bytes[2] >= kStereo.size())
    return "stereo layout " + std::to_string(bytes[2]) + " is not one of 0..6";
  vtx.stereo = kStereo[bytes[2]];
  vtx.loop_frame = read_le16(&bytes[3]);
  vtx.clock_hz = read_le32(&bytes[5]);
  vtx.rate_hz = bytes[9];
  vtx.year = read_le16(&bytes[10]);
  vtx.unpacked_size = read_le32(&bytes[12]);
  size_t at = kFixedBytes;
  for (std::string& text : vtx.texts) {
    const void* nul = std::memchr(bytes.data() + at, 0, bytes.size() - at);
    if (nul == nullptr) return "title, author or comment not terminated";
    const auto* end = static_cast<const uint8_t*>(nul);
    text.assign(reinterpret_cast<const char*>(bytes.data() + at),
                static_cast<size_t>(end - (bytes.data() + at)));
    at += text.size() + 1;
  }
  vtx.packed = bytes.subspan(at);
  if (vtx.unpacked_size == 0) return "no frames";
  if (vtx.unpacked_size % 14 != 0)
    return "register data is not whole frames of 14 registers: " +
           with_commas(vtx.unpacked_size) + " bytes";
  // -lh5- packs at best about 1:2000 (a run of one byte); more claimed than
  // that is a hostile header, not a song.
  if (vtx.unpacked_size / 2048 > vtx.packed.size())
    return "unpacked size " + with_commas(vtx.unpacked_size) + " is more than " +
           with_commas(vtx.packed.size()) + " packed bytes can hold";
  return {};
}

bool play_frames(const std::vector<uint8_t>& data, uint64_t frames, double rate_hz,
                 RegisterStream& stream) {
  for (uint64_t frame = 0; frame < frames; ++frame) {
    for (uint8_t reg = 0; reg < 13; ++reg) stream.set(reg, data[reg * frames + frame]);
    if (const uint8_t shape = data[13 * frames + frame]; shape != 0xFF)
      stream.set(13, shape);
    if (!stream.flush(frame_time_us(frame, rate_hz))) return false;
  }
  return stream.finish(frame_time_us(frames, rate_hz));
}

}  // namespace

bool looks_like_vtx(std::span<const uint8_t> bytes) {
  if (bytes.size() < 3) return false;
  // "YM" and a stereo byte (0..6), not a YM magic's digit.
  if (bytes[0] == 'Y' && bytes[1] == 'M') return bytes[2] < kStereo.size();
  const auto a = static_cast<char>(std::tolower(bytes[0]));
  const auto b = static_cast<char>(std::tolower(bytes[1]));
  return (a == 'a' && b == 'y') || (a == 'y' && b == 'm');
}

ImportResult import_vtx(std::span<const uint8_t> bytes, const ImportOptions& options) {
  VtxFile vtx;
  if (std::string error = parse_header(bytes, vtx); !error.empty())
    return malformed(error);
  const uint32_t clock = options.clock_hz != 0 ? options.clock_hz : vtx.clock_hz;
  const double rate = options.rate_hz != 0 ? options.rate_hz : vtx.rate_hz;
  if (std::string error = check_clock_and_rate(clock, rate); !error.empty())
    return malformed(error);
  std::vector<uint8_t> data;
  if (std::string error = unpack_lh5(vtx.packed, vtx.unpacked_size, data); !error.empty())
    return malformed(error);
  const uint64_t frames = vtx.unpacked_size / 14;

  ImportResult result;
  SongInfo& info = result.info;
  info.format = "VTX (" + vtx.chip + ")";
  info.title = printable(vtx.texts[0]);
  info.author = printable(vtx.texts[1]);
  info.comment = printable(vtx.texts[4]);
  info.stereo = vtx.stereo;
  info.chip_type = vtx.chip == "AY" ? "ay" : "ym";
  info.clock_hz = clock;
  info.rate_hz = rate;
  info.frames = frames;
  info.loop_frame = vtx.loop_frame < frames ? vtx.loop_frame : -1;
  if (info.loop_frame >= 0)
    info.loop_time_us = static_cast<int64_t>(frame_time_us(vtx.loop_frame, rate));
  if (vtx.loop_frame >= frames)
    info.notes.push_back("loop frame " + with_commas(vtx.loop_frame) +
                         " beyond the last frame: no loop");
  if (vtx.year != 0) info.notes.push_back("year " + std::to_string(vtx.year));
  for (size_t i : {size_t{2}, size_t{3}})
    if (!vtx.texts[i].empty())
      info.notes.push_back((i == 2 ? "made with " : "tracker ") +
                           printable(vtx.texts[i]));
  RegisterStream stream(clock, result.writes, options.source_chip);
  if (!play_frames(data, frames, rate, stream))
    return malformed("more than " + with_commas(kMaxWrites) + " writes");
  stream.report(info);
  info.duration_us = frame_time_us(frames, rate);
  return result;
}
