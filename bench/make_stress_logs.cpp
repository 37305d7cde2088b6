// Writes the benchmark logs into a folder: make_stress_logs DIR writes
// DIR/sparse.txt (10 minutes of long notes) and DIR/dense.txt (10 seconds at
// the busiest the chip can be).
#include <cstdio>
#include <string>

#include "bench/stress_logs.h"

namespace {

bool write_text(const std::string& path, const std::string& text) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  return std::fclose(file) == 0 && written;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "Usage: make_stress_logs DIR\n");
    return 1;
  }
  const std::string dir = argv[1];
  if (!write_text(dir + "/sparse.txt", stress_logs::sparse_log(600)) ||
      !write_text(dir + "/dense.txt", stress_logs::dense_log(10))) {
    std::fprintf(stderr, "Can't write the logs into %s\n", argv[1]);
    return 1;
  }
  return 0;
}
