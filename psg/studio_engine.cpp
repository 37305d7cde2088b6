#include "psg/studio_engine.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kHighPassHz = 5;
constexpr double kKaiserBeta = 11;
// The band the listener hears, and the room the 48-tap Kaiser (beta 11)
// step needs between its half-amplitude point and its stopband (about
// -100 dB from there on).
constexpr double kAudibleHz = 20000;
constexpr double kHalfTransition = 0.0737;

// Only content above (rate - 20 kHz) folds back below 20 kHz: the stopband
// starts there. At low rates the cutoff stays near half the rate.
double cutoff_for(uint32_t rate) {
  const double cutoff = (rate - kAudibleHz) / rate - kHalfTransition;
  return std::clamp(cutoff, 0.5 - kHalfTransition, 0.5);
}

// A tone above this is heard as its mean level: its fundamental would only
// fold back.
uint32_t fast_tone_for(uint32_t rate) {
  const uint32_t fold = rate > 20000 ? rate - 20000 : 0;
  return std::max(fold, rate / 2);
}

StudioSettings checked(StudioSettings settings) {
  settings.sample_rate = std::clamp<uint32_t>(settings.sample_rate, 8000, 192000);
  // A tick makes at most one frame: the runs rely on it.
  settings.clock_hz = std::max(settings.clock_hz, settings.sample_rate);
  settings.chips = std::clamp(settings.chips, 1, 2);
  return settings;
}

// Not under ThreadSanitizer: the clones' resolver runs while the program is
// being loaded, before the sanitizer's run time is there to take its calls.
#if defined(__x86_64__) && defined(__ELF__) && \
    (defined(__GNUC__) || defined(__clang__)) && !defined(__SANITIZE_THREAD__)
#define STUDIO_FRAME_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define STUDIO_FRAME_CLONES
#endif

}  // namespace

// Scales, dithers and rounds the high-passed frames and packs them into the
// ring's slots. The dither is a TPDF of two 8-bit draws a side, both from a
// 32-bit hash of the frame's number (and the seed), so that no frame waits
// for the one before. Each pass over a block is one simple loop of one type,
// as the vectoriser takes them.
STUDIO_FRAME_CLONES
void dither_frames(uint8_t* slots, uint32_t frames, const double* left,
                   const double* right, double scale, uint32_t first) {
  constexpr double kDraw = 1.0 / 256;
  // Adding 65536.5 and truncating rounds to nearest for anything above
  // -65536, which every sample is.
  constexpr double kBias = 65536.5;
  constexpr uint32_t kBlock = 256;
  int32_t dither_left[kBlock];
  int32_t dither_right[kBlock];
  int32_t rounded_left[kBlock];
  int32_t rounded_right[kBlock];
  for (uint32_t done = 0; done < frames; done += kBlock) {
    const uint32_t n = std::min(kBlock, frames - done);
    for (uint32_t i = 0; i < n; ++i) {
      uint32_t x = first + done + i;
      x = (x ^ (x >> 16)) * 0x7FEB352Du;
      x = (x ^ (x >> 15)) * 0x846CA68Bu;
      x ^= x >> 16;
      dither_left[i] = int32_t(x & 0xFF) - int32_t((x >> 8) & 0xFF);
      dither_right[i] = int32_t((x >> 16) & 0xFF) - int32_t(x >> 24);
    }
    const double* l = left + done;
    const double* r = right + done;
    for (uint32_t i = 0; i < n; ++i) {
      rounded_left[i] =
          static_cast<int32_t>(l[i] * scale + dither_left[i] * kDraw + kBias);
    }
    for (uint32_t i = 0; i < n; ++i) {
      rounded_right[i] =
          static_cast<int32_t>(r[i] * scale + dither_right[i] * kDraw + kBias);
    }
    uint8_t* out = slots + 4 * size_t{done};
    for (uint32_t i = 0; i < n; ++i) {
      const uint32_t word =
          SampleRing::pack_frame(static_cast<int16_t>(rounded_left[i] - 65536),
                                 static_cast<int16_t>(rounded_right[i] - 65536));
      std::memcpy(out + 4 * i, &word, 4);
    }
  }
}

