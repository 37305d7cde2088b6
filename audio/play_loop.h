// Live play: runs the chip over the log and holds it in step with the sound
// card, which takes its frames through the ring and the audio engine.
//
// Nothing ties chip time to real time but pacing: while the ring's drift
// correction lies outside -50..50 (the ring kept overflowing, or kept running
// dry), every tick first waits until real time has caught up with the chip
// time run since the previous wait, shifted by the drift correction in
// microseconds. Inside that band the chip runs as fast as it can.
#pragma once

#include <cstdint>

#include "audio/audio_engine.h"
#include "audio/clock.h"
#include "audio/sample_ring.h"
#include "common/register_log.h"
#include "psg/chip.h"

// Exit codes of live play (the player's codes 2 to 5).
enum PlayExit : int {
  kPlayOk = 0,
  kPlayCantRead = 2,
  kPlayNoEngine = 3,
  kPlayNoData = 4,
  kPlayNoClock = 5,
};

// Pacing's own state; the main thread alone touches it.
struct PacingState {
  int64_t frequency = 0;    // counter counts per second, read once per play
  int64_t reference = 0;    // the counter when the last pacing call ended
  uint32_t tick_count = 0;  // chip ticks since play start, modulo 2^32
  uint32_t ticks_at_reference = 0;
  bool counter_ok = false;  // the last counter query of any kind succeeded
};

class PlayLoop {
 public:
  // Drift corrections from -50 to 50 leave the chip unpaced.
  static constexpr int16_t kPacingBand = 50;

  PlayLoop(Chip& chip, SampleRing& ring, AudioEngine& engine, Clock& clock)
      : chip_(chip), ring_(ring), engine_(engine), clock_(clock) {}

  // Plays the open log (at its first event) and returns the exit code, after
  // logging why for 3 to 5. Stops the engine on every path after it started.
  // Leaves the log open.
  int play(RegisterLog& log, const char* input_path);

  // Waits until the real time since the reference reading reaches the chip
  // time since then plus the drift correction (microseconds), then takes a
  // new reference reading.
  void pace();

  PacingState pacing;

 private:
  Chip& chip_;
  SampleRing& ring_;
  AudioEngine& engine_;
  Clock& clock_;
};
