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
void dither_frames(uint8_t* slots, uint32_t frames, const double* samples, double scale,
                   uint32_t first) {
  constexpr double kDraw = 1.0 / 256;
  // Adding 65536.5 and truncating rounds to nearest for anything above
  // -65536, which every sample is.
  constexpr double kBias = 65536.5;
  constexpr uint32_t kBlock = 256;
  int32_t draws[2 * kBlock];
  int32_t rounded[2 * kBlock];
  for (uint32_t done = 0; done < frames; done += kBlock) {
    const uint32_t n = std::min(kBlock, frames - done);
    for (uint32_t i = 0; i < n; ++i) {
      uint32_t x = first + done + i;
      x = (x ^ (x >> 16)) * 0x7FEB352Du;
      x = (x ^ (x >> 15)) * 0x846CA68Bu;
      x ^= x >> 16;
      draws[2 * i] = int32_t(x & 0xFF) - int32_t((x >> 8) & 0xFF);
      draws[2 * i + 1] = int32_t((x >> 16) & 0xFF) - int32_t(x >> 24);
    }
    const double* in = samples + 2 * size_t{done};
    for (uint32_t j = 0; j < 2 * n; ++j) {
      rounded[j] = static_cast<int32_t>(in[j] * scale + draws[j] * kDraw + kBias);
    }
    uint8_t* out = slots + 4 * size_t{done};
    for (uint32_t i = 0; i < n; ++i) {
      const uint32_t word =
          SampleRing::pack_frame(static_cast<int16_t>(rounded[2 * i] - 65536),
                                 static_cast<int16_t>(rounded[2 * i + 1] - 65536));
      std::memcpy(out + 4 * i, &word, 4);
    }
  }
}

STUDIO_FRAME_CLONES
void mix_places(float* __restrict frames_out, float* __restrict first,
                float* __restrict second, float* __restrict third, uint32_t frames,
                const float* gains) {
  const float l0 = gains[0], r0 = gains[1], l1 = gains[2], r1 = gains[3];
  const float l2 = gains[4], r2 = gains[5];
  for (size_t i = 0; i < frames; ++i) {
    const float a = first[i], b = second[i], c = third[i];
    frames_out[2 * i] = l0 * a + l1 * b + l2 * c;
    frames_out[2 * i + 1] = r0 * a + r1 * b + r2 * c;
    first[i] = 0;
    second[i] = 0;
    third[i] = 0;
  }
}

STUDIO_FRAME_CLONES
void mix_place(float* __restrict frames_out, float* __restrict steps, uint32_t frames,
               const float* gains) {
  const float left = gains[0], right = gains[1];
  for (size_t i = 0; i < frames; ++i) {
    frames_out[2 * i] = left * steps[i];
    frames_out[2 * i + 1] = right * steps[i];
    steps[i] = 0;
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
    place_gains_[2 * place] = left;
    place_gains_[2 * place + 1] = places_ == 1 ? kCentreGain : 1.0f - left;
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
  phases_per_unit_ = double{BandLimitedStep::kPhases} / settings_.clock_hz;
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
  // The step's place in whole phases from buffer index 0, and the fraction
  // of a phase beyond.
  const double scaled = static_cast<double>(static_cast<int64_t>(
                            remainder_ + (tick - now_) * settings_.sample_rate)) *
                        phases_per_unit_;
  const int64_t whole = static_cast<int64_t>(scaled);
  const float fraction = static_cast<float>(scaled - static_cast<double>(whole));
  const int index = static_cast<int>(whole / BandLimitedStep::kPhases);
  const int phase = static_cast<int>(whole % BandLimitedStep::kPhases);
  used_ = std::max(used_, index + BandLimitedStep::kTaps);
  if ((changed & (changed - 1)) == 0) {
    // One channel, as most changes are.
    const int c = std::countr_zero(changed);
    const int channel = 3 * chip + c;
    const float delta = levels[c] - emitted_[channel];
    emitted_[channel] = levels[c];
    step_.add(steps_[place_of_[channel]] + index, phase, fraction, delta);
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
    if (deltas[place] != 0)
      step_.add(steps_[place] + index, phase, fraction, deltas[place]);
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
  if (used_ > moved) {
    // The entries still to come move to the front; those they leave that
    // were not among the cleared ones are cleared.
    const int live = used_ - moved;
    for (int place = 0; place < places_; ++place) {
      float* steps = steps_[place];
      std::memmove(steps, steps + moved, static_cast<size_t>(live) * sizeof(float));
      std::fill(steps + std::max(live, moved), steps + used_, 0.0f);
    }
    used_ = live;
  } else {
    used_ = 0;
  }
}

void StudioEngine::write_frames(uint8_t* slots, uint32_t frames, int from) {
  float mixed[2 * kBatch];
  if (places_ == 1) {
    mix_place(mixed, steps_[0] + from, frames, place_gains_);
  } else {
    mix_places(mixed, steps_[0] + from, steps_[1] + from, steps_[2] + from, frames,
               place_gains_);
  }
  double filtered[2 * kBatch];
  high_pass(filtered, mixed, frames);
  if (slots != nullptr) {
    dither_frames(slots, frames, filtered, scale_,
                  static_cast<uint32_t>(dither_seed_ + frame_count_));
  }
  frame_count_ += frames;
}

void StudioEngine::high_pass(double* out, const float* in, uint32_t frames) {
  // y[n] = pole * y[n-1] + step[n] (the buffer holds the steps' sample
  // differences, so this also integrates them), four frames a time so that
  // only every fourth result waits for the one before; the two sides side by
  // side, as the vectoriser pairs them.
  const double p1 = pole_, p2 = p1 * p1, p3 = p2 * p1, p4 = p2 * p2;
  double y[2] = {filtered_left_, filtered_right_};
  uint32_t i = 0;
  for (; i + 4 <= frames; i += 4) {
    const float* x = in + 2 * i;
    double* o = out + 2 * i;
    for (int side = 0; side < 2; ++side) {
      const double a = x[side], b = x[2 + side], c = x[4 + side], d = x[6 + side];
      const double ab = p1 * a + b;
      const double abc = p1 * ab + c;
      o[side] = p1 * y[side] + a;
      o[2 + side] = p2 * y[side] + ab;
      o[4 + side] = p3 * y[side] + abc;
      y[side] = p4 * y[side] + (p1 * abc + d);
      o[6 + side] = y[side];
    }
  }
  for (; i < frames; ++i) {
    for (int side = 0; side < 2; ++side) {
      out[2 * i + side] = y[side] = p1 * y[side] + in[2 * i + side];
    }
  }
  filtered_left_ = y[0];
  filtered_right_ = y[1];
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
        filtered_left_ += place_gains_[2 * place] * steps_[place][i];
        filtered_right_ += place_gains_[2 * place + 1] * steps_[place][i];
      }
      std::fill(steps_[place], steps_[place] + folded, 0.0f);
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
