#include "psg/stretch_engine.h"

#include <algorithm>
#include <array>
#include <cstdint>

namespace {

constexpr uint64_t kClock = Chip::kChipClock;
constexpr uint64_t kRate = Chip::kFrameRate;

// Frames held at the edges of the feedback bands.
constexpr uint32_t kLowFrames = SampleRing::kLowWater / 4;    // 3072: middle from here
constexpr uint32_t kHighFrames = SampleRing::kHighWater / 4;  // 9216: high above

// Runs a countdown of the kind the tone and noise generators use (a counter
// of 0 or 1 reloads on the next tick, a reload adds the period) for `ticks`
// ticks in closed form. Returns the number of reloads. The period is not 0.
uint64_t run_countdown(uint16_t* counter, uint16_t period, uint64_t ticks) {
  if (ticks == 0) return 0;
  uint64_t reloads = 0;
  uint32_t count = *counter;
  if (count <= 1) {
    --ticks;
    reloads = 1;
    count = period + count - 1;  // at least 7
  }
  if (ticks >= count) {
    // Reloads at tick `count`, then every `period` ticks from a counter of 1.
    ticks -= count;
    reloads += 1 + ticks / period;
    count = period - static_cast<uint32_t>(ticks % period);
  } else {
    count -= static_cast<uint32_t>(ticks);
  }
  *counter = static_cast<uint16_t>(count);
  return reloads;
}

// The noise register and its output as one 33-bit vector (bits 0..31 the
// register, bit 32 the output). A shift is linear over GF(2): the output takes
// bit 0, the register moves left, and bit 30 moving into bit 31 XORs in the
// feedback taps. So n shifts are one 33x33 bit matrix, and any n is a product
// of the matrices for n = 1, 2, 4, ... kept in a table.
using NoiseMatrix = std::array<uint64_t, 33>;  // column j: the image of bit j

uint64_t one_shift(uint64_t state) {
  NoiseGenerator noise;
  noise.shift_register = static_cast<uint32_t>(state);
  noise.output = static_cast<uint16_t>((state >> 32) & 1u);
  noise.shift();
  return noise.shift_register | (static_cast<uint64_t>(noise.output) << 32);
}

uint64_t apply(const NoiseMatrix& matrix, uint64_t state) {
  uint64_t result = 0;
  for (unsigned j = 0; j < 33; ++j) {
    if ((state >> j) & 1u) result ^= matrix[j];
  }
  return result;
}

struct NoisePowers {
  std::array<NoiseMatrix, 64> powers{};  // powers[k]: 2^k shifts
  NoisePowers() {
    for (unsigned j = 0; j < 33; ++j) powers[0][j] = one_shift(uint64_t{1} << j);
    for (size_t k = 1; k < powers.size(); ++k) {
      for (unsigned j = 0; j < 33; ++j)
        powers[k][j] = apply(powers[k - 1], powers[k - 1][j]);
    }
  }
};

// Shifts the noise register `shifts` times, with up to 64 matrix products for
// a long stretch instead of one step per shift.
void shift_noise(NoiseGenerator* noise, uint64_t shifts) {
  if (shifts <= 64) {
    for (; shifts != 0; --shifts) noise->shift();
    return;
  }
  static const NoisePowers table;
  uint64_t state =
      noise->shift_register | (static_cast<uint64_t>(noise->output & 1u) << 32);
  for (size_t k = 0; shifts != 0; ++k, shifts >>= 1) {
    if (shifts & 1u) state = apply(table.powers[k], state);
  }
  noise->shift_register = static_cast<uint32_t>(state);
  noise->output = static_cast<uint16_t>((state >> 32) & 1u);
}

// When heard noise next changes: at the next shift that finds bit 0 set.
// Shifts that find it clear change nothing the mixer sees. The search stops
// at the 64th shift, which then simply ends a stretch with no change.
struct NoiseToggle {
  uint64_t ticks;           // from now to that shift
  uint32_t shift_register;  // the register just before it
  uint16_t counter;         // the counter just after it
};

NoiseToggle next_toggle(const NoiseGenerator& noise) {
  NoiseToggle toggle{};
  uint32_t shift_register = noise.shift_register;
  uint32_t shifts = 1;
  while ((shift_register & 1u) == 0 && shifts < 64) {
    shift_register = NoiseGenerator::next_register(shift_register);
    ++shifts;
  }
  toggle.shift_register = shift_register;
  // The first shift comes when the counter runs out and reloads it with the
  // period (one less from a counter of 0); every later one a period after
  // the one before.
  const uint32_t counter = noise.counter;
  const uint32_t short_reload = counter == 0 ? 1u : 0u;
  const uint32_t first = counter > 1 ? counter : 1u;
  if (shifts == 1) {
    toggle.ticks = first;
    toggle.counter = static_cast<uint16_t>(noise.period - short_reload);
  } else {
    toggle.ticks = first - short_reload + uint64_t{shifts - 1} * noise.period;
    toggle.counter = noise.period;
  }
  return toggle;
}

// The tick on which the j-th frame from now falls due (j >= 1): the first
// tick t with accumulator + 44100 t >= j x 1000000.
uint64_t ticks_to_frame(uint32_t accumulator, uint32_t j) {
  return (j * kClock - accumulator + kRate - 1) / kRate;
}

// The same for the frame after one that has just fallen due (the accumulator
// then below 44100), without the division: 22 ticks from an accumulator of
// at least 1000000 - 22 x 44100, else 23.
uint64_t ticks_after_frame(uint32_t accumulator) {
  constexpr uint32_t kShortFrom = kClock - 22 * kRate;  // 29800
  // Arithmetic, not a choice (the sign bit of 29799 - accumulator): which
  // of the two comes next follows no pattern a branch predictor learns, and
  // the compiler turns a plain comparison back into a branch.
  return 23 - ((kShortFrom - 1 - accumulator) >> 31);
}

// Far beyond any run: a generator that never acts within one.
constexpr uint64_t kNever = uint64_t{1} << 62;

using Band = SampleRing::Band;

// Applies `ticks` feedback updates that all find the fill level in band:
// after a few dozen the correction pins at a limit or settles at 0.
int16_t apply_feedback(Band band, uint64_t ticks, int16_t drift) {
  for (; ticks != 0; --ticks) {
    const int16_t next = SampleRing::next_drift(band, drift);
    if (next == drift) break;
    drift = next;
  }
  return drift;
}

// The fill level, in frames, at which the feedback enters the next band.
uint32_t next_band_edge(uint32_t frames) {
  if (frames == 0) return 1;
  if (frames < kLowFrames) return kLowFrames;
  return kHighFrames + 1;
}

bool heard(const ToneChannel& channel) {
  return channel.amplitude != 0 || channel.envelope_mode != 0;
}

}  // namespace

