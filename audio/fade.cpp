#include "audio/fade.h"

namespace {

uint64_t frame_at(uint64_t time_us, uint32_t sample_rate) {
  // Split so that the product cannot overflow for any song length.
  return time_us / 1000000 * sample_rate + time_us % 1000000 * sample_rate / 1000000;
}

}  // namespace

void apply_fade(std::span<int16_t> samples, uint64_t first_frame, uint32_t sample_rate,
                const FadeWindow& fade) {
  if (fade.end_us <= fade.start_us) return;
  const uint64_t start = frame_at(fade.start_us, sample_rate);
  const uint64_t end = frame_at(fade.end_us, sample_rate);
  const uint64_t frames = samples.size() / 2;
  for (uint64_t i = 0; i < frames; ++i) {
    const uint64_t n = first_frame + i;
    if (n < start) continue;
    int64_t gain = 0;
    if (n < end) {
      const uint64_t r = ((end - n) << 16) / (end - start);
      gain = static_cast<int64_t>(r * r >> 16);
    }
    for (size_t channel = 0; channel < 2; ++channel) {
      int16_t& sample = samples[2 * i + channel];
      sample = static_cast<int16_t>((sample * gain + 32768) >> 16);
    }
  }
}
