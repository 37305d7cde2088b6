// Import speed of the tracker modules: the three shared Pro Tracker 3 modules
// (../shared/pt3/, read where they lie) imported in memory, replayer and
// rescaling stage together. Reports modules and frames per second.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "formats/song.h"

namespace {

std::vector<std::vector<uint8_t>> shared_modules() {
  std::vector<std::vector<uint8_t>> modules;
  for (const char* name : {"foxx_voice", "luchibobra_if_u_want", "catman_still_alive"}) {
    std::ifstream stream(
        std::filesystem::path(SHARED_DIR) / "pt3" / (std::string(name) + ".pt3"),
        std::ios::binary);
    if (stream)
      modules.emplace_back(std::istreambuf_iterator<char>(stream),
                           std::istreambuf_iterator<char>());
  }
  return modules;
}

void BM_ImportPt3Modules(benchmark::State& state) {
  const auto modules = shared_modules();
  if (modules.empty()) {
    state.SkipWithError("no ../shared/pt3 modules");
    return;
  }
  uint64_t frames = 0, imported = 0;
  for (auto _ : state) {
    for (const auto& module : modules) {
      const ImportResult result = import_song(module, ImportOptions{});
      benchmark::DoNotOptimize(result.writes.data());
      frames += result.info.frames;
      ++imported;
    }
  }
  state.counters["modules/s"] =
      benchmark::Counter(static_cast<double>(imported), benchmark::Counter::kIsRate);
  state.counters["frames/s"] =
      benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ImportPt3Modules)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
