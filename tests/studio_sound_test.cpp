// The studio engine's sound, measured: the alias floor and the treble of
// constant tones in a spectrum (kissfft), and pitch, DC and envelope steps
// from the frames and the chip.
#include <gtest/gtest.h>
#include <kiss_fftr.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <set>
#include <vector>

#include "psg/studio_engine.h"

namespace {

struct Rendered {
  std::vector<double> left;
  std::vector<double> right;
  int16_t peak = 0;
};

// Runs the engine for `ticks`, draining the ring as it fills.
Rendered render(StudioEngine& engine, uint64_t ticks) {
  Rendered out;
  uint8_t piece[SampleRing::kDrainBytes];
  const auto drain = [&] {
    for (uint32_t n; (n = engine.ring().drain(piece)) != 0;) {
      for (uint32_t i = 0; i < n; i += 4) {
        const int16_t l = static_cast<int16_t>(piece[i] | piece[i + 1] << 8);
        const int16_t r = static_cast<int16_t>(piece[i + 2] | piece[i + 3] << 8);
        out.left.push_back(l);
        out.right.push_back(r);
        out.peak = std::max<int16_t>(
            out.peak, static_cast<int16_t>(std::max(std::abs(l), std::abs(r))));
      }
    }
  };
  while (ticks != 0) {
    ticks -= engine.run(static_cast<uint32_t>(std::min<uint64_t>(ticks, 1u << 20)));
    drain();
  }
  return out;
}

std::unique_ptr<StudioEngine> tone_engine(SampleRing& ring, StudioSettings settings,
                                          uint16_t period) {
  auto engine = std::make_unique<StudioEngine>(settings, ring);
  engine->reset();
  const uint8_t writes[][2] = {
      {7, 0x3E}, {8, 15}, {0, uint8_t(period)}, {1, uint8_t(period >> 8)}};
  for (const auto& w : writes) engine->write_register(w[0], w[1]);
  return engine;
}

double kaiser(double x, double beta) {  // x in -1..1
  return std::cyl_bessel_i(0.0, beta * std::sqrt(1 - x * x)) /
         std::cyl_bessel_i(0.0, beta);
}

struct Spectrum {
  double fundamental_db;
  double alias_db;  // strongest non-harmonic 20 Hz..20 kHz, relative
};

Spectrum measure(const std::vector<double>& samples, size_t from, double rate,
                 double f0) {
  constexpr int kSize = 65536;
  std::vector<float> in(kSize);
  for (int i = 0; i < kSize; ++i) {
    in[i] = static_cast<float>(samples[from + i] * kaiser(2.0 * i / (kSize - 1) - 1, 20));
  }
  std::vector<kiss_fft_cpx> out(kSize / 2 + 1);
  kiss_fftr_cfg cfg = kiss_fftr_alloc(kSize, 0, nullptr, nullptr);
  kiss_fftr(cfg, in.data(), out.data());
  kiss_fftr_free(cfg);
  const double bin_hz = rate / kSize;
  const auto power = [&](int k) {
    return double(out[k].r) * out[k].r + double(out[k].i) * out[k].i;
  };
  // The fundamental's whole main lobe, so that where it falls between bins
  // does not matter; the other components by their strongest bin.
  double fundamental = 0;
  for (int k = int(f0 / bin_hz) - 12; k <= int(f0 / bin_hz) + 12; ++k)
    fundamental += power(k);
  double alias = 0;
  for (int k = int(20 / bin_hz) + 1; k <= int(20000 / bin_hz); ++k) {
    const double harmonic = std::round(k * bin_hz / f0) * f0;
    if (harmonic > 0 && std::abs(k * bin_hz - harmonic) < 24 * bin_hz) continue;
    alias = std::max(alias, power(k));
  }
  return {10 * std::log10(fundamental / (32768.0 * 32768 * kSize * kSize / 16)),
          10 * std::log10(alias / fundamental)};
}

TEST(StudioSound, AliasFloorAndTrebleOfConstantTones) {
  for (uint32_t rate : {44100u, 48000u}) {
    double fundamental_db[2] = {};
    for (uint16_t period : {4, 9, 42}) {
      SampleRing ring;
      auto engine = tone_engine(
          ring, {1000000, rate, ChipModel::Ay, StereoLayout::Mono, 1, 5}, period);
      const Rendered out = render(*engine, 2000000);
      const double f0 = 1e6 / (16.0 * period);
      const Spectrum s = measure(out.left, rate / 2, rate, f0);
      std::printf("rate %u period %u: fundamental %.3f dB, alias floor %.1f dB\n", rate,
                  period, s.fundamental_db, s.alias_db);
      EXPECT_LE(s.alias_db, -100) << rate << " " << period;
      if (period == 4) fundamental_db[0] = s.fundamental_db;
      if (period == 42) fundamental_db[1] = s.fundamental_db;
    }
    EXPECT_NEAR(fundamental_db[0], fundamental_db[1], 1.0) << rate;
  }
}

// Pitch from rising zero crossings, DC as the mean after half a second, and
// the distinct levels of one envelope cycle.
TEST(StudioSound, PitchDcAndEnvelopeSteps) {
  struct Case {
    ChipModel model;
    uint32_t clock;
    uint32_t rate;
    uint16_t period;
    double hz;
    size_t envelope_steps;
  };
  const Case cases[] = {
      {ChipModel::Ay, 2000000, 44100, 283, 441.696, 16},
      {ChipModel::Ym, 2000000, 48000, 283, 441.696, 32},
      {ChipModel::Ym, 1773400, 44100, 251, 441.584, 32},
      {ChipModel::Ay, 1000000, 96000, 1000, 62.5, 16},
  };
  for (const Case& c : cases) {
    SampleRing ring;
    auto engine =
        tone_engine(ring, {c.clock, c.rate, c.model, StereoLayout::Abc, 1, 9}, c.period);
    const Rendered out = render(*engine, 3ull * c.clock);
    std::vector<double> rising;
    double sum = 0;
    for (size_t i = c.rate / 2; i + 1 < out.left.size(); ++i) {
      sum += out.left[i];
      const double a = out.left[i], b = out.left[i + 1];
      if (a < 0 && b >= 0) rising.push_back(i + a / (a - b));
    }
    const double hz = (rising.size() - 1) * c.rate / (rising.back() - rising.front());
    const double cents = 1200 * std::log2(hz / c.hz);
    const double dc = sum / (out.left.size() - c.rate / 2) / 32768;
    std::printf("clock %u rate %u: %.5f Hz (%.5f cents), DC %.5f %% FS, peak %d\n",
                c.clock, c.rate, hz, cents, 100 * dc, out.peak);
    EXPECT_LE(std::abs(cents), 0.1);
    EXPECT_LE(std::abs(dc), 0.001);

    // Envelope: a constant channel (tone and noise off) following a sawtooth.
    engine->write_register(7, 0x3F);
    engine->write_register(8, 0x10);
    engine->write_register(11, 40);
    engine->write_register(12, 0);
    engine->write_register(13, 12);
    std::set<float> levels;
    for (int i = 0; i < 64; ++i) {
      engine->run(8 * 40);
      levels.insert(engine->chip(0).output(0));
    }
    EXPECT_EQ(levels.size(), c.envelope_steps);
  }
}

}  // namespace

