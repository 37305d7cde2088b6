// The two engines of the exact model: the chip of psg/chip.h, point-sampled
// at 44100 Hz by psg/point_sampler.h. Both make the very same frames and
// leave the very same chip state; the tick engine runs the chip one tick at
// a time and is the reference, the stretch engine (psg/stretch_engine.h)
// works out whole stretches at once.
#pragma once

#include <cstdint>

#include "psg/chip.h"
#include "psg/point_sampler.h"
#include "psg/sample_ring.h"
#include "psg/synthesis_engine.h"

class ExactEngine : public SynthesisEngine {
 public:
  explicit ExactEngine(SampleRing& ring) : sampler_(ring) {}

  // Copies levels into the chip's volume table (rendering uses the full
  // levels, live play the quartered ones); before reset() to take effect
  // from the first frame.
  void install_volume_table(const VolumeLevels& levels) {
    chip_.install_volume_table(levels);
  }

  SampleRing& ring() override { return sampler_.ring(); }
  uint32_t frame_rate() const override { return Chip::kFrameRate; }
  uint32_t clock_hz() const override { return Chip::kChipClock; }

  // The chip and the sampler, to look at (after synchronize()).
  Chip& chip() { return chip_; }
  const PointSampler& sampler() const { return sampler_; }

 protected:
  Chip chip_;
  PointSampler sampler_;
};

// The reference: every tick runs the chip's generators and then the sampler.
class TickEngine final : public ExactEngine {
 public:
  using ExactEngine::ExactEngine;

  void reset() override {
    chip_.reset();
    sampler_.reset();
  }
  void write_register(uint8_t reg, uint8_t value) override {
    chip_.write_register(reg, value);
  }
  uint32_t run(uint32_t ticks) override {
    for (uint32_t ran = 1; ran <= ticks; ++ran) {
      chip_.tick();
      if (sampler_.step(chip_) && ring_wants_emptying(ring())) return ran;
    }
    return ticks;
  }
  void advance(uint64_t ticks) override {
    for (uint64_t left = ticks; left != 0; --left) chip_.tick();
    sampler_.skip(ticks);
  }
  void synchronize() override {}
};
