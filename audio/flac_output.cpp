#include "audio/flac_output.h"

#include <cerrno>
#include <cstring>

bool FlacOutput::open(const char* path, uint32_t frame_rate, const FlacTags& tags) {
  errno = 0;
  FILE* stream = output_.begin(path);
  if (stream == nullptr) {
    const int error = output_.error() != 0 ? output_.error() : errno != 0 ? errno : EIO;
    why_ = std::string("can't create: ") + std::strerror(error);
    return false;
  }
  buffer_.attach(stream);
  const bool seekable = output_.mode() == AtomicOutput::Mode::Temporary;
  if (!writer_.begin(stream, frame_rate, tags, seekable)) {
    why_ = writer_.error();
    abandon();
    return false;
  }
  return true;
}

bool FlacOutput::write(const uint8_t* frames, size_t bytes) {
  // The ring's frames are little-endian; the encoder takes samples.
  samples_.resize(bytes / 2);
  for (size_t i = 0; i < samples_.size(); ++i) {
    samples_[i] = static_cast<int16_t>(frames[2 * i] | frames[2 * i + 1] << 8);
  }
  if (writer_.write(samples_)) return true;
  why_ = writer_.error();
  return false;
}

bool FlacOutput::finish() {
  if (!writer_.finish()) {
    why_ = writer_.error();
    abandon();
    return false;
  }
  errno = 0;
  if (output_.commit()) return true;
  const int error = output_.error() != 0 ? output_.error() : errno != 0 ? errno : EIO;
  why_ = std::string("can't complete: ") + std::strerror(error);
  return false;
}

void FlacOutput::abandon() {
  output_.abandon();
}
