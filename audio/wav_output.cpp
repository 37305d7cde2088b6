#include "audio/wav_output.h"

#include <cerrno>
#include <cstring>

#include "audio/wav_header.h"
#include "common/files.h"

bool WavOutput::fail(const char* what) {
  const int error = output_.error() != 0 ? output_.error() : errno != 0 ? errno : EIO;
  why_ = std::string(what) + ": " + std::strerror(error);
  return false;
}

bool WavOutput::open(const char* path, uint32_t frame_rate) {
  data_bytes_ = 0;
  to_stdout_ = std::strcmp(path, "-") == 0;
  errno = 0;
  if (to_stdout_) {
    set_binary_mode(stdout);
    stream_ = stdout;
  } else {
    stream_ = output_.begin(path);
    if (stream_ == nullptr) return fail("can't create");
    buffer_.attach(stream_);
  }
  // Only a file of ours, renamed into place at the end, can be patched.
  streamed_ = to_stdout_ || output_.mode() != AtomicOutput::Mode::Temporary;
  const WavHeader header = streamed_ ? make_streaming_wav_header(frame_rate)
                                     : make_wav_header_template(frame_rate);
  if (files_.write(stream_, &header, sizeof header) != sizeof header) {
    return fail("can't write");
  }
  return true;
}

bool WavOutput::write(const uint8_t* frames, size_t bytes) {
  if (!streamed_ && data_bytes_ + bytes > kWavMaxDataBytes) {
    errno = EFBIG;
    return fail("too much sound for one WAV file");
  }
  errno = 0;
  if (files_.write(stream_, frames, bytes) != bytes) return fail("can't write");
  data_bytes_ += bytes;
  return true;
}

bool WavOutput::finish() {
  errno = 0;
  if (to_stdout_) {
    stream_ = nullptr;
    return files_.flush(stdout) || fail("can't write");
  }
  if (!streamed_) {
    uint8_t size[4];
    store_le32(size, static_cast<uint32_t>(data_bytes_));
    if (!files_.seek(stream_, kWavDataSizeOffset) ||
        files_.write(stream_, size, sizeof size) != sizeof size ||
        !files_.seek(stream_, kWavRiffSizeOffset)) {
      abandon();
      return fail("can't write");
    }
    store_le32(size, static_cast<uint32_t>(data_bytes_ + kWavRiffOverhead));
    if (files_.write(stream_, size, sizeof size) != sizeof size) {
      abandon();
      return fail("can't write");
    }
  }
  stream_ = nullptr;
  return output_.commit() || fail("can't complete");
}

void WavOutput::abandon() {
  if (to_stdout_) {
    stream_ = nullptr;
    return;
  }
  output_.abandon();
  stream_ = nullptr;
}
