// A FLAC file as a render's output: libFLAC's encoder (audio/flac_writer.h)
// writing through an AtomicOutput, so that nothing replaces the name before
// the file is complete.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

#include "audio/flac_writer.h"
#include "audio/pcm_output.h"
#include "common/atomic_output.h"

class FlacOutput final : public PcmOutput {
 public:
  explicit FlacOutput(OutputFiles& files = stdio_output_files())
      : output_(files), writer_(files) {}

  // Creates path and starts the stream at frame_rate with the tags. False
  // when it can't, with why().
  bool open(const char* path, uint32_t frame_rate, const FlacTags& tags);

  bool write(const uint8_t* frames, size_t bytes) override;
  bool finish() override;
  void abandon() override;

 private:
  StreamBuffer buffer_;  // before the output, which may close the stream
  AtomicOutput output_;
  FlacWriter writer_;
  std::vector<int16_t> samples_;
};
