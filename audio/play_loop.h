// Live play: runs the chip over the log and holds it in step with the sound
// card, which takes its frames through the ring and the audio engine.
//
// Nothing ties chip time to real time but pacing: while the ring's drift
// correction lies outside -50..50 (the ring kept overflowing, or kept running
// dry), every tick is due once real time has caught up with the chip time run
// since the previous tick's due time, shifted by the drift correction in
// microseconds. Inside that band the chip runs as fast as it can.
//
// Due times are kept as a chain of counter values, so the clock is read
// only now and then: the chip may run up to the margin (2 ms) ahead of real
// time before it waits, and then it sleeps on the clock until shortly before
// the due time and checks the counter for the rest. So it sleeps at most
// about once per margin of real time, never runs more than the margin ahead,
// and a chip that has fallen behind starts again from the present.
#pragma once

#include <cstdint>

#include "audio/audio_engine.h"
#include "audio/clock.h"
#include "audio/drive_loop.h"
#include "common/write_source.h"
#include "psg/exact_engine.h"

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
  int64_t frequency = 0;  // counter counts per second, read once per play
  // When the ticks up to ticks_at_reference were due: the counter value the
  // last pacing call ended at, or a later one the chip is running ahead to.
  int64_t reference = 0;
  int64_t reading = 0;      // the last counter value read
  uint32_t tick_count = 0;  // chip ticks since play start, modulo 2^32
  uint32_t ticks_at_reference = 0;
  uint32_t ticks_at_reading = 0;
  bool counter_ok = false;  // the last counter query of any kind succeeded
};

class PlayLoop {
 public:
  // Drift corrections from -50 to 50 leave the chip unpaced.
  static constexpr int16_t kPacingBand = 50;
  // How far the chip may run ahead of real time before it waits.
  static constexpr uint32_t kMarginUs = 2000;
  // A sleep ends this long before the due time; the system wakes sleepers
  // late, and the counter checks cover the rest.
  static constexpr uint32_t kSleepEarlyUs = 50;
  // While no wait comes due, the counter is still read once per this many
  // ticks, so that a chip that fell behind starts again from the present.
  static constexpr uint32_t kTicksPerReading = 1000;

  // While unpaced, the drift correction is read again after at most this
  // many ticks.
  static constexpr uint32_t kUnpacedRunTicks = 32;

  PlayLoop(ExactEngine& engine, AudioEngine& audio, Clock& clock)
      : engine_(engine), ring_(engine.ring()), audio_(audio), clock_(clock) {}

  // Plays the open source (at its first write) and returns the exit code,
  // after logging why for 3 to 5. Stops the audio engine on every path after
  // it started. Leaves the source open.
  int play(WriteSource& source, const char* input_path);

  // Called before a paced tick: the ticks run since the last call are due
  // when the real time since the reference reaches their chip time plus the
  // drift correction (microseconds); no wait at all when the correction is
  // negative and covers them. Waits only when that moment lies more than the
  // margin ahead of the last reading; the new reference is the due time, or
  // the present when the chip is late.
  void pace();

  PacingState pacing;

 private:
  // Reads the counter into pacing.reading; false when the query failed.
  bool read_counter();
  // Counts that hold at least `us` microseconds at the counter's frequency.
  int64_t counts_for(uint32_t us) const;
  // Sleeps until shortly before `due`, then checks the counter until it
  // reaches `due` or a query fails.
  void wait_until(int64_t due);

  class Policy;

  ExactEngine& engine_;
  SampleRing& ring_;
  AudioEngine& audio_;
  Clock& clock_;
};
