#include "common/output_file.h"

#include <cstring>

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
  FILE* open(const char* path) override { return adopt(StdioOutputFiles::open(path)); }
  FILE* create_new(const char* path, const char* permissions_from) override {
    return adopt(StdioOutputFiles::create_new(path, permissions_from));
  }
  size_t write(FILE* stream, const void* data, size_t size) override {
    if (stream != owner_) return StdioOutputFiles::write(stream, data, size);
    if (size >= kNotedBytes) {
      if (count_ == kMaxPieces && !push_out()) return 0;
      pieces_[count_++] = {data, size};
      return size;
    }
    if ((count_ == kMaxPieces || copied_ + size > sizeof copies_) && !push_out())
      return 0;
    char* copy = copies_ + copied_;
    std::memcpy(copy, data, size);
    copied_ += size;
    // A small write right after another joins its piece.
    OutputPiece* last = count_ > 0 ? &pieces_[count_ - 1] : nullptr;
    if (last != nullptr && static_cast<const char*>(last->data) + last->size == copy) {
      last->size += size;
    } else {
      pieces_[count_++] = {copy, size};
    }
    return size;
  }
  // Every 32 flushes (about a megabyte of sound) the system is asked to start
  // storing what it has, so that the sync at the end, which waited 8 to 11 ms
  // for a one-minute song, finds most of it stored while the render went on.
  bool flush(FILE* stream) override {
    if (stream != owner_) return StdioOutputFiles::flush(stream);
    if (!push_out()) return false;
    if (++flushes_ % 32 == 0) start_storing(stream);
    return true;
  }
  // What is noted goes out before the stream moves, stores or closes.
  bool seek(FILE* stream, long offset) override {
    return (stream != owner_ || push_out()) && StdioOutputFiles::seek(stream, offset);
  }
  bool sync(FILE* stream) override {
    return (stream != owner_ || push_out()) && StdioOutputFiles::sync(stream);
  }
  bool close(FILE* stream) override {
    const bool written = stream != owner_ || push_out();
    if (stream == owner_) owner_ = nullptr;
    return StdioOutputFiles::close(stream) && written;
  }

 private:
  // Writes of this size or more are noted, not copied.
  static constexpr size_t kNotedBytes = 512;
  static constexpr size_t kMaxPieces = 16;

  FILE* adopt(FILE* stream) {
    if (stream != nullptr && owner_ == nullptr) {
      owner_ = stream;
      count_ = 0;
      copied_ = 0;
      // Where the system cannot gather pieces they pass through the stream's
      // buffer: a large one, so that a flush is still one write.
      std::setvbuf(stream, buffer_, _IOFBF, sizeof buffer_);
    }
    return stream;
  }
  // Hands the noted pieces to the system, in one write where it can.
  bool push_out() {
    const bool written = count_ == 0 || write_pieces(owner_, pieces_, count_);
    count_ = 0;
    copied_ = 0;
    return written;
  }

  FILE* owner_ = nullptr;  // the stream whose writes are gathered
  unsigned flushes_ = 0;   // flushes of that stream so far
  OutputPiece pieces_[kMaxPieces] = {};
  size_t count_ = 0;
  char copies_[4096] = {};  // the small writes among the pieces
  size_t copied_ = 0;
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

void StreamBuffer::attach(FILE* stream) {
  if (!bytes_) bytes_ = std::make_unique<char[]>(kBytes);
  std::setvbuf(stream, bytes_.get(), _IOFBF, kBytes);
}