namespace {

// advance() must leave both chips of a TurboSound pair where run() does, and
// the frames after it must fall due where they would have.
TEST(StudioEngine, AdvanceLeavesTheChipsWhereARunDoes) {
  SampleRing ring_a, ring_b;
  const StudioSettings settings{1773400, 48000, ChipModel::Ym, StereoLayout::Acb, 2, 3};
  auto ran = std::make_unique<StudioEngine>(settings, ring_a);
  auto skipped = std::make_unique<StudioEngine>(settings, ring_b);
  ran->reset();
  skipped->reset();
  uint32_t seed = 11;
  uint64_t frames_ran = 0;
  for (int write = 0; write < 400; ++write) {
    seed = seed * 1103515245u + 12345u;
    const uint8_t reg = static_cast<uint8_t>((seed >> 8) % 30);
    const uint8_t value = static_cast<uint8_t>(seed >> 16);
    ran->write_register(reg, value);
    skipped->write_register(reg, value);
    const uint32_t delay = (seed >> 24) * 97 + 1;
    frames_ran += render(*ran, delay).left.size();
    skipped->advance(delay);
  }
  ran->synchronize();
  skipped->synchronize();
  for (int chip = 0; chip < 2; ++chip) {
    const StudioChip& a = ran->chip(chip);
    const StudioChip& b = skipped->chip(chip);
    EXPECT_EQ(a.noise_shift_register(), b.noise_shift_register());
    EXPECT_EQ(a.envelope().level(), b.envelope().level());
    for (int c = 0; c < 3; ++c) {
      EXPECT_EQ(a.tone_bit(c), b.tone_bit(c));
      EXPECT_EQ(a.output(c), b.output(c));
    }
  }
  // The next 10000 ticks make as many frames after either.
  EXPECT_EQ(render(*ran, 10000).left.size(), render(*skipped, 10000).left.size());
  EXPECT_GT(frames_ran, 0u);
}

}  // namespace

