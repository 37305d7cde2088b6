#include "mova/batch.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <set>
#include <thread>

namespace {

std::string lower(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

// h:mm:ss past an hour, else m:ss.
std::string duration_text(double seconds) {
  const auto whole = static_cast<uint64_t>(seconds < 0 ? 0 : seconds);
  char text[32];
  if (whole >= 3600)
    std::snprintf(text, sizeof text, "%llu:%02llu:%02llu",
                  static_cast<unsigned long long>(whole / 3600),
                  static_cast<unsigned long long>(whole / 60 % 60),
                  static_cast<unsigned long long>(whole % 60));
  else
    std::snprintf(text, sizeof text, "%llu:%02llu",
                  static_cast<unsigned long long>(whole / 60),
                  static_cast<unsigned long long>(whole % 60));
  return text;
}

// What the workers share, behind one lock.
struct BatchState {
  std::mutex lock;
  size_t next = 0;
  BatchProgress progress;
  int exit_code = 0;
  std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
};

void work(const std::vector<BatchJob>& jobs, const std::atomic<bool>& stop,
          BatchState& state,
          const std::function<void(const BatchProgress&)>& on_progress) {
  for (;;) {
    size_t index = 0;
    {
      const std::lock_guard<std::mutex> guard(state.lock);
      if (state.next == jobs.size() || stop.load()) return;
      index = state.next++;
    }
    const JobResult result = jobs[index](stop);
    const std::lock_guard<std::mutex> guard(state.lock);
    BatchProgress& progress = state.progress;
    ++progress.done;
    if (result.exit_code != 0) ++progress.failures;
    progress.audio_us += result.audio_us;
    progress.wall_s =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - state.start)
            .count();
    state.exit_code = std::max(state.exit_code, result.exit_code);
    if (on_progress) on_progress(progress);
  }
}

}  // namespace

std::vector<std::string> output_names(const std::vector<std::string>& sources,
                                      const std::string& folder,
                                      const std::string& extension) {
  std::set<std::string> taken;  // in lower case
  std::vector<std::string> names;
  for (const std::string& source : sources) {
    const std::string stem = std::filesystem::path(source).stem().string();
    std::string name = stem + "." + extension;
    for (int number = 2; !taken.insert(lower(name)).second; ++number)
      name = stem + "-" + std::to_string(number) + "." + extension;
    names.push_back((std::filesystem::path(folder) / name).string());
  }
  return names;
}

double BatchProgress::speed() const {
  return wall_s > 0 ? audio_us / 1e6 / wall_s : 0;
}

double BatchProgress::left_s() const {
  return done > 0 ? wall_s / static_cast<double>(done) * static_cast<double>(total - done)
                  : 0;
}

BatchResult run_batch(const std::vector<BatchJob>& jobs, unsigned threads,
                      const std::atomic<bool>& stop,
                      const std::function<void(const BatchProgress&)>& on_progress) {
  if (threads == 0) threads = std::max(1u, std::thread::hardware_concurrency());
  threads =
      static_cast<unsigned>(std::min<size_t>(threads, std::max<size_t>(jobs.size(), 1)));
  BatchState state;
  state.progress.total = jobs.size();
  std::vector<std::thread> workers;
  for (unsigned i = 1; i < threads; ++i)
    workers.emplace_back(work, std::cref(jobs), std::cref(stop), std::ref(state),
                         std::cref(on_progress));
  work(jobs, stop, state, on_progress);  // the calling thread is one worker
  for (std::thread& worker : workers) worker.join();
  BatchResult result;
  result.progress = state.progress;
  result.progress.not_started = jobs.size() - state.next;
  result.progress.wall_s =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - state.start)
          .count();
  result.exit_code = state.exit_code;
  return result;
}

std::string progress_line(const BatchProgress& progress) {
  char speed[32];
  std::snprintf(speed, sizeof speed, "%.1fx", progress.speed());
  return std::to_string(progress.done) + "/" + std::to_string(progress.total) +
         " songs  " + duration_text(progress.audio_us / 1e6) + " of audio  " + speed +
         " real time  " + duration_text(progress.left_s()) + " left";
}

std::string summary_line(const BatchProgress& progress) {
  char wall[32], speed[32];
  std::snprintf(wall, sizeof wall, "%s.%d", duration_text(progress.wall_s).c_str(),
                static_cast<int>(progress.wall_s * 10) % 10);
  std::snprintf(speed, sizeof speed, "%.1fx", progress.speed());
  std::string line = std::to_string(progress.done) + " songs, " +
                     std::to_string(progress.failures) + " failed, ";
  if (progress.not_started != 0)
    line += std::to_string(progress.not_started) + " not started, ";
  return line + duration_text(progress.audio_us / 1e6) + " of audio in " + wall + ", " +
         speed + " real time";
}
