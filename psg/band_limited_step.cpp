#include "psg/band_limited_step.h"

#include <cmath>
#include <vector>

namespace {

constexpr double kPi = 3.14159265358979323846;

// 1 / k^2 and 1 / (2k (2k + 1)): the ratios of successive terms of the
// series below, so that the series multiply rather than divide.
struct SeriesRatios {
  static constexpr int kBesselTerms = 200;
  static constexpr int kSineTerms = 18;  // past pi^37 / 37! nothing is left
  double bessel[kBesselTerms];
  double sine[kSineTerms];
  constexpr SeriesRatios() : bessel(), sine() {
    for (int k = 1; k < kBesselTerms; ++k) bessel[k] = 1 / (double(k) * k);
    for (int k = 1; k < kSineTerms; ++k) sine[k] = 1 / ((2.0 * k) * (2.0 * k + 1));
  }
};
constexpr SeriesRatios kRatios;

// The modified Bessel function of the first kind, order 0, by its series.
double bessel_i0(double x) {
  double sum = 1;
  double term = 1;
  const double quarter = x * x / 4;
  for (int k = 1; k < SeriesRatios::kBesselTerms && term > 1e-21 * sum; ++k) {
    term *= quarter * kRatios.bessel[k];
    sum += term;
  }
  return sum;
}

struct Impulse {
  double cutoff;
  double beta;
  double half_width;
  double window_scale;
  double operator()(double t) const {
    if (t <= -half_width || t >= half_width) return 0;
    const double r = t / half_width;
    const double window = bessel_i0(beta * std::sqrt(1 - r * r)) * window_scale;
    const double x = 2 * kPi * cutoff * t;
    const double sinc = x == 0 ? 1 : portable_sin(x) / x;
    return 2 * cutoff * sinc * window;
  }
};

// The vector width is chosen when the program starts: AVX2 where the
// processor has it, the baseline's SSE2 otherwise. Contraction into fused
// multiply-adds is off for these files (see CMakeLists.txt), so both give
// the same bits.
// Not under ThreadSanitizer: the clones' resolver runs while the program is
// being loaded, before the sanitizer's run time is there to take its calls.
#if defined(__x86_64__) && defined(__ELF__) && \
    (defined(__GNUC__) || defined(__clang__)) && !defined(__SANITIZE_THREAD__)
#define STUDIO_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define STUDIO_VECTOR_CLONES
#endif

}  // namespace

STUDIO_VECTOR_CLONES
void accumulate_step(float* __restrict out, const float* __restrict row,
                     const float* __restrict slope, float fraction, float gain) {
  for (int j = 0; j < BandLimitedStep::kTaps; ++j) {
    out[j] += gain * (row[j] + fraction * slope[j]);
  }
}

// Out of line: the call must come after the clones' definition.
void BandLimitedStep::add(float* out, int phase, float fraction, float gain) const {
  accumulate_step(out, rows_[phase], slopes_[phase], fraction, gain);
}

double portable_sin(double x) {
  const double turns = x / (2 * kPi);
  const double whole =
      static_cast<double>(static_cast<int64_t>(turns < 0 ? turns - 0.5 : turns + 0.5));
  const double y = x - whole * 2 * kPi;  // -pi..pi
  const double minus_square = -y * y;
  double term = y;
  double sum = y;
  for (int k = 1; k < SeriesRatios::kSineTerms; ++k) {
    term *= minus_square * kRatios.sine[k];
    sum += term;
  }
  return sum;
}

double portable_exp(double x) {
  // e^x = (e^(x / 2^k))^(2^k), the small power by its series.
  int halvings = 0;
  while (x > 0.5 || x < -0.5) {
    x /= 2;
    ++halvings;
  }
  double term = 1;
  double sum = 1;
  for (int k = 1; k < 30; ++k) {
    term *= x / k;
    sum += term;
  }
  for (; halvings != 0; --halvings) sum *= sum;
  return sum;
}

BandLimitedStep::BandLimitedStep(double cutoff, double beta) {
  const double half_width = (kTaps - 1) / 2.0;
  const Impulse impulse{cutoff, beta, half_width, 1 / bessel_i0(beta)};
  // The step (the impulse's running integral) on a grid of one point per
  // phase, by Simpson's rule on each interval, from -kTaps/2 - 1 onward. The
  // impulse is smooth at that scale (its error is far below a float's). The
  // table is made at every engine's start, so it is made cheaply.
  constexpr int kGridPerPhase = 1;
  constexpr int kPerSample = kGridPerPhase * kPhases;
  const double grid = 1.0 / kPerSample;
  const double start = -kTaps / 2.0 - 1;
  const int points = (kTaps + 2) * kPerSample + 1;
  // The impulse at every half grid point; it is even and the grid is
  // symmetric about 0, so each value serves twice.
  const int halves = 2 * (points - 1);
  std::vector<double> values(halves + 1);
  for (int i = halves / 2; i <= halves; ++i) {
    values[i] = impulse(start + i * (grid / 2));
    values[halves - i] = values[i];
  }
  std::vector<double> step(points, 0.0);
  double magnitude = 0;
  for (int i = 1; i < points; ++i) {
    const double fa = values[2 * i - 2], fm = values[2 * i - 1], fb = values[2 * i];
    step[i] = step[i - 1] + grid / 6 * (fa + 4 * fm + fb);
    magnitude += grid / 6 * (std::abs(fa) + 4 * std::abs(fm) + std::abs(fb));
  }
  impulse_magnitude_ = magnitude;
  // Tap j of phase p spans [j - kTaps/2 - p, j - kTaps/2 + 1 - p]; the grid
  // index of t is (t - start) * kPerSample.
  double rows[kPhases + 1][kTaps];
  for (int k = 0; k <= kPhases; ++k) {
    double sum = 0;
    for (int j = 0; j < kTaps; ++j) {
      const int from = (j + 1) * kPerSample - kGridPerPhase * k;
      rows[k][j] = step[from + kPerSample] - step[from];
      sum += rows[k][j];
    }
    for (int j = 0; j < kTaps; ++j) rows[k][j] /= sum;
  }
  for (int k = 0; k < kPhases; ++k) {
    for (int j = 0; j < kTaps; ++j) {
      rows_[k][j] = static_cast<float>(rows[k][j]);
      slopes_[k][j] = static_cast<float>(rows[k + 1][j] - rows[k][j]);
    }
  }
}
