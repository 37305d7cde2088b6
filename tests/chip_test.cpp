// The chip's arithmetic: register decoding, the three generators and the mix.
#include "psg/chip.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "psg/point_sampler.h"

namespace {

// The chip with the exact model's sampler after it, tick by tick.
struct SampledChip {
  SampleRing ring;
  Chip chip;
  PointSampler sampler{ring};
  void reset() {
    chip.reset();
    sampler.reset();
  }
  void tick() {
    chip.tick();
    sampler.step(chip);
  }
};

class ChipTest : public testing::Test {
 protected:
  ChipTest() {
    chip.install_volume_table(kFullLevels);
    chip.reset();
  }
  // The ticks (1-based) at which pred changes value over n ticks.
  template <typename Probe>
  std::vector<int> change_ticks(int n, Probe probe) {
    std::vector<int> ticks;
    auto last = probe();
    for (int t = 1; t <= n; ++t) {
      chip.tick();
      const auto now = probe();
      if (now != last) ticks.push_back(t);
      last = now;
    }
    return ticks;
  }
  Chip chip;
};

TEST_F(ChipTest, TonePeriodsCombineBothRegistersOfAPair) {
  chip.write_register(0, 0x34);
  chip.write_register(1, 0xFF);
  EXPECT_EQ(chip.channels[0].period, (15 * 256 + 0x34) * 8);
  EXPECT_EQ(chip.registers[1], 0xFF);
  chip.write_register(3, 0x10);  // coarse only: fine still 0, coarse masked
  EXPECT_EQ(chip.channels[1].period, 0);
  chip.write_register(5, 0x0F);
  chip.write_register(4, 0xFF);
  EXPECT_EQ(chip.channels[2].period, 32760);
}

TEST_F(ChipTest, MixerAndNoiseRegisters) {
  chip.write_register(6, 0xFF);
  EXPECT_EQ(chip.noise.period, 496);
  chip.write_register(7, 0x38);
  for (const ToneChannel& c : chip.channels) {
    EXPECT_EQ(c.tone_enable, 1);
    EXPECT_EQ(c.noise_enable, 0);
  }
  chip.write_register(7, 0x07);
  for (const ToneChannel& c : chip.channels) {
    EXPECT_EQ(c.tone_enable, 0);
    EXPECT_EQ(c.noise_enable, 1);
  }
  chip.write_register(7, 0xC0);
  for (const ToneChannel& c : chip.channels) {
    EXPECT_EQ(c.tone_enable + c.noise_enable, 2);
  }
}

TEST_F(ChipTest, AmplitudesComeFromTheActiveVolumeTable) {
  chip.write_register(8, 0x0F);
  EXPECT_EQ(chip.channels[0].amplitude, 10920);
  chip.install_volume_table(quartered_levels());
  EXPECT_EQ(chip.channels[0].amplitude, 10920) << "installing changes no amplitude";
  chip.write_register(8, 0xEF);  // bits 5..7 ignored
  EXPECT_EQ(chip.channels[0].amplitude, 2730);
  chip.write_register(8, 0x01);
  EXPECT_EQ(chip.channels[0].amplitude, 30);
  EXPECT_EQ(quartered_levels(), (VolumeLevels{0, 30, 41, 57, 78, 108, 150, 207, 286, 395,
                                              545, 752, 1038, 1433, 1978, 2730}));
}

TEST_F(ChipTest, EnvelopeRegistersRestartTheEnvelope) {
  chip.write_register(11, 0x00);
  chip.write_register(12, 0x01);
  EXPECT_EQ(chip.envelope.period, 4096u);
  chip.write_register(11, 0xFF);
  chip.write_register(12, 0xFF);
  EXPECT_EQ(chip.envelope.period, 1048560u);

  chip.write_register(8, 0x1F);  // envelope mode; the low bits play no part
  chip.write_register(13, 0x09);
  EXPECT_EQ(chip.envelope.shape, 9);
  EXPECT_EQ(chip.envelope.position, 15);
  EXPECT_EQ(chip.envelope.direction, -1);
  EXPECT_EQ(chip.channels[0].amplitude, 10920);
  chip.write_register(13, 0x1D);
  EXPECT_EQ(chip.envelope.shape, 13);
  EXPECT_EQ(chip.envelope.position, 0);
  EXPECT_EQ(chip.envelope.direction, 1);
  EXPECT_EQ(chip.channels[0].amplitude, 0);

  // A write of the value already held restarts all the same.
  for (int i = 0; i < 100; ++i) chip.step_envelope();
  EXPECT_NE(chip.envelope.counter, 0u);
  chip.write_register(11, chip.registers[11]);
  EXPECT_EQ(chip.envelope.counter, 0u);
  EXPECT_EQ(chip.envelope.position, 0);
}

TEST_F(ChipTest, RegistersAboveThirteenDoNothingAndAboveFourteenAreNotStored) {
  const Chip before = chip;
  chip.write_register(14, 0xAB);
  EXPECT_EQ(chip.registers[14], 0xAB);
  for (int reg : {15, 16, 255}) chip.write_register(static_cast<uint8_t>(reg), 0xCD);
  EXPECT_EQ(chip.registers[15], 0);
  chip.registers[14] = 0;
  EXPECT_EQ(std::memcmp(&before.channels, &chip.channels, sizeof chip.channels), 0);
}

TEST_F(ChipTest, ResetSilencesEverythingButKeepsTheRegisterFile) {
  chip.write_register(0, 0x10);
  chip.write_register(8, 0x0F);
  chip.write_register(7, 0x00);
  chip.write_register(13, 0x04);
  chip.tick();
  chip.reset();
  for (const ToneChannel& c : chip.channels) {
    EXPECT_EQ(c.period, 0);
    EXPECT_EQ(c.amplitude, 0);
    EXPECT_EQ(c.tone_enable, 0);
  }
  EXPECT_EQ(chip.registers[0], 0x10);
  EXPECT_EQ(chip.envelope.shape, 0);
  EXPECT_EQ(chip.envelope.direction, 1) << "direction survives the reset";
}

TEST_F(ChipTest, ToneFlipFlopChangesOnTheFirstTickThenEveryPeriod) {
  chip.write_register(0, 1);
  chip.write_register(1, 0);
  EXPECT_EQ(change_ticks(40, [&] { return chip.channels[0].flip_flop; }),
            (std::vector<int>{1, 8, 16, 24, 32, 40}));
}

TEST_F(ChipTest, ANewTonePeriodWaitsForTheNextReload) {
  chip.write_register(0, 2);  // period 16
  chip.tick();                // flips, counter reloads to 15
  chip.write_register(0, 1);  // period 8: the running count is not cut short
  EXPECT_EQ(change_ticks(30, [&] { return chip.channels[0].flip_flop; }),
            (std::vector<int>{15, 23}));
}

TEST_F(ChipTest, ANewNoisePeriodWaitsForTheNextReload) {
  chip.write_register(6, 2);  // 32 ticks: shifts at once, then 32 ticks later
  chip.tick();
  chip.write_register(6, 1);  // 16 ticks, but only from the next reload on
  EXPECT_EQ(change_ticks(80, [&] { return chip.noise.shift_register; }),
            (std::vector<int>{31, 47, 63, 79}));
}

TEST_F(ChipTest, PeriodZeroFreezesEveryGenerator) {
  chip.write_register(8, 0x10);
  chip.write_register(13, 0x0E);
  const Chip before = chip;
  for (int i = 0; i < 1000; ++i) chip.tick();
  EXPECT_EQ(chip.channels[0].flip_flop, before.channels[0].flip_flop);
  EXPECT_EQ(chip.channels[0].counter, before.channels[0].counter);
  EXPECT_EQ(chip.noise.shift_register, before.noise.shift_register);
  EXPECT_EQ(chip.noise.output, before.noise.output);
  EXPECT_EQ(chip.envelope.position, 0);
  EXPECT_EQ(chip.channels[0].amplitude, 0);
  chip.write_register(13, 0x08);
  for (int i = 0; i < 1000; ++i) chip.tick();
  EXPECT_EQ(chip.channels[0].amplitude, 10920);
}

TEST_F(ChipTest, NoiseShiftsOnTheFirstTickThenEverySixteenTimesItsPeriod) {
  chip.write_register(6, 1);
  EXPECT_EQ(change_ticks(64, [&] { return chip.noise.shift_register; }),
            (std::vector<int>{1, 16, 32, 48, 64}));
}

TEST_F(ChipTest, NoiseRegisterSequenceAndOutputToggles) {
  NoiseGenerator noise;
  noise.shift();
  EXPECT_EQ(noise.output, 1);
  EXPECT_EQ(noise.shift_register, 2u);
  for (int i = 0; i < 29; ++i) noise.shift();
  EXPECT_EQ(noise.shift_register, 0x40000000u);
  EXPECT_EQ(noise.output, 1);
  noise.shift();
  EXPECT_EQ(noise.shift_register, 0x88000001u);
  EXPECT_EQ(noise.output, 1);
  noise.shift();
  EXPECT_EQ(noise.shift_register, 0x10000002u);
  EXPECT_EQ(noise.output, 0);
}

// The envelope levels of one shape: at the restart, then after each step.
std::vector<int> envelope_levels(int shape, int steps) {
  Chip chip;
  chip.write_register(11, 1);  // 16 ticks per step
  chip.write_register(13, static_cast<uint8_t>(shape));
  std::vector<int> levels{chip.envelope.position};
  for (int s = 0; s < steps; ++s) {
    for (int t = 0; t < 16; ++t) chip.step_envelope();
    levels.push_back(chip.envelope.position);
  }
  return levels;
}

std::vector<int> ramp(int from, int to) {
  std::vector<int> r;
  for (int v = from; from <= to ? v <= to : v >= to; v += from <= to ? 1 : -1)
    r.push_back(v);
  return r;
}

std::vector<int> join(std::initializer_list<std::vector<int>> parts) {
  std::vector<int> all;
  for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

TEST(Envelope, EveryShapeFollowsItsLevelSequence) {
  const std::vector<int> decay_then_silence = join({ramp(15, 0), {0, 0, 0}});
  const std::vector<int> attack_then_silence = join({ramp(0, 15), {0, 0, 0}});
  for (int shape : {0, 1, 2, 3, 9}) {
    EXPECT_EQ(envelope_levels(shape, 18), decay_then_silence) << shape;
  }
  for (int shape : {4, 5, 6, 7, 15}) {
    EXPECT_EQ(envelope_levels(shape, 18), attack_then_silence) << shape;
  }
  EXPECT_EQ(envelope_levels(8, 34), join({ramp(15, 0), ramp(15, 0), {15, 14, 13}}));
  EXPECT_EQ(envelope_levels(10, 66),
            join({ramp(15, 0), ramp(0, 15), ramp(15, 0), ramp(0, 15), {15, 14, 13}}));
  EXPECT_EQ(envelope_levels(11, 18), join({ramp(15, 0), {15, 15, 15}}));
  EXPECT_EQ(envelope_levels(12, 34), join({ramp(0, 15), ramp(0, 15), {0, 1, 2}}));
  EXPECT_EQ(envelope_levels(13, 18), join({ramp(0, 15), {15, 15, 15}}));
  EXPECT_EQ(envelope_levels(14, 66),
            join({ramp(0, 15), ramp(15, 0), ramp(0, 15), ramp(15, 0), {0, 1, 2}}));
}

TEST(Envelope, StepsLandOnMultiplesOfThePeriod) {
  Chip chip;
  chip.write_register(11, 1);
  chip.write_register(13, 12);
  std::vector<int> step_ticks;
  int8_t last = chip.envelope.position;
  for (int t = 1; t <= 256; ++t) {
    chip.step_envelope();
    if (chip.envelope.position != last) step_ticks.push_back(t);
    last = chip.envelope.position;
  }
  EXPECT_EQ(step_ticks.size(), 16u);
  EXPECT_EQ(step_ticks.front(), 16);
  EXPECT_EQ(step_ticks.back(), 256);
  EXPECT_EQ(chip.envelope.position, 0);
}

TEST(Envelope, HeldShapeThirteenRefreshesAmplitudesOnceThenNeverAgain) {
  Chip chip;
  chip.install_volume_table(kFullLevels);
  chip.write_register(8, 0x10);
  chip.write_register(11, 1);
  chip.write_register(13, 13);
  for (int t = 0; t < 15 * 16; ++t) chip.step_envelope();
  EXPECT_EQ(chip.channels[0].amplitude, 10920);
  chip.channels[0].amplitude = 1;  // a marker: who writes it next?
  for (int t = 0; t < 16; ++t) chip.step_envelope();
  EXPECT_EQ(chip.channels[0].amplitude, 10920) << "the step to 15 again refreshes";
  chip.channels[0].amplitude = 1;
  for (int t = 0; t < 160; ++t) chip.step_envelope();
  EXPECT_EQ(chip.channels[0].amplitude, 1) << "holding writes nothing";
}

TEST(Envelope, LeavingEnvelopeModeKeepsTheWrittenLevel) {
  Chip chip;
  chip.install_volume_table(kFullLevels);
  chip.write_register(8, 0x10);
  chip.write_register(11, 1);
  chip.write_register(13, 12);
  chip.write_register(8, 0x05);
  for (int t = 0; t < 1000; ++t) chip.step_envelope();
  EXPECT_EQ(chip.channels[0].amplitude, 435);
}

// The mixer, one frame at a time.
struct MixCase {
  int16_t amplitude[3];
  uint8_t tone_enable[3];
  uint8_t noise_enable[3];
  uint8_t flip_flop[3];
  uint16_t tone_period;
  uint16_t noise_period;
  uint16_t noise_output;
  int16_t left;
  int16_t right;
};

TEST(Mixer, GatesAndStereoPlacement) {
  const MixCase cases[] = {
      // A alone, tone on, flip-flop up then down.
      {{10920, 0, 0}, {1, 0, 0}, {0, 0, 0}, {1, 0, 0}, 8, 0, 0, 10920, 0},
      {{10920, 0, 0}, {1, 0, 0}, {0, 0, 0}, {0, 0, 0}, 8, 0, 0, -10920, 0},
      // B alone, tone period 0: constant +amplitude on both sides.
      {{0, 10920, 0}, {0, 1, 0}, {0, 0, 0}, {0, 0, 0}, 0, 0, 0, 10920, 10920},
      // C alone, tone and noise off: constant -amplitude on the right.
      {{0, 0, 2730}, {0, 0, 0}, {0, 0, 0}, {0, 0, 1}, 8, 0, 0, 0, -2730},
      // Noise only with noise period 0: -amplitude.
      {{5733, 0, 0}, {0, 0, 0}, {1, 0, 0}, {0, 0, 0}, 8, 0, 1, -5733, 0},
      // Noise only, period set: follows the noise output.
      {{5733, 0, 0}, {0, 0, 0}, {1, 0, 0}, {0, 0, 0}, 8, 16, 1, 5733, 0},
      // Tone OR noise.
      {{5733, 0, 0}, {1, 0, 0}, {1, 0, 0}, {0, 0, 0}, 8, 16, 1, 5733, 0},
      {{5733, 0, 0}, {1, 0, 0}, {1, 0, 0}, {0, 0, 0}, 8, 16, 0, -5733, 0},
      // Everything up, everything down.
      {{10920, 10920, 10920}, {1, 1, 1}, {0, 0, 0}, {1, 1, 1}, 8, 0, 0, 21840, 21840},
      {{10920, 10920, 10920}, {1, 1, 1}, {0, 0, 0}, {0, 0, 0}, 8, 0, 0, -21840, -21840},
  };
  for (const MixCase& c : cases) {
    Chip chip;
    for (int i = 0; i < 3; ++i) {
      ToneChannel& ch = chip.channels[static_cast<size_t>(i)];
      ch.amplitude = c.amplitude[i];
      ch.tone_enable = c.tone_enable[i];
      ch.noise_enable = c.noise_enable[i];
      ch.flip_flop = c.flip_flop[i];
      ch.period = c.tone_period;
    }
    chip.noise.period = c.noise_period;
    chip.noise.output = c.noise_output;
    int16_t left = 0;
    int16_t right = 0;
    chip.mix(&left, &right);
    EXPECT_EQ(left, c.left);
    EXPECT_EQ(right, c.right);
  }
}

TEST(Resampler, FramesFallDueAtTicks23_46_69_91_114) {
  SampledChip sampled;
  SampleRing& ring = sampled.ring;
  sampled.reset();
  std::vector<int> frame_ticks;
  uint32_t last = 0;
  for (int t = 1; t <= 114; ++t) {
    sampled.tick();
    if (ring.fill_level() != last) frame_ticks.push_back(t);
    last = ring.fill_level();
  }
  EXPECT_EQ(frame_ticks, (std::vector<int>{23, 46, 69, 91, 114}));
}

TEST(Resampler, FramesArePointSamplesOfTheTickTheyFallOn) {
  SampledChip sampled;
  SampleRing& ring = sampled.ring;
  Chip& chip = sampled.chip;
  chip.install_volume_table(kFullLevels);
  sampled.reset();
  chip.write_register(7, 0x3E);  // tone on A only
  chip.write_register(8, 0x0F);
  chip.write_register(0, 2);  // flips at ticks 1, 16, 32, 48, ...
  for (int t = 0; t < 114; ++t) sampled.tick();
  // No averaging: each frame is the square wave's level at ticks 23, 46, 69,
  // 91 and 114, all at full amplitude.
  const int expected[] = {-10920, 10920, 10920, -10920, -10920};
  for (int f = 0; f < 5; ++f) {
    int16_t left = 0;
    std::memcpy(&left, ring.storage() + 4 * f, 2);
    EXPECT_EQ(left, expected[f]) << "frame " << f;
  }
}

TEST(Resampler, OneSecondOfChipTimeMakesExactly44100Frames) {
  SampledChip sampled;
  SampleRing& ring = sampled.ring;
  sampled.reset();
  uint32_t frames = 0;
  uint8_t scratch[SampleRing::kDrainBytes];
  for (int t = 0; t < 1000000; ++t) {
    sampled.tick();
    if (ring.fill_level() >= SampleRing::kDrainBytes) frames += ring.drain(scratch) / 4;
  }
  frames += ring.fill_level() / 4;
  EXPECT_EQ(frames, 44100u);
  EXPECT_EQ(sampled.sampler.accumulator, 0u);
}

TEST(Resampler, AFullRingDropsTheFrameAndRaisesTheDrift) {
  SampledChip sampled;
  SampleRing& ring = sampled.ring;
  sampled.reset();
  ring.set_offsets_for_test(4, 0);  // 12287 frames held: full
  for (int16_t drift : {0, 95, 100}) {
    ring.set_drift_correction(drift);
    for (int t = 0; t < 23; ++t) sampled.tick();
    EXPECT_EQ(ring.write_offset(), 0u);
    EXPECT_EQ(ring.ring_state(), SampleRing::kStateDropped);
    EXPECT_EQ(ring.drift_correction(), std::min(drift + 10, 100));
    sampled.sampler.accumulator = 0;
  }
}

TEST(Resampler, StoresSamplesLittleEndian) {
  SampledChip sampled;
  SampleRing& ring = sampled.ring;
  Chip& chip = sampled.chip;
  sampled.reset();
  chip.channels[0].amplitude = 120;  // tone and noise off: -120 on the left
  for (int t = 0; t < 23; ++t) sampled.tick();
  const uint8_t* frame = ring.storage();
  EXPECT_EQ(frame[0], 0x88);
  EXPECT_EQ(frame[1], 0xFF);
  EXPECT_EQ(frame[2], 0x00);
  EXPECT_EQ(frame[3], 0x00);
}

}  // namespace
