// The exact model's way from chip time to frames: a point sample of the
// chip's mix every time 44100 ticks' worth of a 1 MHz second have passed,
// into the sample ring.
//
// The ring holds what the sampler made until an output takes it. A frame that
// falls due while the ring is full is lost, not postponed, and tells the
// ring's fill feedback so.
#pragma once

#include <cstdint>

#include "psg/chip.h"
#include "psg/sample_ring.h"

class PointSampler {
 public:
  explicit PointSampler(SampleRing& ring) : ring_(ring) {}

  // Clears the accumulator and empties the ring.
  void reset() {
    accumulator = 0;
    ring_.reset();
  }

  // One tick's share: adds 44100 to the accumulator; every time it reaches
  // 1000000 a frame falls due, exactly 44100 frames per second of chip time,
  // 22 or 23 ticks apart, and is mixed from the chip as it stands. Returns
  // whether a frame fell due (pushed, or lost to a full ring).
  bool step(const Chip& chip) {
    // The consumer's offset is read once per tick, before the frame is known
    // to fall due, and the full decision is made on that one value.
    const uint32_t read_offset = ring_.observe_read_offset();
    accumulator += Chip::kFrameRate;
    if (accumulator < Chip::kChipClock) return false;
    accumulator -= Chip::kChipClock;
    if (ring_.is_full(read_offset)) {
      ring_.report_full();
      return true;
    }
    int16_t left = 0;
    int16_t right = 0;
    chip.mix(&left, &right);
    ring_.push(left, right);
    return true;
  }

  // Moves the accumulator on by `ticks` ticks, making no frames, so that the
  // frames after a skip fall due where they would have.
  void skip(uint64_t ticks) {
    accumulator = static_cast<uint32_t>(
        (accumulator + ticks % Chip::kChipClock * Chip::kFrameRate) % Chip::kChipClock);
  }

  SampleRing& ring() { return ring_; }

  uint32_t accumulator = 0;  // 0..999999 between ticks

 private:
  SampleRing& ring_;
};
