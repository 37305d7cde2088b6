// A synthesis engine: the chip's state and a way of turning its time into
// frames in a sample ring. A driver feeds it the writes of a song, each after
// its delay, and takes the frames out of the ring.
//
// An engine is called once per run of ticks, never per tick: the per-tick
// work is its own, where nothing virtual is called.
//
// The protocol:
//   1. reset() at chip time 0, then write_register() the first write at once;
//   2. for every further write: run() its delay, in as many calls as it takes
//      (a run stops early when the ring needs emptying), then write_register();
//   3. synchronize() at the end, when the chip state is looked at.
// advance() instead of run() moves the chip on without making frames: a seek
// replays the song up to a time that way.
#pragma once

#include <cstdint>

#include "psg/sample_ring.h"

class SynthesisEngine {
 public:
  virtual ~SynthesisEngine() = default;

  // Chip time 0: silences the chip as a reset does, clears the sampler and
  // empties the ring.
  virtual void reset() = 0;

  // Applies one register write at the current chip time. Registers 16 and up
  // address a second chip where the engine has one; the others ignore them.
  virtual void write_register(uint8_t reg, uint8_t value) = 0;

  // Runs at most `ticks` ticks (at least 1) of the chip's clock, appending the
  // frames that fall due to the ring. Stops early right after the tick whose
  // frame takes the ring above its high-water mark: the ring then wants
  // emptying before the next run. Returns the ticks run, at least 1.
  virtual uint32_t run(uint32_t ticks) = 0;

  // Moves the chip on by `ticks` ticks without making frames; the frames of
  // a later run fall due where they would have.
  virtual void advance(uint64_t ticks) = 0;

  // Brings whatever the engine left behind up to the current chip time, so
  // that the chip state is the one a tick-by-tick run would have.
  virtual void synchronize() = 0;

  // The ring the frames go to, and how many it makes per second of chip time.
  virtual SampleRing& ring() = 0;
  virtual uint32_t frame_rate() const = 0;
  // Ticks of the chip's clock per second.
  virtual uint32_t clock_hz() const = 0;
};

// Whether the ring holds more than its high-water mark: the test a run makes
// after each frame.
inline bool ring_wants_emptying(const SampleRing& ring) {
  return ring.fill_level() > SampleRing::kHighWater;
}