namespace {

// A run stops right after the tick whose frame takes the ring above its
// high-water mark, as every engine's does.
TEST(StudioEngine, RunStopsAtTheFrameThatFillsTheRing) {
  for (uint32_t rate : {8000u, 44100u, 192000u}) {
    SampleRing ring;
    auto engine =
        tone_engine(ring, {3579545, rate, ChipModel::Ay, StereoLayout::Abc, 1, 1}, 100);
    const uint64_t ran = engine->run(UINT32_MAX);
    const uint64_t frames = SampleRing::kHighWater / 4 + 1;
    EXPECT_EQ(ring.fill_level(), 4 * frames);
    EXPECT_EQ(ran * rate / 3579545, frames) << rate;
    EXPECT_EQ((ran - 1) * rate / 3579545, frames - 1) << rate;
  }
}

}  // namespace

namespace {

// Each channel of either chip lands where its layout puts it: the sides'
// levels of a lone tone stand as the gains of its place.
TEST(StudioEngine, EachChannelOfEitherChipSoundsInItsLayoutsPlace) {
  const float kLeft[3] = {StudioEngine::kNearGain, StudioEngine::kCentreGain,
                          StudioEngine::kFarGain};
  const struct {
    StereoLayout layout;
    const char* places;  // the channel at left, centre, right
  } cases[] = {{StereoLayout::Abc, "abc"},
               {StereoLayout::Acb, "acb"},
               {StereoLayout::Cab, "cab"},
               {StereoLayout::Mono, nullptr}};
  for (const auto& c : cases) {
    for (int channel = 0; channel < 6; ++channel) {
      SampleRing ring;
      StudioEngine engine({1773400, 44100, ChipModel::Ay, c.layout, 2, 1}, ring);
      const uint8_t base = channel < 3 ? 0 : 16;
      const int own = channel % 3;
      engine.write_register(base + 7, static_cast<uint8_t>(0x3F & ~(1 << own)));
      engine.write_register(base + 8 + own, 15);
      engine.write_register(base + 2 * own, 200);
      const Rendered out = render(engine, 1773400);
      double left = 0, right = 0;
      for (size_t i = 22050; i < out.left.size(); ++i) {
        left += out.left[i] * out.left[i];
        right += out.right[i] * out.right[i];
      }
      const int place =
          c.places == nullptr
              ? 1
              : static_cast<int>(std::strchr(c.places, 'a' + own) - c.places);
      const double want = kLeft[place] / (1.0f - kLeft[place]);
      EXPECT_NEAR(std::sqrt(left / right), want, 0.001 * want) << c.places << channel;
    }
  }
}

}  // namespace
