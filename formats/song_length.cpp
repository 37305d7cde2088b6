#include "formats/song_length.h"

#include <array>
#include <cmath>

namespace {

// The registers a song's writes set, from the chip's reset values (all 0).
struct RegisterState {
  std::array<uint8_t, 16> values{};
  void apply(const TimedWrite& write) { values[write.reg & 15] = write.value; }
};

void append_pass(std::span<const TimedWrite> writes, const SongLength& length,
                 uint64_t shift, uint64_t stop, std::vector<TimedWrite>& out) {
  for (const TimedWrite& write : writes) {
    if (write.time < length.loop_start_us) continue;
    if (write.time >= length.song_end_us) break;
    if (write.time + shift >= stop) return;
    out.push_back({write.time + shift, write.reg, write.value});
  }
}

}  // namespace

SongLength played_once(uint64_t duration_us) {
  SongLength length;
  length.song_end_us = length.fade_start_us = length.end_us = duration_us;
  return length;
}

SongLength song_length(const SongInfo& info, const LengthOptions& options) {
  if (info.loop_time_us < 0 ||
      static_cast<uint64_t>(info.loop_time_us) >= info.duration_us)
    return played_once(info.duration_us);
  SongLength length;
  length.looped = true;
  length.loops = options.loops < 1 ? 1 : options.loops;
  length.loop_start_us = static_cast<uint64_t>(info.loop_time_us);
  length.song_end_us = info.duration_us;
  const uint64_t part = length.song_end_us - length.loop_start_us;
  length.fade_start_us =
      length.song_end_us + part * static_cast<uint64_t>(length.loops - 1);
  const int64_t fade_us = options.fade_s > 0 ? std::llround(options.fade_s * 1e6) : 0;
  length.end_us = length.fade_start_us + static_cast<uint64_t>(fade_us);
  return length;
}

std::vector<TimedWrite> writes_to_play(std::span<const TimedWrite> writes,
                                       const SongLength& length) {
  if (!length.looped || length.end_us == length.song_end_us)
    return {writes.begin(), writes.end()};
  std::vector<TimedWrite> out;
  RegisterState at_loop, at_end;
  for (const TimedWrite& write : writes) {
    if (write.time >= length.song_end_us) break;
    if (write.time < length.loop_start_us) at_loop.apply(write);
    at_end.apply(write);
    if (write.time < length.end_us) out.push_back(write);
  }
  const uint64_t part = length.song_end_us - length.loop_start_us;
  for (uint64_t start = length.song_end_us; start < length.end_us; start += part) {
    for (uint8_t reg = 0; reg < 14; ++reg)
      if (reg != 13 || at_loop.values[13] != at_end.values[13])
        out.push_back({start, reg, at_loop.values[reg]});
    append_pass(writes, length, start - length.loop_start_us, length.end_us, out);
  }
  uint8_t mixer = 0;
  for (auto it = out.rbegin(); it != out.rend(); ++it)
    if (it->reg == 7) {
      mixer = it->value;
      break;
    }
  out.push_back({length.end_us, 7, mixer});
  return out;
}
