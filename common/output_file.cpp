#include "common/output_file.h"

namespace {

class StdioOutputFiles final : public OutputFiles {
 public:
  FILE* open(const char* path) override { return std::fopen(path, "wb"); }
  size_t write(FILE* stream, const void* data, size_t size) override {
    return std::fwrite(data, 1, size, stream);
  }
  bool seek(FILE* stream, long offset) override {
    return std::fseek(stream, offset, SEEK_SET) == 0;
  }
  bool close(FILE* stream) override { return std::fclose(stream) == 0; }
};

}  // namespace

OutputFiles& stdio_output_files() {
  static StdioOutputFiles files;
  return files;
}
