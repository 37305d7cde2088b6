// The studio engine: the real chip (psg/studio_chip.h) at the song's own
// clock, band-limited. Every change of a channel's output level becomes a
// band-limited step (psg/band_limited_step.h) at its exact sub-sample time,
// accumulated in floating point per place in the stereo image (left, centre,
// right; one place in mono) and mixed to the two sides; a DC-blocking high-pass
// (5 Hz), a scale that three channels at full volume can never take past
// full scale, a seeded TPDF dither and rounding make the 16-bit frames.
//
// The engine jumps from one level change to the next: a run costs one step
// per change plus a few operations per frame. The frames lag the chip by
// BandLimitedStep::kTaps / 2 + 1 frames (0.5 ms at 44100 Hz).
#pragma once

#include <cstdint>

#include "psg/band_limited_step.h"
#include "psg/sample_ring.h"
#include "psg/studio_chip.h"
#include "psg/synthesis_engine.h"

// The last stage of the frames: scale, dither, round and pack `frames`
// frames of interleaved samples (left, right) into slots; `first` numbers
// the first frame for the dither.
void dither_frames(uint8_t* slots, uint32_t frames, const double* samples, double scale,
                   uint32_t first);

// Mixes three places' steps[0..frames), each scaled by its gains (left,
// right), into interleaved frames (left, right); the steps are cleared.
void mix_places(float* frames_out, float* first, float* second, float* third,
                uint32_t frames, const float* gains);
// The same for one place.
void mix_place(float* frames_out, float* steps, uint32_t frames, const float* gains);

// Which channel sits left, centre and right; Mono gives L = R.
enum class StereoLayout : uint8_t { Abc, Acb, Bac, Bca, Cab, Cba, Mono };

struct StudioSettings {
  uint32_t clock_hz = 1773400;   // 1..4 MHz tested; raised to sample_rate at least
  uint32_t sample_rate = 44100;  // 8000..192000, clamped to that
  ChipModel model = ChipModel::Ay;
  StereoLayout stereo = StereoLayout::Abc;
  int chips = 1;  // 2: TurboSound, registers 16..29 address the second chip
  uint32_t dither_seed = 1;
};

class StudioEngine final : public SynthesisEngine {
 public:
  // The gains of a side channel to its own side and to the other, and of the
  // centre channel to both.
  static constexpr float kNearGain = 0.8f;
  static constexpr float kFarGain = 0.2f;
  static constexpr float kCentreGain = 0.5f;

  StudioEngine(const StudioSettings& settings, SampleRing& ring);

  void reset() override;
  void write_register(uint8_t reg, uint8_t value) override;
  uint32_t run(uint32_t ticks) override;
  void advance(uint64_t ticks) override;
  void synchronize() override;

  SampleRing& ring() override { return ring_; }
  uint32_t frame_rate() const override { return settings_.sample_rate; }
  uint32_t clock_hz() const override { return settings_.clock_hz; }

  const StudioChip& chip(int index) const { return chips_[index]; }
  // PCM units per unit of channel level on a side with gain 1: a full-volume
  // square on a channel of gain g swings +-g/2 of it around 0.
  double pcm_scale() const { return scale_; }
  // The high-pass's output after the last frame made, per side (0 left).
  double filtered_level(int side) const {
    return side == 0 ? filtered_left_ : filtered_right_;
  }

 private:
  // Frames made per batch at most; the step buffers hold that many plus a
  // kernel's tail.
  static constexpr int kBatch = 2048;
  static constexpr int kBuffer = kBatch + BandLimitedStep::kTaps + 8;
  static constexpr int kChannels = 6;

  static constexpr int kPlaces = 3;

  // The steps of a chip's `changed` channels (bit c: channel c) from the
  // levels they held to `levels`.
  void add_steps(uint64_t tick, int chip, unsigned changed, const float* levels);
  void run_chips_to(uint64_t tick);
  void make_frames(uint32_t frames);
  // Makes frames from buffer entries from..from+frames, which are cleared,
  // into slots (none: the frames are lost).
  void write_frames(uint8_t* slots, uint32_t frames, int from);
  // The high-pass over interleaved frames.
  void high_pass(double* out, const float* in, uint32_t frames);
  // Moves the buffer on past `frames` entries that are already cleared.
  void drop_front(uint32_t frames);

  StudioSettings settings_;
  SampleRing& ring_;
  BandLimitedStep step_;
  StudioChip chips_[2];
  int places_ = kPlaces;
  uint8_t place_of_[kChannels] = {};     // each channel's place
  float place_gains_[2 * kPlaces] = {};  // each place's gains, left and right
  double scale_ = 0;
  double pole_ = 0;             // the high-pass's feedback
  double phases_per_unit_ = 0;  // kPhases / clock_hz: step phases per unit of remainder_

  uint64_t now_ = 0;
  // now_ * sample_rate = frames_ * clock_hz + remainder_: frames_ frames are
  // due, the last at buffer index 0's sample.
  uint64_t frames_ = 0;
  uint64_t remainder_ = 0;
  float emitted_[kChannels] = {};  // each channel's level as the steps have it
  alignas(32) float steps_[kPlaces][kBuffer] = {};
  int used_ = 0;  // buffer entries that may be non-zero
  double filtered_left_ = 0;
  double filtered_right_ = 0;
  uint64_t dither_seed_ = 0;
  uint64_t frame_count_ = 0;  // frames made since reset, numbering the dither
};
