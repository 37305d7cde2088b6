// A band-limited step: a windowed-sinc low-pass (Kaiser window) integrated
// into a step and tabulated at sub-sample phases, so that a level change at
// any moment between two output samples becomes a short kernel of sample
// differences to accumulate. Between the tabulated phases the kernel is
// interpolated linearly.
//
// The kernel for a change at sample position m + p (0 <= p < 1) covers the
// differences of samples m .. m + kTaps - 1 (a fixed latency of kTaps / 2
// samples); its taps sum to 1, the height of the step.
#pragma once

#include <cstdint>

// The kernel's inner loop: out[j] += gain * (row[j] + fraction * slope[j])
// for j < kTaps.
void accumulate_step(float* out, const float* row, const float* slope, float fraction,
                     float gain);

class BandLimitedStep {
 public:
  static constexpr int kTaps = 48;
  static constexpr int kPhases = 256;

  // `cutoff` is the half-amplitude frequency as a fraction of the sample
  // rate, `beta` the Kaiser window's shape.
  BandLimitedStep(double cutoff, double beta);

  // Adds the step at sub-sample position (phase + fraction) / kPhases
  // (0 <= phase < kPhases, 0 <= fraction < 1), scaled by `gain`, into
  // out[0..kTaps).
  void add(float* out, int phase, float fraction, float gain) const;

  // The integral of the low-pass's impulse response's magnitude: how far
  // past the input's range the output can swing.
  double impulse_magnitude() const { return impulse_magnitude_; }

 private:
  alignas(32) float rows_[kPhases][kTaps];
  alignas(32) float slopes_[kPhases][kTaps];
  double impulse_magnitude_ = 0;
};

// sin and exp from IEEE arithmetic alone, so that tables made from them are
// the same bits on every platform and C library.
double portable_sin(double x);
double portable_exp(double x);
