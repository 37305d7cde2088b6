// A WAV file as a render's output. A file on disk is written under a
// temporary name and its sizes patched at the end (common/atomic_output.h);
// the standard output, a pipe or a device gets the sizes a stream carries
// (0xFFFFFFFF: "to the end"), which players reading a pipe accept.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "audio/pcm_output.h"
#include "common/atomic_output.h"
#include "common/output_file.h"

class WavOutput final : public PcmOutput {
 public:
  explicit WavOutput(OutputFiles& files = stdio_output_files())
      : files_(files), output_(files) {}

  // Opens path ("-": the standard output) and writes the header for
  // frame_rate frames a second. False when it can't, with why().
  bool open(const char* path, uint32_t frame_rate);

  bool write(const uint8_t* frames, size_t bytes) override;
  bool finish() override;
  void abandon() override;

  // Whether the sizes are a stream's: nothing seeks back to patch them.
  bool streamed() const { return streamed_; }

 private:
  bool fail(const char* what);

  // Declared before the output, which may still close the stream when it
  // goes.
  StreamBuffer buffer_;
  OutputFiles& files_;
  AtomicOutput output_;
  FILE* stream_ = nullptr;
  bool to_stdout_ = false;
  bool streamed_ = false;
  uint64_t data_bytes_ = 0;
};
