// Render speed, reported as seconds of sound per second of CPU ("x realtime").
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "audio/wav_renderer.h"
#include "common/messages.h"
#include "psg/chip.h"

namespace {

// One chip tick with all three tones, noise and a running envelope.
void BM_ChipTick(benchmark::State& state) {
  static SampleRing ring;
  static Chip chip(ring);
  chip.install_volume_table(kFullLevels);
  chip.reset();
  const uint8_t setup[][2] = {{0, 100},  {2, 150}, {4, 200}, {6, 5},   {7, 0x00},
                              {8, 0x10}, {9, 12},  {10, 10}, {11, 20}, {13, 14}};
  for (const auto& w : setup) chip.write_register(w[0], w[1]);
  uint8_t scratch[SampleRing::kDrainBytes];
  int64_t ticks = 0;
  for (auto _ : state) {
    for (int i = 0; i < 1000; ++i) chip.tick();
    ticks += 1000;
    if (ring.fill_level() > SampleRing::kHighWater) {
      while (ring.drain(scratch) != 0) {
      }
    }
  }
  state.SetItemsProcessed(ticks);
  state.counters["x_realtime"] =
      benchmark::Counter(static_cast<double>(ticks) / 1e6, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ChipTick);

// A whole render of a log file to /dev/null, as `zarnik LOG -o /dev/null` does.
void render_file(benchmark::State& state, const std::string& path, double seconds) {
  static SampleRing ring;
  static Chip chip(ring);
  static WavRenderer renderer(chip, ring);
  set_program_name("bench");
  chip.install_volume_table(kFullLevels);
  std::FILE* saved_stdout = stdout;
  for (auto _ : state) {
    RegisterLog log;
    if (!open_register_log(log, path.c_str(), LogOpenRules::Player)) {
      state.SkipWithError("cannot open the log");
      return;
    }
    const int code = renderer.render(log, path.c_str(), "/dev/null");
    log.close();
    if (code != 0) {
      state.SkipWithError("render failed");
      return;
    }
  }
  (void)saved_stdout;
  state.counters["x_realtime"] = benchmark::Counter(
      seconds * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_RenderDemoSong(benchmark::State& state) {
  render_file(state, std::string(EXAMPLES_DIR) + "/demo/demo.txt", 63.903147);
}
BENCHMARK(BM_RenderDemoSong)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
