#include "audio/wav_renderer.h"

#include "common/files.h"
#include "common/messages.h"
#include "common/register_log.h"

// Between runs: the ring is emptied whenever it holds more than its
// high-water mark, so every flush inside the drive finds exactly 36868
// bytes and the ring never fills while rendering.
class WavRenderer::Policy final : public DrivePolicy {
 public:
  Policy(WavRenderer& renderer, SampleRing& ring, FILE* file)
      : renderer_(renderer), ring_(ring), file_(file) {}
  uint32_t before_run(uint32_t due) override {
    if (!ring_wants_emptying(ring_)) return due;
    return renderer_.flush(ring_, file_) == FlushResult::Done ? due : 0;
  }

 private:
  WavRenderer& renderer_;
  SampleRing& ring_;
  FILE* file_;
};

WavRenderer::FlushResult WavRenderer::flush(SampleRing& ring, FILE* file) {
  bool wrote = false;
  for (;;) {
    const uint8_t* piece = nullptr;
    const uint32_t count = ring.drain_in_place(&piece);
    if (count == 0) break;
    // The header's sizes are 32-bit: stop before they would wrap.
    if (static_cast<uint64_t>(byte_counter_) + count > max_data_bytes) {
      log_error("Too much sound for one WAV file (more than %lu bytes).\n",
                static_cast<unsigned long>(max_data_bytes));
      return FlushResult::TooLong;
    }
    if (files_.write(file, piece, count) != count) {
      log_error("Can't write to output file.\n");
      return FlushResult::WriteFailed;
    }
    byte_counter_ += count;
    wrote = true;
  }
  // Frames the system cannot store are a failed frame write, whichever piece
  // the stream's buffer happened to hold them in.
  if (wrote && !files_.flush(file)) {
    log_error("Can't write to output file.\n");
    return FlushResult::WriteFailed;
  }
  return FlushResult::Done;
}

int WavRenderer::finish(int code) {
  if (code == kRenderOk) {
    // The close pushes out the last buffered bytes, the sync stores them and
    // the rename makes them the output: each can fail, and the output name
    // then holds what it held before.
    if (output_.commit()) return code;
    log_error("Can't write to output file.\n");
    code = kRenderCantWriteRiffSize;
  }
  // A file written in place is incomplete: the output deletes it, but only
  // ever what we may have created, a regular file.
  output_.abandon();
  return code;
}

int WavRenderer::complete(FILE* file) {
  uint8_t size[4];
  store_le32(size, byte_counter_);
  if (!files_.seek(file, kWavDataSizeOffset) ||
      files_.write(file, size, sizeof size) != sizeof size ||
      !files_.seek(file, kWavRiffSizeOffset)) {
    log_error("Can't write to output file.\n");
    return finish(kRenderCantWriteDataSize);
  }
  store_le32(size, byte_counter_ + kWavRiffOverhead);
  if (files_.write(file, size, sizeof size) != sizeof size) {
    log_error("Can't write to output file.\n");
    return finish(kRenderCantWriteRiffSize);
  }
  return finish(kRenderOk);
}

int WavRenderer::render(WriteSource& source, SynthesisEngine& engine,
                        const char* input_path, const char* output_path) {
  const WavHeader header = make_wav_header_template();

  // Opening the log itself for writing would truncate it before it is read.
  FILE* file = nullptr;
  if (!same_file(input_path, output_path)) file = output_.begin(output_path);
  if (file == nullptr) {
    log_error("Can't open output file [%s]\n", output_path);
    return kRenderCantOpen;
  }
  print_progress("Starting to save [%s]\n", output_path);

  if (files_.write(file, header.riff, sizeof header.riff) != sizeof header.riff ||
      files_.write(file, header.format, sizeof header.format) != sizeof header.format ||
      files_.write(file, header.data, sizeof header.data) != sizeof header.data) {
    log_error("Can't write to output file.\n");
    return finish(kRenderCantWriteHeader);
  }
  byte_counter_ = 0;

  DriveLoop loop(source, engine);
  if (!loop.read_first()) {
    if (report_read_error(source, input_path)) {
      return finish(kRenderCantRead);
    }
    log_error("Can't find data in [%s]\n", input_path);
    return finish(kRenderNoData);
  }
  loop.start();
  Policy policy(*this, engine.ring(), file);
  const bool completed = loop.run(policy) == DriveEnd::SourceEnded;
  engine.synchronize();
  if (!completed) return finish(kRenderCantWriteFrames);
  if (report_read_error(source, input_path)) {
    return finish(kRenderCantRead);
  }

  switch (flush(engine.ring(), file)) {
    case FlushResult::Done: break;
    case FlushResult::WriteFailed:
      log_error("Can't write to output file.\n");
      return finish(kRenderCantWriteFrames);
    case FlushResult::TooLong: return finish(kRenderCantWriteFrames);
  }
  return complete(file);
}
