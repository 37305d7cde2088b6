// One song's machinery for the exact model, built afresh for each song with
// no statics: the ring and the engine that fills it, and the output that
// empties it (a WAV file, or the sound device). A batch runs one rig per
// thread; a player builds one per song.
#pragma once

#include <cstdint>
#include <memory>

#include "audio/audio_engine.h"
#include "audio/audio_sink.h"
#include "audio/clock.h"
#include "audio/engine_threads.h"
#include "audio/play_loop.h"
#include "audio/wav_renderer.h"
#include "common/output_file.h"
#include "common/write_source.h"
#include "psg/exact_engine.h"
#include "psg/sample_ring.h"

// Which of the exact model's engines drives the chip. Both make the same
// bytes; stretches are much faster, ticks are the reference they are tested
// against and what live play paces tick by tick.
enum class EngineKind : uint8_t { Stretches, Ticks };

class ExactRig {
 public:
  explicit ExactRig(EngineKind kind);
  ExactRig(const ExactRig&) = delete;
  ExactRig& operator=(const ExactRig&) = delete;

  // Renders the source (at its first write) into a WAV file at the full
  // levels. Returns the renderer's exit code.
  int render(WriteSource& source, const char* input_path, const char* output_path,
             OutputFiles& files = wav_output_files());

  ExactEngine& engine() { return *engine_; }
  SampleRing& ring() { return ring_; }

 private:
  SampleRing ring_;
  std::unique_ptr<ExactEngine> engine_;
};

// Live play's machinery: a rig on the tick engine, the live audio engine on
// the system's device and the play loop. Its refill thread may still be
// taking the device's last message when play() has returned, so whoever
// builds one keeps it until the process ends.
class LiveRig {
 public:
  LiveRig(AudioSink& sink = system_audio_sink(),
          EngineThreads& threads = system_threads(), Clock& clock = system_clock());

  // Plays the source (at its first write) live. Returns the play loop's exit
  // code.
  int play(WriteSource& source, const char* input_path);

  ExactRig& rig() { return rig_; }
  PlayLoop& loop() { return loop_; }

 private:
  ExactRig rig_;
  AudioEngine audio_;
  PlayLoop loop_;
};