StudioEngine::StudioEngine(const StudioSettings& settings, SampleRing& ring)
    : settings_(checked(settings)),
      ring_(ring),
      step_(cutoff_for(settings_.sample_rate), kKaiserBeta),
      chips_{StudioChip(settings_.model, settings_.clock_hz,
                        fast_tone_for(settings_.sample_rate),
                        fast_tone_for(settings_.sample_rate)),
             StudioChip(settings_.model, settings_.clock_hz,
                        fast_tone_for(settings_.sample_rate),
                        fast_tone_for(settings_.sample_rate))} {
  static constexpr char kLayouts[6][4] = {"abc", "acb", "bac", "bca", "cab", "cba"};
  const int layout = static_cast<int>(settings_.stereo);
  places_ = layout < 6 ? kPlaces : 1;
  for (int place = 0; place < places_; ++place) {
    const float left = places_ == 1 ? kCentreGain
                       : place == 0 ? kNearGain
                       : place == 1 ? kCentreGain
                                    : kFarGain;
    place_left_[place] = left;
    place_right_[place] = places_ == 1 ? kCentreGain : 1.0f - left;
    for (int chip = 0; chip < 2 && places_ > 1; ++chip) {
      place_of_[3 * chip + kLayouts[layout][place] - 'a'] = static_cast<uint8_t>(place);
    }
  }
  // A side's input stays within 0..(sum of its gains); the step's low-pass
  // can stretch that by its impulse magnitude and the high-pass, which takes
  // the mean away, by at most twice half the range. 1 % margin, then room
  // for the dither and the rounding.
  const double range = (kNearGain + kCentreGain + kFarGain) * settings_.chips;
  scale_ = 32765.0 / (range * step_.impulse_magnitude() * 1.01);
  pole_ = portable_exp(-2 * kPi * kHighPassHz / settings_.sample_rate);
  inverse_clock_ = 1.0 / settings_.clock_hz;
  reset();
}

void StudioEngine::reset() {
  for (StudioChip& chip : chips_) chip.reset();
  now_ = 0;
  frames_ = 0;
  remainder_ = 0;
  std::fill(std::begin(emitted_), std::end(emitted_), 0.0f);
  for (float* place : steps_) std::fill(place, place + kBuffer, 0.0f);
  used_ = 0;
  filtered_left_ = 0;
  filtered_right_ = 0;
  dither_seed_ = uint64_t{settings_.dither_seed} * 0x9E3779B9u;
  frame_count_ = 0;
  ring_.reset();
}

void StudioEngine::add_steps(uint64_t tick, int chip, unsigned changed,
                             const float* levels) {
  const double position = static_cast<double>(static_cast<int64_t>(
                              remainder_ + (tick - now_) * settings_.sample_rate)) *
                          inverse_clock_;
  const int index = static_cast<int>(position);
  const double phase = position - index;
  used_ = std::max(used_, index + BandLimitedStep::kTaps);
  if ((changed & (changed - 1)) == 0) {
    // One channel, as most changes are.
    const int c = std::countr_zero(changed);
    const int channel = 3 * chip + c;
    const float delta = levels[c] - emitted_[channel];
    emitted_[channel] = levels[c];
    step_.add(steps_[place_of_[channel]] + index, phase, delta);
    return;
  }
  // Changes at one tick in one place are one step.
  float deltas[kPlaces] = {};
  for (int c = 0; c < 3; ++c) {
    const int channel = 3 * chip + c;
    deltas[place_of_[channel]] += levels[c] - emitted_[channel];
    emitted_[channel] = levels[c];
  }
  for (int place = 0; place < places_; ++place) {
    if (deltas[place] != 0) step_.add(steps_[place] + index, phase, deltas[place]);
  }
}

void StudioEngine::run_chips_to(uint64_t tick) {
  for (int chip = 0; chip < settings_.chips; ++chip) {
    auto sink = [this, chip](uint64_t at, unsigned changed, const float* levels) {
      add_steps(at, chip, changed, levels);
    };
    chips_[chip].run_to(tick, sink);
  }
}

void StudioEngine::write_register(uint8_t reg, uint8_t value) {
  const int chip = reg >> 4;
  if (chip >= settings_.chips) return;
  auto sink = [this, chip](uint64_t at, unsigned changed, const float* levels) {
    add_steps(at, chip, changed, levels);
  };
  chips_[chip].write(now_, reg & 15, value, sink);
}

uint32_t StudioEngine::run(uint32_t ticks) {
  const uint64_t rate = settings_.sample_rate;
  const uint64_t clock = settings_.clock_hz;
  const uint64_t start = now_;
  const uint64_t end = now_ + ticks;
  for (;;) {
    const uint64_t due = (remainder_ + (end - now_) * rate) / clock;
    if (due == 0) {
      run_chips_to(end);
      remainder_ += (end - now_) * rate;
      now_ = end;
      return ticks;
    }
    // As many frames as are due, fit a batch, and take the ring at most
    // just above its high-water mark.
    const uint32_t fill = ring_.fill_level();
    const uint64_t room =
        fill > SampleRing::kHighWater ? 1 : (SampleRing::kHighWater - fill) / 4 + 1;
    const uint64_t frames = std::min({due, uint64_t{kBatch}, room});
    const uint64_t tick = now_ + (frames * clock - remainder_ + rate - 1) / rate;
    run_chips_to(tick);
    remainder_ = remainder_ + (tick - now_) * rate - frames * clock;
    now_ = tick;
    make_frames(static_cast<uint32_t>(frames));
    if (ring_wants_emptying(ring_)) return static_cast<uint32_t>(now_ - start);
    if (now_ == end) return ticks;
  }
}

