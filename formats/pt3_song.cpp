// Pro Tracker 3 modules (formats/tracker/pt3_module.h), alone or two of them
// as a TurboSound file for two chips: the modules one after the other, then
// a 16-byte footer "PT3!", the first module's size, "PT3!", the second's
// (16-bit little-endian), "02TS". Clock 1,773,400 Hz (a ZX Spectrum's), 50
// frames a second; the files store neither.
#include <cstring>

#include "formats/importers.h"
#include "formats/tracker/pt3_module.h"
#include "formats/tracker/pt3_replayer.h"
#include "formats/tracker_song.h"

namespace {

constexpr uint32_t kSpectrumClockHz = 1773400;
constexpr double kInterruptHz = 50;
constexpr size_t kFooterBytes = 16;

// The two modules of a TurboSound file; false when the bytes end in no
// TurboSound footer. Sets `error` when they do but its sizes don't fit.
bool split_turbosound(std::span<const uint8_t> bytes, std::span<const uint8_t>& first,
                      std::span<const uint8_t>& second, std::string& error) {
  if (bytes.size() < kFooterBytes) return false;
  const uint8_t* footer = bytes.data() + bytes.size() - kFooterBytes;
  if (std::memcmp(footer, "PT3!", 4) != 0 || std::memcmp(footer + 6, "PT3!", 4) != 0 ||
      std::memcmp(footer + 12, "02TS", 4) != 0)
    return false;
  const size_t size1 = read_le16(footer + 4), size2 = read_le16(footer + 10);
  if (size1 + size2 > bytes.size() - kFooterBytes) {
    error = "TurboSound sizes " + with_commas(size1) + " and " + with_commas(size2) +
            " exceed the file's " + with_commas(bytes.size() - kFooterBytes) + " bytes";
    return true;
  }
  first = bytes.subspan(0, size1);
  second = bytes.subspan(size1, size2);
  return true;
}

std::string module_format(const Pt3Module& module) {
  std::string text = "PT3 3." + std::to_string(module.version());
  if (module.tracker().starts_with("Vortex")) text += " (Vortex Tracker II)";
  return text;
}

// One line about a module, for `info`.
std::string describe(const Pt3Module& module, uint64_t frames, int64_t loop_frame) {
  std::string text = module_format(module) + ", tone table " +
                     std::to_string(module.tone_table()) + ", " +
                     std::to_string(module.positions()) + " positions, " +
                     with_commas(frames) + " frames, loop frame " +
                     (loop_frame < 0 ? std::string("none") : with_commas(loop_frame));
  if (!module.title().empty()) text += ": \"" + printable(module.title()) + "\"";
  if (!module.author().empty()) text += " by " + printable(module.author());
  return text;
}

std::string parse_module(Pt3Module& module, std::span<const uint8_t> bytes,
                         const char* which) {
  if (!looks_like_pt3(bytes)) return std::string(which) + "is not a Pro Tracker 3 module";
  std::string error = module.parse(bytes);
  return error.empty() ? error : which + error;
}

}  // namespace

ImportResult import_pt3(std::span<const uint8_t> bytes, const ImportOptions& options) {
  std::span<const uint8_t> parts[2] = {bytes, {}};
  std::string error;
  const bool turbosound = split_turbosound(bytes, parts[0], parts[1], error);
  if (!error.empty()) return malformed(error);
  if (options.second_chip && !turbosound)
    return malformed("not a TurboSound file: there is no second chip");
  Pt3Module modules[2];
  const int count = turbosound ? 2 : 1;
  for (int i = 0; i < count; ++i) {
    const char* which = !turbosound ? "" : i == 0 ? "first module: " : "second module: ";
    if (std::string reason = parse_module(modules[i], parts[i], which); !reason.empty())
      return malformed(reason);
  }
  const uint32_t clock = options.clock_hz != 0 ? options.clock_hz : kSpectrumClockHz;
  const double rate = options.rate_hz != 0 ? options.rate_hz : kInterruptHz;
  if (std::string reason = check_clock_and_rate(clock, rate); !reason.empty())
    return malformed(reason);

  const int chosen = options.second_chip ? 1 : 0;
  ImportResult result;
  Pt3Replayer replayer(modules[chosen]);
  import_tracker_frames(replayer, clock, rate, kMaxTrackerFrames, options.source_chip,
                        result);
  if (result.status != ImportStatus::Ok) return result;
  SongInfo& info = result.info;
  const Pt3Module& module = modules[chosen];
  info.format = turbosound ? "PT3 TurboSound" : module_format(module);
  info.title = printable(module.title());
  info.author = printable(module.author());
  info.clock_hz = clock;
  info.chip_type = "ay";  // a ZX Spectrum's AY-3-8910
  info.rate_hz = rate;
  if (turbosound) {
    for (int i = 0; i < 2; ++i) {
      uint64_t frames = info.frames;
      int64_t loop = info.loop_frame;
      if (i != chosen) {
        Pt3Replayer other(modules[i]);
        if (!count_tracker_frames(other, kMaxTrackerFrames, frames))
          return malformed((i == 0 ? "first module: " : "second module: ") +
                           other.error());
        loop = other.loop_frame();
      }
      info.chips.push_back(describe(modules[i], frames, loop));
    }
    info.notes.push_back(std::string("TurboSound: the log holds the ") +
                         (chosen == 0 ? "first" : "second") + " chip's module");
  }
  return result;
}
