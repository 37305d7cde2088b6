#include "audio/wav_renderer.h"

#include "common/files.h"
#include "common/messages.h"

WavRenderer::FlushResult WavRenderer::flush(FILE* file) {
  bool wrote = false;
  for (;;) {
    const uint32_t count = ring_.drain(staging_);
    if (count == 0) break;
    // The header's sizes are 32-bit: stop before they would wrap.
    if (static_cast<uint64_t>(byte_counter_) + count > max_data_bytes) {
      log_error("Too much sound for one WAV file (more than %lu bytes).\n",
                static_cast<unsigned long>(max_data_bytes));
      return FlushResult::TooLong;
    }
    if (files_.write(file, staging_, count) != count) {
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

int WavRenderer::finish(FILE* /*file*/, const char* output_path, int code) {
  const bool in_place = output_.mode() == AtomicOutput::Mode::InPlace;
  if (code == kRenderOk) {
    // The close pushes out the last buffered bytes, the sync stores them and
    // the rename makes them the output: each can fail, and the output name
    // then holds what it held before.
    if (!output_.commit()) {
      log_error("Can't write to output file.\n");
      code = kRenderCantWriteRiffSize;
    }
  } else {
    output_.discard();
  }
  // A file written in place is incomplete: delete it, but only ever what we
  // may have created, a regular file. A device, FIFO or symbolic link named
  // as the output stays where it is.
  if (code != kRenderOk && in_place && is_regular_file(output_path)) {
    delete_file(output_path);
  }
  return code;
}

bool WavRenderer::flush_if_high(FILE* file) {
  // The flush check comes before a tick and the feedback after it, so every
  // flush in the loop finds exactly 36868 bytes and the ring never fills
  // while rendering.
  if (ring_.ring_state() != SampleRing::kStateHigh) return true;
  if (flush(file) != FlushResult::Done) return false;
  ring_.set_ring_state(SampleRing::kStateMiddle);
  return true;
}

bool WavRenderer::run_ticks(RegisterLog& log, FILE* file) {
  uint32_t delay = 0;
  uint8_t reg = 0;
  uint8_t value = 0;
  while (log.event_reader(&delay, &reg, &value)) {
    for (; delay != 0; --delay) {
      if (!flush_if_high(file)) return false;
      chip_.tick();
      ring_.feedback_update();
    }
    chip_.write_register(reg, value);
  }
  return true;
}

bool WavRenderer::run_stretches(RegisterLog& log, FILE* file) {
  uint32_t delay = 0;
  uint8_t reg = 0;
  uint8_t value = 0;
  while (log.event_reader(&delay, &reg, &value)) {
    // The engine stops right after the tick that asks for a flush.
    while (delay != 0) {
      if (!flush_if_high(file)) return false;
      delay -= engine_.run(delay);
    }
    engine_.write_register(reg, value);
  }
  return true;
}

int WavRenderer::render(RegisterLog& log, const char* input_path,
                        const char* output_path) {
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
    return finish(file, output_path, kRenderCantWriteHeader);
  }

  ring_.set_ring_state(SampleRing::kStateMiddle);
  byte_counter_ = 0;

  uint8_t reg = 0;
  uint8_t value = 0;
  if (!log.event_reader(nullptr, &reg, &value)) {
    if (report_read_error(log, input_path)) {
      return finish(file, output_path, kRenderCantRead);
    }
    log_error("Can't find data in [%s]\n", input_path);
    return finish(file, output_path, kRenderNoData);
  }
  chip_.reset();
  bool completed = false;
  if (path == RenderPath::TickByTick) {
    chip_.write_register(reg, value);
    completed = run_ticks(log, file);
  } else {
    engine_.start();
    engine_.write_register(reg, value);
    completed = run_stretches(log, file);
    engine_.synchronize();
  }
  if (!completed) return finish(file, output_path, kRenderCantWriteFrames);
  if (report_read_error(log, input_path)) {
    return finish(file, output_path, kRenderCantRead);
  }

  switch (flush(file)) {
    case FlushResult::Done: break;
    case FlushResult::WriteFailed:
      log_error("Can't write to output file.\n");
      return finish(file, output_path, kRenderCantWriteFrames);
    case FlushResult::TooLong: return finish(file, output_path, kRenderCantWriteFrames);
  }

  uint8_t size[4];
  store_le32(size, byte_counter_);
  if (!files_.seek(file, kWavDataSizeOffset) ||
      files_.write(file, size, sizeof size) != sizeof size ||
      !files_.seek(file, kWavRiffSizeOffset)) {
    log_error("Can't write to output file.\n");
    return finish(file, output_path, kRenderCantWriteDataSize);
  }
  store_le32(size, byte_counter_ + kWavRiffOverhead);
  if (files_.write(file, size, sizeof size) != sizeof size) {
    log_error("Can't write to output file.\n");
    return finish(file, output_path, kRenderCantWriteRiffSize);
  }
  return finish(file, output_path, kRenderOk);
}