void StretchEngine::start() {
  now_ = 0;
  for (int i = 0; i < 3; ++i) {
    tone_heard_[i] = false;
    tone_synced_at_[i] = 0;
  }
  noise_heard_ = false;
  noise_synced_at_ = 0;
  envelope_heard_ = false;
  envelope_synced_at_ = 0;
  update_hearing();
}

void StretchEngine::catch_up_tone(int channel) {
  if (tone_heard_[channel]) return;
  ToneChannel& tone = chip_.channels[static_cast<size_t>(channel)];
  const uint64_t ticks = now_ - tone_synced_at_[channel];
  tone_synced_at_[channel] = now_;
  if (tone.period == 0) return;  // frozen
  tone.flip_flop ^=
      static_cast<uint8_t>(run_countdown(&tone.counter, tone.period, ticks) & 1u);
}

void StretchEngine::catch_up_noise() {
  if (noise_heard_) return;
  NoiseGenerator& noise = chip_.noise;
  const uint64_t ticks = now_ - noise_synced_at_;
  noise_synced_at_ = now_;
  if (noise.period == 0) return;
  shift_noise(&noise, run_countdown(&noise.counter, noise.period, ticks));
}

void StretchEngine::catch_up_envelope() {
  if (envelope_heard_) return;
  EnvelopeGenerator& envelope = chip_.envelope;
  const uint64_t ticks = now_ - envelope_synced_at_;
  envelope_synced_at_ = now_;
  if (envelope.period == 0 || ticks == 0) return;
  const uint64_t total = envelope.counter + ticks;
  uint64_t steps = total / envelope.period;
  envelope.counter = static_cast<uint32_t>(total % envelope.period);
  // Every shape either holds within 17 steps or repeats its levels every 16
  // or 32 steps, so a long run of steps ends where 32 + (steps mod 32) do.
  if (steps >= 64) steps = 32 + steps % 32;
  for (; steps != 0; --steps) chip_.advance_envelope_level();
}