void StudioEngine::make_frames(uint32_t frames) {
  if (frames == 1 && ring_.is_full(ring_.observe_read_offset())) {
    // Lost, as the exact engines lose it; the filter still moves on.
    ring_.report_full();
    write_frames(nullptr, 1, 0);
  } else {
    uint32_t to_end = 0;
    uint8_t* slots = ring_.free_slots(&to_end);
    const uint32_t first = std::min(frames, to_end);
    write_frames(slots, first, 0);
    if (frames > first) {
      write_frames(ring_.first_slot(), frames - first, static_cast<int>(first));
    }
    ring_.publish(frames);
  }
  drop_front(frames);
}

void StudioEngine::drop_front(uint32_t frames) {
  frames_ += frames;
  const int moved = static_cast<int>(frames);
  for (int place = 0; place < places_; ++place) {
    float* steps = steps_[place];
    if (used_ > moved) {
      const size_t live = static_cast<size_t>(used_ - moved);
      std::memmove(steps, steps + moved, live * sizeof(float));
      std::fill(steps + live, steps + used_, 0.0f);
    } else {
      std::fill(steps, steps + used_, 0.0f);
    }
  }
  used_ = std::max(used_ - moved, 0);
}

void StudioEngine::mix_places(float* __restrict left, float* __restrict right, int from,
                              uint32_t frames) const {
  for (int place = 0; place < places_; ++place) {
    const float* __restrict steps = steps_[place] + from;
    const float gain_left = place_left_[place];
    const float gain_right = place_right_[place];
    if (place == 0) {
      for (uint32_t i = 0; i < frames; ++i) {
        left[i] = gain_left * steps[i];
        right[i] = gain_right * steps[i];
      }
    } else {
      for (uint32_t i = 0; i < frames; ++i) {
        left[i] += gain_left * steps[i];
        right[i] += gain_right * steps[i];
      }
    }
  }
}

void StudioEngine::write_frames(uint8_t* slots, uint32_t frames, int from) {
  // The high-pass, y[n] = pole * y[n-1] + step[n] (the buffer holds the
  // steps' sample differences, so this also integrates them), four frames a
  // time so that only every fourth result waits for the one before.
  float mixed[2][kBatch];
  mix_places(mixed[0], mixed[1], from, frames);
  double filtered[2][kBatch + 4];
  const double p1 = pole_, p2 = p1 * p1, p3 = p2 * p1, p4 = p2 * p2;
  double state[2] = {filtered_left_, filtered_right_};
  for (int side = 0; side < 2; ++side) {
    const float* x = mixed[side];
    double y = state[side];
    uint32_t i = 0;
    for (; i + 4 <= frames; i += 4) {
      const double a = x[i], b = x[i + 1], c = x[i + 2], d = x[i + 3];
      const double ab = p1 * a + b;
      const double abc = p1 * ab + c;
      filtered[side][i] = p1 * y + a;
      filtered[side][i + 1] = p2 * y + ab;
      filtered[side][i + 2] = p3 * y + abc;
      y = p4 * y + (p1 * abc + d);
      filtered[side][i + 3] = y;
    }
    for (; i < frames; ++i) filtered[side][i] = y = p1 * y + x[i];
    state[side] = y;
  }
  filtered_left_ = state[0];
  filtered_right_ = state[1];
  if (slots != nullptr) dither_and_pack(slots, frames, filtered[0], filtered[1]);
  frame_count_ += frames;
}

void StudioEngine::dither_and_pack(uint8_t* slots, uint32_t frames, const double* left,
                                   const double* right) const {
  dither_frames(slots, frames, left, right, scale_,
                static_cast<uint32_t>(dither_seed_ + frame_count_));
}

void StudioEngine::advance(uint64_t ticks) {
  const uint64_t rate = settings_.sample_rate;
  const uint64_t clock = settings_.clock_hz;
  now_ += ticks;
  for (int chip = 0; chip < settings_.chips; ++chip) chips_[chip].skip_to(now_);
  const uint64_t part = remainder_ + ticks % clock * rate;
  uint64_t skipped = ticks / clock * rate + part / clock;
  remainder_ = part % clock;
  // The steps still in the buffer for skipped frames go straight into the
  // filter, so that the levels stay where they were.
  while (skipped != 0) {
    const uint32_t frames = static_cast<uint32_t>(std::min<uint64_t>(skipped, kBatch));
    const int folded = std::min(static_cast<int>(frames), used_);
    for (int place = 0; place < places_; ++place) {
      for (int i = 0; i < folded; ++i) {
        filtered_left_ += place_left_[place] * steps_[place][i];
        filtered_right_ += place_right_[place] * steps_[place][i];
      }
    }
    drop_front(frames);
    skipped -= frames;
    if (used_ == 0) {
      frames_ += skipped;
      break;
    }
  }
  // The levels the chip reached while skipped, as steps at the new time.
  for (int chip = 0; chip < settings_.chips; ++chip) {
    const float levels[3] = {chips_[chip].output(0), chips_[chip].output(1),
                             chips_[chip].output(2)};
    add_steps(now_, chip, 7, levels);
  }
}

void StudioEngine::synchronize() {
  for (int chip = 0; chip < settings_.chips; ++chip) chips_[chip].synchronize(now_);
}
