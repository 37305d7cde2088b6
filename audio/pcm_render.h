// A render into any PcmOutput: the drive loop with a policy that empties the
// ring into the output whenever it wants emptying, passing every piece
// through an optional shaper (a fade) on the way, and that stops when asked
// to (Ctrl-C in a batch).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

#include "audio/pcm_output.h"
#include "common/write_source.h"
#include "psg/synthesis_engine.h"

enum class PcmRenderEnd : uint8_t {
  Done,         // every write played and every frame written
  NoWrites,     // the source holds none
  ReadFailed,   // reading the source failed
  WriteFailed,  // the output refused a piece (its why() tells)
  Stopped,      // the stop flag was raised
};

struct PcmRenderHooks {
  // Changes `count` frames in place, the first being frame `first` of the
  // render (a fade).
  std::function<void(uint8_t* frames, uint32_t count, uint64_t first)> shape;
  // After every piece written, with the frames written so far.
  std::function<void(uint64_t frames)> progress;
  // Raised by another thread to stop the render between two runs.
  const std::atomic<bool>* stop = nullptr;
};

// Runs the engine over the whole source and writes every frame to output.
// Leaves the output to the caller to finish or abandon.
PcmRenderEnd render_pcm(WriteSource& source, SynthesisEngine& engine, PcmOutput& output,
                        const PcmRenderHooks& hooks = {});
