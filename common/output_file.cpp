#include "common/output_file.h"

namespace {

class StdioOutputFiles final : public OutputFiles {
 public:
  FILE* open(const char* path) override {
    FILE* stream = std::fopen(path, "wb");
    // The renderer writes 6144-byte pieces, hundreds of thousands a second:
    // a large buffer turns them into few system calls. What a write cannot
    // store is still reported, by a later write, a seek or the close. One
    // stream at a time has it; any other keeps the library's own buffer.
    if (stream != nullptr && buffer_owner_ == nullptr &&
        std::setvbuf(stream, buffer_, _IOFBF, sizeof buffer_) == 0) {
      buffer_owner_ = stream;
    }
    return stream;
  }
  size_t write(FILE* stream, const void* data, size_t size) override {
    return std::fwrite(data, 1, size, stream);
  }
  bool seek(FILE* stream, long offset) override {
    return std::fseek(stream, offset, SEEK_SET) == 0;
  }
  bool close(FILE* stream) override {
    if (stream == buffer_owner_) buffer_owner_ = nullptr;
    return std::fclose(stream) == 0;
  }

 private:
  FILE* buffer_owner_ = nullptr;
  alignas(64) char buffer_[256 * 1024] = {};
};

}  // namespace

OutputFiles& stdio_output_files() {
  static StdioOutputFiles files;
  return files;
}