void StretchEngine::update_hearing() {
  bool noise_heard = false;
  bool envelope_heard = false;
  for (int i = 0; i < 3; ++i) {
    const ToneChannel& channel = chip_.channels[static_cast<size_t>(i)];
    // A frozen tone (period 0) never flips, so it needs no stretches either.
    const bool tone = channel.tone_enable != 0 && channel.period != 0 && heard(channel);
    if (tone && !tone_heard_[i]) catch_up_tone(i);
    if (!tone && tone_heard_[i]) tone_synced_at_[i] = now_;
    tone_heard_[i] = tone;
    noise_heard = noise_heard || (channel.noise_enable != 0 && heard(channel));
    envelope_heard = envelope_heard || channel.envelope_mode != 0;
  }
  // A holding envelope's steps change nothing until a restart.
  envelope_heard = envelope_heard && chip_.envelope.direction != 0;
  noise_heard = noise_heard && chip_.noise.period != 0;
  if (noise_heard && !noise_heard_) catch_up_noise();
  if (!noise_heard && noise_heard_) noise_synced_at_ = now_;
  noise_heard_ = noise_heard;
  if (envelope_heard && !envelope_heard_) catch_up_envelope();
  if (!envelope_heard && envelope_heard_) envelope_synced_at_ = now_;
  envelope_heard_ = envelope_heard;
}

void StretchEngine::write_register(uint8_t reg, uint8_t value) {
  // A generator left behind runs out its time at the period it had.
  if (reg <= 5) catch_up_tone(reg / 2);
  if (reg == 6) catch_up_noise();
  // Entering envelope mode reads the envelope's current level.
  if (reg >= 8 && reg <= 10 && (value & 0x10u) != 0) catch_up_envelope();
  chip_.write_register(reg, value);
  // A restart throws the old envelope state away, counter and all.
  if (reg >= 11 && reg <= 13) envelope_synced_at_ = now_;
  update_hearing();
}

void StretchEngine::synchronize() {
  for (int i = 0; i < 3; ++i) catch_up_tone(i);
  catch_up_noise();
  catch_up_envelope();
}

// The steps of a run are folded into it, so that the run's fields can stay in
// registers instead of being reloaded after every store into the ring.
#if defined(__GNUC__)
#define RUN_STEP [[gnu::always_inline]] inline
#else
#define RUN_STEP inline
#endif

