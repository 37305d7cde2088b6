// Renders a register log into a WAV file as fast as the processor allows.
#pragma once

#include <cstdint>

#include "audio/sample_ring.h"
#include "audio/wav_header.h"
#include "common/atomic_output.h"
#include "common/output_file.h"
#include "common/register_log.h"
#include "psg/chip.h"
#include "psg/stretch_engine.h"

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

// How the renderer drives the chip. Both write the same bytes through the same
// calls; stretches are much faster, ticks are the reference they are tested
// against.
enum class RenderPath : uint8_t { Stretches, TickByTick };

class WavRenderer {
 public:
  WavRenderer(Chip& chip, SampleRing& ring, OutputFiles& files = wav_output_files())
      : chip_(chip), ring_(ring), files_(files), output_(files), engine_(chip, ring) {}

  // Runs the chip over the whole log (opened, at its first event) and writes
  // every frame to output_path through an AtomicOutput. Returns 0, or 2 (the
  // log could not be read) to 8 after logging why; the output name then holds
  // what it held before (a file written in place is deleted if it is a
  // regular file). Leaves the log open.
  int render(RegisterLog& log, const char* input_path, const char* output_path);

  // The largest data size the header may describe; lowered by tests.
  uint32_t max_data_bytes = kWavMaxDataBytes;

  // Which way the chip runs; the player uses stretches.
  RenderPath path = RenderPath::Stretches;

 private:
  enum class FlushResult { Done, WriteFailed, TooLong };

  // Runs the chip over the log's remaining events, flushing whenever the ring
  // state asks for it. False when a flush inside the loop failed.
  bool run_ticks(RegisterLog& log, FILE* file);
  bool run_stretches(RegisterLog& log, FILE* file);
  // The flush that the ring state asks for before the next tick, if any.
  bool flush_if_high(FILE* file);

  // Drains the ring into the file in pieces of up to 6144 bytes, then hands
  // what the stream buffers to the system.
  FlushResult flush(FILE* file);
  // Completes the output when the code is 0 (a failure then gives 8),
  // abandons it otherwise; returns the code. file is the output's stream.
  int finish(FILE* file, const char* output_path, int code);

  Chip& chip_;
  SampleRing& ring_;
  OutputFiles& files_;
  AtomicOutput output_;
  StretchEngine engine_;
  uint32_t byte_counter_ = 0;
  uint8_t staging_[SampleRing::kDrainBytes] = {};
};
