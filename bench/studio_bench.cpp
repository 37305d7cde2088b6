// The studio engine's speed, as seconds of sound per second of one core
// ("x_realtime"), on synthetic songs shaped like real ones: 50 Hz frames of
// register writes on a 1.7734 MHz chip, rendered into a buffer as fast as the
// ring fills. The memory is the engine's own object; nothing grows with the
// song.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "psg/studio_engine.h"

namespace {

constexpr uint32_t kClock = 1773400;
constexpr uint32_t kFrameTicks = kClock / 50;

struct Write {
  uint8_t frame_part;  // 0: at the frame's start
  uint8_t reg;
  uint8_t value;
};

// One frame of a song-like tune: a lead on A with a decaying volume, a bass
// on B that uses the envelope as a buzzer, drums on C (noise with a falling
// volume) every half bar, arpeggio chords in between.
std::vector<std::vector<Write>> make_tune(int frames, bool fast_buzzer, bool sparse) {
  static constexpr uint16_t kScale[] = {424, 378, 337, 318, 283, 252, 225, 212};
  std::vector<std::vector<Write>> song(frames);
  for (int f = 0; f < frames; ++f) {
    auto& w = song[f];
    if (sparse) {
      if (f % 50 == 0) {
        const uint16_t p = kScale[(f / 50) % 8];
        w = {{0, 7, 0x3E}, {0, 8, 12}, {0, 0, uint8_t(p)}, {0, 1, uint8_t(p >> 8)}};
      }
      continue;
    }
    const int step = f / 6;
    const uint16_t lead = kScale[(step * 3) % 8] >> (step % 3 == 0 ? 1 : 0);
    const bool drum = f % 24 < 3;
    w.push_back({0, 0, uint8_t(lead)});
    w.push_back({0, 1, uint8_t(lead >> 8)});
    w.push_back({0, 8, uint8_t(15 - (f % 6) * 2)});
    const uint16_t bass = fast_buzzer ? 2 : uint16_t(kScale[step % 8] / 8);
    w.push_back({0, 11, uint8_t(bass)});
    w.push_back({0, 12, 0});
    if (f % 6 == 0) w.push_back({0, 13, 10});
    w.push_back({0, 9, 0x10});
    w.push_back({0, 2, uint8_t(bass * 16)});
    w.push_back({0, 3, uint8_t((bass * 16) >> 8)});
    const uint16_t chord = kScale[(step + f % 3 * 2) % 8] / 2;
    w.push_back({0, 4, uint8_t(drum ? 0 : chord)});
    w.push_back({0, 5, uint8_t(chord >> 8)});
    w.push_back({0, 6, uint8_t(drum ? 1 + f % 24 * 4 : 0)});
    w.push_back({0, 7, uint8_t(drum ? 0x1C : 0x38)});
    w.push_back({0, 10, uint8_t(drum ? 15 - f % 24 * 3 : 9)});
  }
  return song;
}

void render(benchmark::State& state, bool fast_buzzer, bool sparse, ChipModel model) {
  constexpr int kFrames = 50 * 60;
  const auto song = make_tune(kFrames, fast_buzzer, sparse);
  auto ring = std::make_unique<SampleRing>();
  StudioSettings settings;
  settings.clock_hz = kClock;
  settings.model = model;
  auto engine = std::make_unique<StudioEngine>(settings, *ring);
  std::vector<uint8_t> out(1 << 16);
  const uint8_t* piece = nullptr;
  size_t bytes = 0;
  for (auto _ : state) {
    engine->reset();
    for (const auto& frame : song) {
      for (const Write& w : frame) engine->write_register(w.reg, w.value);
      for (uint32_t left = kFrameTicks; left != 0;) {
        left -= engine->run(left);
        for (uint32_t n; (n = ring->drain_in_place(&piece)) != 0;) {
          std::memcpy(out.data() + bytes % (out.size() - SampleRing::kDrainBytes), piece,
                      n);
          bytes += n;
        }
      }
    }
  }
  benchmark::DoNotOptimize(out.data());
  state.counters["x_realtime"] =
      benchmark::Counter(kFrames / 50.0 * static_cast<double>(state.iterations()),
                         benchmark::Counter::kIsRate);
  state.counters["engine_bytes"] = sizeof(StudioEngine);
}

void BM_StudioTune(benchmark::State& state) {
  render(state, false, false, ChipModel::Ay);
}
void BM_StudioTuneYm(benchmark::State& state) {
  render(state, false, false, ChipModel::Ym);
}
void BM_StudioFastBuzzer(benchmark::State& state) {
  render(state, true, false, ChipModel::Ym);
}
void BM_StudioSparse(benchmark::State& state) {
  render(state, false, true, ChipModel::Ay);
}
BENCHMARK(BM_StudioTune)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StudioTuneYm)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StudioFastBuzzer)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StudioSparse)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
