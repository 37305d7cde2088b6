// Renders a source of timed writes into a WAV file as fast as the processor
// allows: the drive loop's render policy, which empties the engine's ring
// into the file whenever it holds more than its high-water mark.
#pragma once

#include <cstdint>

#include "audio/drive_loop.h"
#include "audio/wav_header.h"
#include "common/atomic_output.h"
#include "common/output_file.h"
#include "common/write_source.h"
#include "psg/synthesis_engine.h"

// Exit codes of the renderer (the player's codes 2 to 8).
enum RenderExit : int {
  kRenderOk = 0,
  kRenderCantRead = 2,
  kRenderCantOpen = 3,
  kRenderCantWriteHeader = 4,
  kRenderNoData = 5,
  kRenderCantWriteFrames = 6,
  kRenderCantWriteDataSize = 7,
  kRenderCantWriteRiffSize = 8,
};

class WavRenderer {
 public:
  explicit WavRenderer(OutputFiles& files = wav_output_files())
      : files_(files), output_(files) {}

  // Runs the engine over the whole source (at its first write) and writes
  // every frame to output_path through an AtomicOutput. Returns 0, or 2 (the
  // source could not be read) to 8 after logging why; the output name then
  // holds what it held before (a file written in place is deleted if it is a
  // regular file). Leaves the source open and the engine synchronised.
  int render(WriteSource& source, SynthesisEngine& engine, const char* input_path,
             const char* output_path);

  // The largest data size the header may describe; lowered by tests.
  uint32_t max_data_bytes = kWavMaxDataBytes;

 private:
  enum class FlushResult { Done, WriteFailed, TooLong };
  class Policy;

  // Drains the ring into the file in pieces of up to 6144 bytes, written
  // from the ring itself, then hands what the stream buffers to the system.
  FlushResult flush(SampleRing& ring, FILE* file);
  // Writes the sizes into the header and completes the output.
  int complete(FILE* file);
  // Completes the output when the code is 0 (a failure then gives 8),
  // abandons it otherwise; returns the code.
  int finish(int code);

  OutputFiles& files_;
  AtomicOutput output_;
  uint32_t byte_counter_ = 0;
};
