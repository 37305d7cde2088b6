// The studio engine on arbitrary settings and register writes: the first
// bytes choose the clock (1..4 MHz), the sample rate (8000..192000 Hz), the
// chip, the stereo layout and the chip count; the rest are writes (register,
// value, delay). Every run must make exactly the frames its chip time
// yields, and the filtered signal must stay finite and inside 16 bits
// before rounding, so that no sample is ever clipped.
#include <cmath>
#include <cstdint>
#include <memory>

#include "fuzz/fuzz_support.h"
#include "psg/studio_engine.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 6) return 0;
  StudioSettings settings;
  settings.clock_hz = 1000000 + (uint32_t{data[0]} << 8 | data[1]) * 3000000u / 65535;
  settings.sample_rate = 8000 + (uint32_t{data[2]} << 8 | data[3]) * 184000u / 65535;
  settings.model = (data[4] & 1) != 0 ? ChipModel::Ym : ChipModel::Ay;
  settings.stereo = static_cast<StereoLayout>((data[4] >> 1) % 7);
  settings.chips = 1 + ((data[4] >> 4) & 1);
  settings.dither_seed = data[5];
  auto ring = std::make_unique<SampleRing>();
  auto engine = std::make_unique<StudioEngine>(settings, *ring);
  engine->reset();
  uint8_t piece[SampleRing::kDrainBytes];
  uint64_t ticks = 0;
  uint64_t frames = 0;
  for (size_t at = 6; at + 3 <= size && ticks < 40'000'000; at += 3) {
    engine->write_register(data[at] & 31, data[at + 1]);
    const uint32_t delay = uint32_t{data[at + 2]} * data[at + 2] * 16;
    if ((data[at] & 0xE0) == 0xE0) {
      engine->advance(delay);
      ticks += delay;
      frames = ticks * settings.sample_rate / settings.clock_hz;
      continue;
    }
    for (uint32_t left = delay; left != 0;) {
      left -= engine->run(left);
      for (uint32_t n; (n = ring->drain(piece)) != 0;) frames += n / 4;
      FUZZ_REQUIRE(std::isfinite(engine->filtered_level(0)));
      FUZZ_REQUIRE(std::isfinite(engine->filtered_level(1)));
      FUZZ_REQUIRE(std::abs(engine->filtered_level(0) * engine->pcm_scale()) < 32765.5);
      FUZZ_REQUIRE(std::abs(engine->filtered_level(1) * engine->pcm_scale()) < 32765.5);
    }
    ticks += delay;
    FUZZ_REQUIRE(frames == ticks * settings.sample_rate / settings.clock_hz);
  }
  return 0;
}
