// Runs the chip over whole stretches of ticks instead of one tick at a time,
// leaving exactly the frames and chip state that the tick engine
// (psg/exact_engine.h) leaves, tick after tick.
//
// Between two moments at which something a channel hears changes (its
// tone's flip-flop flips, the noise output toggles while it takes the noise,
// the envelope steps while it follows it) the channel's output is constant,
// so every frame that falls due in that stretch shows the same value of it.
// A run between two writes works each signal out on its own, from one change
// to the next, into a buffer of per-frame values; then each channel's output
// is combined from them and the three are mixed into the ring, both in loops
// the compiler vectorises.
//
// Generators nobody can hear (a tone that is disabled or silent, noise that no
// channel takes, an envelope no channel follows) are not run at all: they are
// brought up to date, in closed form, at the moment they start to matter or a
// write changes their period, and at the end of the render.
//
// A run stops at its end, or right after the tick whose frame takes the ring
// above its high-water mark, as the tick engine's does.
#pragma once

#include <cstddef>
#include <cstdint>

#include "psg/chip.h"
#include "psg/exact_engine.h"
#include "psg/sample_ring.h"

// Room for one run's frames, signal by signal: a run makes at most 9217
// frames (it stops when the ring holds more than its high-water mark), and a
// fill may write up to sixteen bytes past the frames it fills, a shift of
// the noise up to 48 bytes past the frame it starts at.
struct StretchBuffers {
  static constexpr size_t kFrames = SampleRing::kHighWater / 4 + 1;
  static constexpr size_t kRoom = kFrames + 32;
  int16_t out[3][kRoom];  // each channel's output
  // A channel's output that holds one value: its first held_frames are it.
  int16_t held_value[3] = {};
  size_t held_frames[3] = {};
  int16_t envelope[kRoom];  // the amplitude of the channels that follow the envelope
  // Each heard tone's flip-flop, as a mask: 0 or all ones. A channel whose
  // gate does not take its tone reads the mask off, so it starts as zeros.
  int16_t flips[3][kRoom] = {};
  // The noise output, as the same kind of mask. Only heard noise writes it;
  // a channel whose gate does not take the noise reads it and masks it off,
  // so it starts as zeros rather than indeterminate.
  int16_t noise[kRoom] = {};
  // The noise output after each shift of a run, as a mask: shifts come at
  // least 16 ticks apart, and a run lasts at most 23 ticks a frame; eight
  // more for the last group of eight.
  static constexpr size_t kShifts = (kFrames + 1) * 23 / 16 + 2 + 8;
  int16_t shift_levels[kShifts];
};

class StretchEngine final : public ExactEngine {
 public:
  using ExactEngine::ExactEngine;

  // Resets the chip and the sampler and starts at chip time 0.
  void reset() override;

  // Applies one register write at the current chip time, first bringing up to
  // date whatever the write reads or whose period it changes.
  void write_register(uint8_t reg, uint8_t value) override;

  // Runs at most `ticks` ticks (at least 1), stopping early as every engine
  // does. Returns the ticks run.
  uint32_t run(uint32_t ticks) override;

  // Leaves every generator behind for `ticks` ticks and brings them up to date
  // in closed form: the cost does not grow with the ticks.
  void advance(uint64_t ticks) override;

  // Brings every generator that was left behind up to the current chip time,
  // so that the chip state is the one the tick-by-tick chip would have.
  void synchronize() override;

 private:
  // Which generators someone hears now: all of them, or one tone's.
  void update_hearing();
  void update_tone_hearing(int channel);
  void catch_up_tone(int channel);
  void catch_up_noise();
  void catch_up_envelope();

  StretchBuffers buffers_;
  uint64_t now_ = 0;  // chip ticks since start()
  // Which generators run with the chip; the others stopped at *_synced_at_.
  bool tone_heard_[3] = {};
  bool noise_heard_ = false;
  bool envelope_heard_ = false;
  uint64_t tone_synced_at_[3] = {};
  uint64_t noise_synced_at_ = 0;
  uint64_t envelope_synced_at_ = 0;
};
