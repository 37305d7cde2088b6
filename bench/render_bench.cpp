// Render speed, reported as seconds of sound per second of CPU ("x realtime"),
// for the stretch renderer and the tick-by-tick one side by side, single
// threaded, writing to /dev/null (every seek and write succeeds there, so the
// whole render runs).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <string>

#include "audio/rig.h"
#include "bench/stress_logs.h"
#include "common/messages.h"
#include "common/register_log.h"
#include "psg/chip.h"

namespace {

// One chip tick with all three tones, noise and a running envelope.
void BM_ChipTick(benchmark::State& state) {
  auto rig = std::make_unique<ExactRig>(EngineKind::Ticks);
  ExactEngine& engine = rig->engine();
  SampleRing& ring = rig->ring();
  engine.install_volume_table(kFullLevels);
  engine.reset();
  const uint8_t setup[][2] = {{0, 100},  {2, 150}, {4, 200}, {6, 5},   {7, 0x00},
                              {8, 0x10}, {9, 12},  {10, 10}, {11, 20}, {13, 14}};
  for (const auto& w : setup) engine.write_register(w[0], w[1]);
  uint8_t scratch[SampleRing::kDrainBytes];
  int64_t ticks = 0;
  for (auto _ : state) {
    for (uint32_t left = 1000; left != 0;) left -= engine.run(left);
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

// Whole renders of a log file to /dev/null, as `zarnik LOG -o /dev/null` does
// after reading its command line. `seconds` is the log's length.
void render_file(benchmark::State& state, const std::string& path, double seconds,
                 EngineKind kind) {
  set_program_name("bench");
  // The player's rig, built once as the player builds it.
  auto rig = std::make_unique<ExactRig>(kind);
  for (auto _ : state) {
    RegisterLog log;
    if (!open_register_log(log, path.c_str(), LogOpenRules::Player)) {
      state.SkipWithError("cannot open the log");
      return;
    }
    std::FILE* saved = stdout;
    const int code = rig->render(log, path.c_str(), "/dev/null");
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

// The demo song as it ships (binary) and as it is written (text).
const std::string kDemo = std::string(EXAMPLES_DIR) + "/demo/demo.bin";
const std::string kDemoText = std::string(EXAMPLES_DIR) + "/demo/demo.txt";
constexpr double kDemoSeconds = 63.903147;
const std::string kSparse = write_log("sparse_bench.txt", stress_logs::sparse_log(60));
const std::string kDense = write_log("dense_bench.txt", stress_logs::dense_log(3));

void BM_DemoSong_Stretches(benchmark::State& s) {
  render_file(s, kDemo, kDemoSeconds, EngineKind::Stretches);
}
void BM_DemoSongText_Stretches(benchmark::State& s) {
  render_file(s, kDemoText, kDemoSeconds, EngineKind::Stretches);
}
void BM_DemoSong_TickByTick(benchmark::State& s) {
  render_file(s, kDemo, kDemoSeconds, EngineKind::Ticks);
}
void BM_SparseLog_Stretches(benchmark::State& s) {
  render_file(s, kSparse, 60, EngineKind::Stretches);
}
void BM_SparseLog_TickByTick(benchmark::State& s) {
  render_file(s, kSparse, 60, EngineKind::Ticks);
}
void BM_DenseLog_Stretches(benchmark::State& s) {
  render_file(s, kDense, 3, EngineKind::Stretches);
}
void BM_DenseLog_TickByTick(benchmark::State& s) {
  render_file(s, kDense, 3, EngineKind::Ticks);
}
BENCHMARK(BM_DemoSong_Stretches)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinWarmUpTime(0.2);
BENCHMARK(BM_DemoSongText_Stretches)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinWarmUpTime(0.2);
BENCHMARK(BM_DemoSong_TickByTick)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinWarmUpTime(0.2);
BENCHMARK(BM_SparseLog_Stretches)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinWarmUpTime(0.2);
BENCHMARK(BM_SparseLog_TickByTick)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinWarmUpTime(0.2);
BENCHMARK(BM_DenseLog_Stretches)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinWarmUpTime(0.2);
BENCHMARK(BM_DenseLog_TickByTick)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinWarmUpTime(0.2);

}  // namespace

BENCHMARK_MAIN();
