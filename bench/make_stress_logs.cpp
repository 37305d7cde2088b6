// Writes the benchmark logs into a folder: make_stress_logs DIR [LOG...]
// writes DIR/sparse.txt (10 minutes of long notes), DIR/dense.txt (10
// seconds at the busiest the chip can be), three tunes DIR/tune1..3.txt and
// two pieces of noise drum music DIR/drums1..2.txt (a minute each); and for
// every LOG named, DIR/loop-NAME.txt: that log's writes played over and over
// for at least a minute, to time short logs the way whole songs are timed.
#include <cstdio>
#include <string>

#include "bench/stress_logs.h"
#include "common/register_log.h"

namespace {

bool write_text(const std::string& path, const std::string& text) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  return std::fclose(file) == 0 && written;
}

// The log's events repeated until a minute is reached, with the delay of
// the first write between two rounds set to 20 ms.
bool loop_log(const std::string& path, std::string* text) {
  *text = "MOVA-TXT\n";
  uint32_t time = 0;
  while (time < 60000000u) {
    RegisterLog log;
    if (!open_register_log(log, path.c_str(), LogOpenRules::Player)) return false;
    uint8_t reg = 0;
    uint8_t value = 0;
    uint32_t delay = 0;
    const uint32_t start = time;
    if (log.event_reader(nullptr, &reg, &value)) {
      stress_logs::append_write(text, time, reg, value);
      while (log.event_reader(&delay, &reg, &value)) {
        time += delay;
        stress_logs::append_write(text, time, reg, value);
      }
    }
    log.close();
    time += 20000;
    if (time == start + 20000) return false;  // a log of no length
  }
  return true;
}

std::string base_name(const std::string& path) {
  std::string name = path.substr(path.find_last_of("/\\") + 1);
  return name.substr(0, name.find_last_of('.'));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "Usage: make_stress_logs DIR [LOG...]\n");
    return 1;
  }
  const std::string dir = argv[1];
  bool ok = write_text(dir + "/sparse.txt", stress_logs::sparse_log(600)) &&
            write_text(dir + "/dense.txt", stress_logs::dense_log(10));
  for (uint32_t i = 1; ok && i <= 3; ++i) {
    ok = write_text(dir + "/tune" + std::to_string(i) + ".txt",
                    stress_logs::tune_log(60, i, i != 1));
  }
  for (uint32_t i = 1; ok && i <= 2; ++i) {
    ok = write_text(dir + "/drums" + std::to_string(i) + ".txt",
                    stress_logs::noise_drums_log(60, i));
  }
  for (int i = 2; ok && i < argc; ++i) {
    std::string text;
    ok = loop_log(argv[i], &text) &&
         write_text(dir + "/loop-" + base_name(argv[i]) + ".txt", text);
  }
  if (!ok) {
    std::fprintf(stderr, "Can't write the logs into %s\n", argv[1]);
    return 1;
  }
  return 0;
}