namespace {

// Runs step(0), step(1), step(2) written out one after the other: with every
// index into the run's per-channel arrays a constant, the compiler can keep
// those arrays in registers too (one indexed access puts the whole run in
// memory).
template <typename Step>
RUN_STEP void for_each_channel(Step step) {
  step(size_t{0});
  step(size_t{1});
  step(size_t{2});
}

// How a run goes. Between two changes the mixer's output is constant, so a
// run is a series of stretches, each ending on the tick of the next change:
//
//   1. until_other_change() and to_toggle: the nearest of the next flip of a
//      heard tone, the next toggle of heard noise (a shift that finds bit 0
//      set), the next step of a followed envelope, the frame that takes the
//      ring's fill level into another band, and the end of the run;
//   2. emit_stretch(): every frame due before that tick is the current frame;
//   3. apply_change(): that tick, as Chip::tick() runs it (envelope, tones,
//      noise: advance()), then the frame due on it, if any;
//   4. cross_band_edge(): at a band edge, the feedback of the band left is
//      settled; the run ends when the ring asks for a flush.
//
// Two shortcuts. Noise toggling before anything else can change (drums)
// runs in run_noise_toggles(): only the channels that take the noise change
// there, between two frames worked out once. And where changes come about as
// often as frames or more (fast noise, high tones, a fast envelope), stretches
// would be shorter than a frame: run_frames() then goes from due frame to due
// frame, moving every generator on with the same advance().
//
// The run works on copies of the state it changes, which the compiler can
// keep in registers (stores into the ring's storage may alias any memory):
// the constructor loads them from the chip and the ring and store() puts them
// back. What is heard cannot change inside a run, only at writes.
class Run {
 public:
  Run(Chip& chip, SampleRing& ring, uint32_t ticks, const bool tone_heard[3],
      bool noise_heard, bool envelope_heard);
  uint32_t remaining() const { return remaining_; }
  // Runs stretch after stretch (or frame after frame) until the ticks are
  // used up or the ring asks for a flush.
  void go();
  // Puts the state back into the chip and the ring.
  void store(const bool tone_heard[3]);

  // Set when the envelope began to hold during the run, at hold_tick ticks
  // into it.
  bool envelope_held = false;
  uint64_t hold_tick = 0;

 private:
  uint64_t until_other_change() const;
  void emit_stretch(uint64_t length);
  void resample_last_tick();
  bool advance_tone(size_t i, uint64_t ticks);
  bool advance_noise(uint64_t ticks);
  bool advance_envelope(uint64_t ticks);
  void advance(uint64_t ticks);
  void apply_change(uint64_t length);
  uint64_t run_noise_toggles(uint64_t others);
  void run_frames(uint64_t span);
  bool cross_band_edge();
  void pass(uint64_t spent);
  int16_t channel_out(size_t i) const {
    return gate_[i].output(amplitude_[i], flip_[i], noise_output_);
  }
  uint32_t pack() const {
    return SampleRing::pack_frame(static_cast<int16_t>(out_[0] + out_[1]),
                                  static_cast<int16_t>(out_[1] + out_[2]));
  }

  Chip& chip_;
  SampleRing& ring_;
  uint32_t ticks_ = 0;      // asked for
  uint32_t remaining_ = 0;  // not run yet
  bool frame_by_frame_ = false;

  // Per channel: ticks until its flip-flop flips (kNever when unheard), the
  // period it reloads with, whether the next reload comes from a counter of
  // 0 (one tick early), and the gate and amplitude that give its output.
  uint64_t tone_due_[3] = {};
  uint32_t tone_period_[3] = {};
  bool tone_from_zero_[3] = {};
  uint8_t flip_[3] = {};
  int16_t amplitude_[3] = {};
  ChannelGate gate_[3];

  // Heard noise runs only at the shifts that toggle its output; the ticks in
  // between are owed to it and paid on those shifts and at the end.
  NoiseGenerator* noise_ = nullptr;  // null when unheard
  uint8_t noise_output_ = 0;
  uint64_t noise_owed_ = 0;
  NoiseToggle toggle_{kNever, 0, 0};
  uint64_t to_toggle_ = kNever;

  // The envelope: ticks to its next step (kNever when unheard or frozen).
  bool envelope_heard_ = false;
  uint32_t envelope_period_ = 0;
  uint64_t to_step_ = kNever;

  // The output: each channel's share, the frame they make, the resampler.
  int16_t out_[3] = {};
  uint32_t frame_ = 0;
  uint32_t accumulator_ = 0;

