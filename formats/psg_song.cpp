// PSG files: recordings of the chip's writes, frame by frame, from ZX
// Spectrum and MSX emulators. A 16-byte header: "PSG" 0x1A, the version at 4
// and, from version 10, the player's frame rate at 5. No clock is stored: the
// Spectrum's 1,773,400 Hz is assumed, and 50 Hz where no rate is. Then
// commands: 0xFF ends a frame, 0xFE n skips 4 * n frames, 0xFD ends the song,
// a byte 0..15 is a register number followed by its value, and a byte
// 16..252 followed by a value is a write to another device of the machine,
// skipped. The song also ends at the end of the file.
#include "formats/importers.h"
#include "formats/register_stream.h"

namespace {

constexpr uint32_t kSpectrumClockHz = 1773400;
constexpr double kSpectrumRateHz = 50;
constexpr size_t kHeaderBytes = 16;
constexpr uint8_t kRateVersion = 10;  // the first version to store the frame rate

}  // namespace

ImportResult import_psg(std::span<const uint8_t> bytes, const ImportOptions& options) {
  if (bytes.size() < kHeaderBytes) return malformed("header cut short");
  const uint32_t clock = options.clock_hz != 0 ? options.clock_hz : kSpectrumClockHz;
  const bool stores_rate = bytes[4] >= kRateVersion && bytes[5] != 0;
  const double rate = options.rate_hz != 0 ? options.rate_hz
                      : stores_rate        ? bytes[5]
                                           : kSpectrumRateHz;
  if (std::string error = check_clock_and_rate(clock, rate); !error.empty())
    return malformed(error);

  ImportResult result;
  RegisterStream stream(clock, result.writes, options.source_chip);
  uint64_t frame = 0, other_devices = 0;
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
    } else {
      if (at == bytes.size())
        return malformed("register write cut short at offset " + hex(at - 1));
      const uint8_t value = bytes[at++];
      if (command > 15) {
        ++other_devices;
        continue;
      }
      stream.set(command, value);
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
  info.chip_type = "ay";  // a ZX Spectrum's AY-3-8910
  info.rate_hz = rate;
  info.frames = frame;
  info.duration_us = frame_time_us(frame, rate);
  info.skipped_writes = other_devices;
  if (other_devices != 0)
    info.notes.push_back("writes to other devices (numbers 16..252) skipped: " +
                         with_commas(other_devices));
  stream.report(info);
  return result;
}
