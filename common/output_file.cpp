#include "common/output_file.h"

#include "common/files.h"

FILE* OutputFiles::create_new(const char* path, const char* permissions_from) {
  return create_exclusive_file(path, permissions_from);
}

bool OutputFiles::sync(FILE* stream) {
  return std::fflush(stream) == 0 && sync_to_storage(stream);
}

bool OutputFiles::replace(const char* from, const char* to) {
  return replace_file(from, to);
}

namespace {

class StdioOutputFiles : public OutputFiles {
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

class LargeBufferFiles final : public StdioOutputFiles {
 public:
  FILE* open(const char* path) override {
    return give_buffer(StdioOutputFiles::open(path));
  }
  FILE* create_new(const char* path, const char* permissions_from) override {
    return give_buffer(StdioOutputFiles::create_new(path, permissions_from));
  }
  // Every 32 flushes (about a megabyte of sound) the system is asked to start
  // storing what it has, so that the sync at the end, which waited 8 to 11 ms
  // for a one-minute song, finds most of it stored while the render went on.
  bool flush(FILE* stream) override {
    if (std::fflush(stream) != 0) return false;
    if (stream == owner_ && ++flushes_ % 32 == 0) start_storing(stream);
    return true;
  }
  bool close(FILE* stream) override {
    if (stream == owner_) owner_ = nullptr;
    return StdioOutputFiles::close(stream);
  }

 private:
  FILE* give_buffer(FILE* stream) {
    if (stream != nullptr && owner_ == nullptr &&
        std::setvbuf(stream, buffer_, _IOFBF, sizeof buffer_) == 0) {
      owner_ = stream;
    }
    return stream;
  }

  FILE* owner_ = nullptr;  // the stream that has the buffer
  unsigned flushes_ = 0;   // flushes of that stream so far
  alignas(64) char buffer_[64 * 1024] = {};
};

}  // namespace

OutputFiles& stdio_output_files() {
  static StdioOutputFiles files;
  return files;
}

OutputFiles& wav_output_files() {
  static LargeBufferFiles files;
  return files;
}
