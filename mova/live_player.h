// mova's live playback: a song after another on the sound device, with keys
// between the runs (pause, seek, next, previous, quit) and a status shown a
// few times a second.
//
// Unlike zarnik's tick-by-tick pacing, the chip here runs in whole runs as
// fast as it can until the ring holds more than its high-water mark, then
// the player sleeps while the device takes frames: a few wake-ups a second,
// whatever the engine. The sound device stays open from song to song; a
// pause or a seek closes it, so that what it still holds stops at once
// instead of playing out, and opens it again.
#pragma once

#include <cstdint>
#include <functional>

#include "audio/audio_engine.h"
#include "audio/audio_sink.h"
#include "audio/clock.h"
#include "audio/engine_threads.h"
#include "common/write_source.h"
#include "mova/status_line.h"
#include "psg/sample_ring.h"
#include "psg/synthesis_engine.h"

enum class PlayerKey : uint8_t {
  None,
  Pause,  // space: pause and resume
  Forward5,
  Back5,
  Forward60,
  Back60,
  Next,
  Previous,
  Quit,
};

// How the player meets its user: both may be empty (no terminal).
struct LiveControls {
  // Waits up to timeout_ms for a key; None when none came.
  std::function<PlayerKey(int timeout_ms)> read_key;
  // Shows the status, in place of the last one.
  std::function<void(const SongStatus&)> show;
  // Takes the status away, before a line of its own is written.
  std::function<void()> clear;
};

enum class SongEnding : uint8_t { Ended, Next, Previous, Quit, NoDevice };

class LivePlayer {
 public:
  LivePlayer(AudioSink& sink, EngineThreads& threads, Clock& clock)
      : audio_(ring_, sink, threads), threads_(threads), clock_(clock) {}

  // The ring every song's engine must fill.
  SampleRing& ring() { return ring_; }

  // Plays the source (at its first write) on engine, which fills ring().
  // total_ticks is the song's length in the engine's ticks. Returns how the
  // song ended; the device stays open after Ended, Next and Previous.
  SongEnding play(WriteSource& source, SynthesisEngine& engine, SongStatus status,
                  const LiveControls& controls);

  // Lets what the ring and the device hold play out, then closes the device.
  void finish();

  // Frames the device holds queued at most, besides the ring: what is made
  // but not yet heard.
  static constexpr uint32_t kQueuedFrames =
      AudioEngine::kBufferCount * AudioEngine::kBufferBytes / 4;

 private:
  class Policy;
  bool open_device();
  void close_device();
  // Sleeps about ms milliseconds.
  void sleep_ms(uint32_t ms) { threads_.sleep_ms(ms); }

  SampleRing ring_;
  AudioEngine audio_;
  EngineThreads& threads_;
  Clock& clock_;
  bool open_ = false;
};
