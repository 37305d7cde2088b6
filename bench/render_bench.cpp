// Render speed, reported as seconds of sound per second of CPU ("x realtime"),
// for the stretch renderer and the tick-by-tick one side by side, single
// threaded, writing to /dev/null (every seek and write succeeds there, so the
// whole render runs).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "audio/wav_renderer.h"
#include "bench/stress_logs.h"
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

// The program's pieces, one of each, as the player has them.
SampleRing ring;
Chip chip(ring);
WavRenderer renderer(chip, ring);

// Whole renders of a log file to /dev/null, as `zarnik LOG -o /dev/null` does
// after reading its command line. `seconds` is the log's length.
void render_file(benchmark::State& state, const std::string& path, double seconds,
                 RenderPath render_path) {
  set_program_name("bench");
  chip.install_volume_table(kFullLevels);
  renderer.path = render_path;
  for (auto _ : state) {
    RegisterLog log;
    if (!open_register_log(log, path.c_str(), LogOpenRules::Player)) {
      state.SkipWithError("cannot open the log");
      return;
    }
    std::FILE* saved = stdout;
    const int code = renderer.render(log, path.c_str(), "/dev/null");
    (void)saved;
    log.close();
    if (code != 0) {
      state.SkipWithError("render failed");
      return;
    }
  }
  state.counters["x_realtime"] = benchmark::Counter(
      seconds * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

std::string write_log(const char* name, const std::string& text) {
  const std::string path = std::string(BENCH_DIR) + "/" + name;
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file != nullptr) {
    std::fwrite(text.data(), 1, text.size(), file);
    std::fclose(file);
  }
  return path;
}

const std::string kDemo = std::string(EXAMPLES_DIR) + "/demo/demo.txt";
constexpr double kDemoSeconds = 63.903147;
const std::string kSparse = write_log("sparse_bench.txt", stress_logs::sparse_log(60));
const std::string kDense = write_log("dense_bench.txt", stress_logs::dense_log(3));

void BM_DemoSong_Stretches(benchmark::State& s) {
  render_file(s, kDemo, kDemoSeconds, RenderPath::Stretches);
}
void BM_DemoSong_TickByTick(benchmark::State& s) {
  render_file(s, kDemo, kDemoSeconds, RenderPath::TickByTick);
}
void BM_SparseLog_Stretches(benchmark::State& s) {
  render_file(s, kSparse, 60, RenderPath::Stretches);
}
void BM_SparseLog_TickByTick(benchmark::State& s) {
  render_file(s, kSparse, 60, RenderPath::TickByTick);
}
void BM_DenseLog_Stretches(benchmark::State& s) {
  render_file(s, kDense, 3, RenderPath::Stretches);
}
void BM_DenseLog_TickByTick(benchmark::State& s) {
  render_file(s, kDense, 3, RenderPath::TickByTick);
}
BENCHMARK(BM_DemoSong_Stretches)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DemoSong_TickByTick)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SparseLog_Stretches)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SparseLog_TickByTick)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DenseLog_Stretches)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DenseLog_TickByTick)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