  // The ring: frames held, the band they are in, ticks counted in that band,
  // ticks to the frame that enters the next band, the drift correction.
  uint32_t frames_ = 0;
  Band band_ = Band::Middle;
  uint64_t band_ticks_ = 0;
  uint64_t to_edge_ = 0;
  int16_t drift_ = 0;
};

RUN_STEP Run::Run(Chip& chip, SampleRing& ring, uint32_t ticks, const bool tone_heard[3],
                  bool noise_heard, bool envelope_heard)
    : chip_(chip), ring_(ring), ticks_(ticks), remaining_(ticks) {
  // Changes per frame, roughly: at one or more, frame by frame is cheaper.
  double changes_per_frame = 0;
  constexpr double kTicksPerFrame = static_cast<double>(kClock) / kRate;
  for_each_channel([&](size_t i) {
    const ToneChannel& channel = chip.channels[i];
    tone_period_[i] = channel.period;
    tone_from_zero_[i] = channel.counter == 0;
    flip_[i] = channel.flip_flop;
    amplitude_[i] = channel.amplitude;
    gate_[i] = ChannelGate(channel, chip.noise);
    tone_due_[i] = tone_heard[i] ? std::max<uint32_t>(channel.counter, 1) : kNever;
    if (tone_heard[i]) changes_per_frame += kTicksPerFrame / channel.period;
  });
  noise_output_ = static_cast<uint8_t>(chip.noise.output != 0);
  if (noise_heard) {
    noise_ = &chip.noise;
    toggle_ = next_toggle(chip.noise);
    to_toggle_ = toggle_.ticks;
    // Half the shifts toggle the output.
    changes_per_frame += kTicksPerFrame / (2.0 * chip.noise.period);
  }
  envelope_heard_ = envelope_heard && chip.envelope.period != 0;
  envelope_period_ = chip.envelope.period;
  if (envelope_heard_) {
    to_step_ = envelope_period_ - chip.envelope.counter;
    changes_per_frame += kTicksPerFrame / envelope_period_;
  }
  frame_by_frame_ = changes_per_frame >= 1.0;
  for_each_channel([&](size_t i) { out_[i] = channel_out(i); });
  frame_ = pack();
  accumulator_ = chip.accumulator;
  frames_ = ring.fill_level() / 4;
  band_ = SampleRing::band_of(frames_ * 4);
  drift_ = ring.drift_correction();
  to_edge_ = ticks_to_frame(accumulator_, next_band_edge(frames_) - frames_);
}

RUN_STEP uint64_t Run::until_other_change() const {
  uint64_t ticks = std::min<uint64_t>(remaining_, to_edge_);
  ticks = std::min(ticks, std::min(tone_due_[0], std::min(tone_due_[1], tone_due_[2])));
  return std::min(ticks, to_step_);
}

RUN_STEP void Run::pass(uint64_t spent) {
  remaining_ -= static_cast<uint32_t>(spent);
  to_edge_ -= spent;
  band_ticks_ += spent;
}

RUN_STEP void Run::emit_stretch(uint64_t length) {
  // The frames that fall due in the first length - 1 ticks: all the current
  // frame. 44100 x (2^32 - 1) still fits in 64 bits.
  const uint64_t sum = accumulator_ + kRate * (length - 1);
  const uint32_t due = static_cast<uint32_t>(sum / kClock);
  accumulator_ = static_cast<uint32_t>(sum - due * kClock);
  if (due != 0) {
    ring_.push_repeated(frame_, due);
    frames_ += due;
  }
}

RUN_STEP void Run::resample_last_tick() {
  accumulator_ += Chip::kFrameRate;
  if (accumulator_ >= Chip::kChipClock) {
    accumulator_ -= Chip::kChipClock;
    ring_.push_frame(frame_);
    ++frames_;
  }
}

// Each advance_*() moves one generator on by `ticks` and tells whether it
// changed what the mixer hears on the last of them or before.
RUN_STEP bool Run::advance_tone(size_t i, uint64_t ticks) {
  if (tone_due_[i] > ticks) {
    tone_due_[i] -= ticks;
    return false;
  }
  ticks -= tone_due_[i];
  flip_[i] ^= 1u;
  uint64_t next = tone_period_[i] - (tone_from_zero_[i] ? 1u : 0u);
  tone_from_zero_[i] = false;
  for (; next <= ticks; next = tone_period_[i]) {
    ticks -= next;
    flip_[i] ^= 1u;
  }
  tone_due_[i] = next - ticks;
  return true;
}

RUN_STEP bool Run::advance_noise(uint64_t ticks) {
  if (noise_ == nullptr) return false;
  bool changed = false;
  for (; to_toggle_ <= ticks; changed = true) {
    ticks -= to_toggle_;
    noise_->shift_register = toggle_.shift_register;
    noise_->counter = toggle_.counter;
    noise_->shift();
    noise_owed_ = 0;
    noise_output_ = static_cast<uint8_t>(noise_->output != 0);
    toggle_ = next_toggle(*noise_);
    to_toggle_ = toggle_.ticks;
  }
  to_toggle_ -= ticks;
  noise_owed_ += ticks;
  return changed;
}

RUN_STEP bool Run::advance_envelope(uint64_t ticks) {
  if (to_step_ > ticks) {
    to_step_ -= ticks;
    return false;
  }
  const uint64_t start = ticks_ - remaining_;
  uint64_t left = ticks;
  while (to_step_ <= left) {
    left -= to_step_;
    chip_.envelope.counter = 0;
    chip_.advance_envelope_level();
    // The step rewrote the amplitudes of the channels that follow it.
    for_each_channel([&](size_t i) {
      if (chip_.channels[i].envelope_mode != 0)
        amplitude_[i] = chip_.channels[i].amplitude;
    });
    to_step_ = envelope_period_;
    if (chip_.envelope.direction == 0) {
      // Holding: its steps change nothing until a restart.
      to_step_ = kNever;
      envelope_held = true;
      hold_tick = start + ticks - left;
    }
  }
  to_step_ -= left;
  return true;
}

RUN_STEP void Run::advance(uint64_t ticks) {
  // The order of Chip::tick(): envelope, tones, noise. Only the channels a
  // change reaches are mixed again.
  bool changed = false;
  if (advance_envelope(ticks)) {
    for_each_channel([&](size_t i) { out_[i] = channel_out(i); });
    changed = true;
  }
  // Written out per channel: a loop here costs more than the checks.
  const bool tone_a = advance_tone(0, ticks);
  const bool tone_b = advance_tone(1, ticks);
  const bool tone_c = advance_tone(2, ticks);
  if (tone_a | tone_b | tone_c) {
    if (tone_a) out_[0] = channel_out(0);
    if (tone_b) out_[1] = channel_out(1);
    if (tone_c) out_[2] = channel_out(2);
    changed = true;
  }
  if (advance_noise(ticks)) {
    for_each_channel([&](size_t i) {
      if (gate_[i].noise) out_[i] = channel_out(i);
    });
    changed = true;
  }
  if (changed) frame_ = pack();
}

RUN_STEP void Run::apply_change(uint64_t length) {
  advance(length);
  resample_last_tick();
  pass(length);
}

RUN_STEP uint64_t Run::run_noise_toggles(uint64_t others) {
  // Only the channels that take the noise differ between the two frames.
  int16_t by_level[2][3] = {{out_[0], out_[1], out_[2]}, {out_[0], out_[1], out_[2]}};
  uint32_t framed[2];
  for (uint8_t level = 0; level < 2; ++level) {
    noise_output_ = level;
    for_each_channel([&](size_t i) {
      if (gate_[i].noise) by_level[level][i] = channel_out(i);
    });
    framed[level] = SampleRing::pack_frame(
        static_cast<int16_t>(by_level[level][0] + by_level[level][1]),
        static_cast<int16_t>(by_level[level][1] + by_level[level][2]));
  }
  NoiseGenerator& noise = *noise_;
  uint64_t spent = 0;
  do {
    emit_stretch(to_toggle_);
    // The toggle's tick: the tones and the envelope are not due.
    noise.shift_register = toggle_.shift_register;
    noise.counter = toggle_.counter;
    noise.shift();
    frame_ = framed[noise.output & 1u];
    resample_last_tick();
    spent += to_toggle_;
    others -= to_toggle_;
    toggle_ = next_toggle(noise);
    to_toggle_ = toggle_.ticks;
  } while (to_toggle_ < others);
  noise_owed_ = 0;
  noise_output_ = static_cast<uint8_t>(noise.output & 1u);
  for_each_channel([&](size_t i) {
    out_[i] = by_level[noise_output_][i];
    tone_due_[i] -= spent;
  });
  pass(spent);
  to_step_ -= spent;
  return others;  // until_other_change() from here
}

RUN_STEP void Run::run_frames(uint64_t span) {
  // Due frame to due frame: the generators' state on a frame's tick is all
  // that the frame shows of them.
  uint64_t to_frame = ticks_to_frame(accumulator_, 1);
  while (to_frame <= span) {
    advance(to_frame);
    accumulator_ = static_cast<uint32_t>(accumulator_ + kRate * to_frame - kClock);
    ring_.push_frame(frame_);
    ++frames_;
    pass(to_frame);
    span -= to_frame;
    to_frame = ticks_after_frame(accumulator_);
  }
  advance(span);
  accumulator_ += static_cast<uint32_t>(kRate * span);
  pass(span);
}

RUN_STEP bool Run::cross_band_edge() {
  // This tick's frame moved the fill level into the next band: the tick
  // itself already counts there.
  drift_ = apply_feedback(band_, band_ticks_ - 1, drift_);
  band_ = SampleRing::band_of(frames_ * 4);
  band_ticks_ = 1;
  if (band_ == Band::High) return false;
  to_edge_ = ticks_to_frame(accumulator_, next_band_edge(frames_) - frames_);
  return true;
}

RUN_STEP void Run::go() {
  if (frame_by_frame_) {
    do {
      run_frames(std::min<uint64_t>(remaining_, to_edge_));
    } while ((to_edge_ != 0 || cross_band_edge()) && remaining_ != 0);
    return;
  }
  while (remaining_ != 0) {
    // Unheard noise never toggles (kNever), so only heard noise gets here.
    uint64_t others = until_other_change();
    if (to_toggle_ < others) others = run_noise_toggles(others);
    const uint64_t length = std::min(others, to_toggle_);
    emit_stretch(length);
    apply_change(length);
    if (to_edge_ == 0 && !cross_band_edge()) break;
  }
}

RUN_STEP void Run::store(const bool tone_heard[3]) {
  // A heard tone's counter is its ticks to the next flip: a counter of 0 or
  // 1 flipped on the first tick, leaving one of at least 7.
  chip_.accumulator = accumulator_;
  for_each_channel([&](size_t i) {
    chip_.channels[i].flip_flop = flip_[i];
    if (tone_heard[i]) chip_.channels[i].counter = static_cast<uint16_t>(tone_due_[i]);
  });
  if (noise_ != nullptr) {
    shift_noise(noise_, run_countdown(&noise_->counter, noise_->period, noise_owed_));
  }
  if (envelope_heard_ && !envelope_held) {
    chip_.envelope.counter = envelope_period_ - static_cast<uint32_t>(to_step_);
  }
  ring_.set_drift_correction(apply_feedback(band_, band_ticks_, drift_));
  ring_.set_ring_state(SampleRing::state_of(band_));
}

}  // namespace

uint32_t StretchEngine::run(uint32_t ticks) {
  // A local object whose address never escapes: the compiler may keep its
  // fields in registers across the stores into the ring.
  Run run(chip_, ring_, ticks, tone_heard_, noise_heard_, envelope_heard_);
  run.go();
  run.store(tone_heard_);
  const uint64_t elapsed = ticks - run.remaining();
  now_ += elapsed;
  if (run.envelope_held) {
    // The counter stopped at 0 on the step that made it hold; it runs on from
    // there, unheard, as from a restart.
    envelope_heard_ = false;
    envelope_synced_at_ = now_ - (elapsed - run.hold_tick);
  }
  return static_cast<uint32_t>(elapsed);
}
