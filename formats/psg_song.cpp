// PSG files: recordings of the chip's writes, frame by frame, from ZX
// Spectrum emulators. A 16-byte header starting "PSG" 0x1A (which stores no
// clock or rate: the Spectrum's 1,773,400 Hz and 50 Hz are assumed), then
// commands: 0xFF ends a frame, 0xFE n skips 4 * n frames, 0xFD ends the song,
// and any other byte is a register number (0..15) followed by its value.
// The song also ends at the end of the file.
#include "formats/importers.h"
#include "formats/register_stream.h"

namespace {

constexpr uint32_t kSpectrumClockHz = 1773400;
constexpr double kSpectrumRateHz = 50;
constexpr size_t kHeaderBytes = 16;

}  // namespace

ImportResult import_psg(std::span<const uint8_t> bytes, const ImportOptions& options) {
  if (bytes.size() < kHeaderBytes) return malformed("header cut short");
  const uint32_t clock = options.clock_hz != 0 ? options.clock_hz : kSpectrumClockHz;
  const double rate = options.rate_hz != 0 ? options.rate_hz : kSpectrumRateHz;
  if (std::string error = check_clock_and_rate(clock, rate); !error.empty())
    return malformed(error);

  ImportResult result;
  RegisterStream stream(clock, result.writes);
  uint64_t frame = 0;
  bool pending = false;  // writes set for the current frame
  size_t at = kHeaderBytes;
  auto end_frames = [&](uint64_t count) {
    const bool ok = !pending || stream.flush(frame_time_us(frame, rate));
    pending = false;
    frame += count;
    return ok;
  };
  bool ok = true;
  while (ok && at < bytes.size()) {
    const uint8_t command = bytes[at++];
    if (command == 0xFD) break;
    if (command == 0xFF) {
      ok = end_frames(1);
    } else if (command == 0xFE) {
      if (at == bytes.size())
        return malformed("frame skip cut short at offset " + hex(at - 1));
      ok = end_frames(4 * uint64_t{bytes[at++]});
    } else if (command > 15) {
      return malformed("register number " + hex(command) + " at offset " + hex(at - 1));
    } else {
      if (at == bytes.size())
        return malformed("register write cut short at offset " + hex(at - 1));
      stream.set(command, bytes[at++]);
      pending = true;
    }
  }
  if (pending) ok = end_frames(1);
  if (result.writes.empty()) return malformed("no register writes");
  if (!ok || !stream.finish(frame_time_us(frame, rate)))
    return malformed("more than " + with_commas(kMaxWrites) + " writes");

  SongInfo& info = result.info;
  info.format = "PSG";
  info.clock_hz = clock;
  info.rate_hz = rate;
  info.frames = frame;
  info.duration_us = frame_time_us(frame, rate);
  stream.report(info);
  return result;
}
