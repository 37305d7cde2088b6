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

// Ticks from a frame that has just fallen due (the accumulator then below
// 44100) to the next, without a division: 22 ticks from an accumulator of
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

// How a run goes. Each generator's next change is kept as the tick of the run
// on which it comes (kNever when it cannot come), and so are the run's end
// and the frame that takes the ring's fill level into another band. Between
// two changes the mixer's output is constant, so a run is a series of
// stretches, each ending on the tick of the next change:
//
//   1. run_stretches(): the nearest of the next flip of a heard tone, the
//      next toggle of heard noise (a shift that finds bit 0 set), the next
//      step of a followed envelope, the band edge and the end of the run;
//   2. fill(): every frame due before that tick is the current frame;
//   3. advance_to(): that tick, as Chip::tick() runs it (envelope, tones,
//      noise), then the frame due on it, if any (step_to() does 2 and 3);
//   4. cross_band_edge(): at a band edge, the feedback of the band left is
//      settled; the run ends when the ring asks for a flush.
//
// Two shortcuts. Noise toggling before anything else can change (drums)
// runs in run_noise_toggles(): only the channels that take the noise change
// there, between two frames worked out once. And where changes come about as
// often as frames or more (fast noise, high tones, a fast envelope), stretches
// would be shorter than a frame: run_frames() then goes from due frame to due
// frame, moving every generator on to each with the same advance_to().
//
// The run works on copies of the state it changes, which the compiler can
// keep in registers (stores into the ring's storage may alias any memory):
// the constructor loads them from the chip and the ring and store() puts them
// back. What is heard cannot change inside a run, only at writes.
class Run {
 public:
  Run(Chip& chip, SampleRing& ring, uint32_t ticks, const bool tone_heard[3],
      bool noise_heard, bool envelope_heard);
  uint32_t remaining() const { return static_cast<uint32_t>(end_ - now_); }
  // Runs stretch after stretch (or frame after frame) until the ticks are
  // used up or the ring asks for a flush.
  void go();
  // Puts the state back into the chip and the ring.
  void store(const bool tone_heard[3]);

  // Set when the envelope began to hold during the run, on tick hold_tick.
  bool envelope_held = false;
  uint64_t hold_tick = 0;

 private:
  // Frames due from the run's first tick through `tick`.
  uint64_t frames_through(uint64_t tick) const {
    return (start_accumulator_ + kRate * tick) / kClock;
  }
  // The tick on which the run's j-th frame falls due (j >= 1).
  uint64_t frame_tick(uint64_t j) const {
    return (j * kClock - start_accumulator_ + kRate - 1) / kRate;
  }
  void fill(uint64_t count);
  bool advance_tone(size_t i, uint64_t tick);
  bool advance_noise(uint64_t tick);
  bool advance_envelope(uint64_t tick);
  void advance_to(uint64_t tick);
  void step_to(uint64_t tick);
  void run_noise_toggles(uint64_t others);
  void run_stretches(uint64_t stop);
  void run_frames(uint64_t stop);
  bool cross_band_edge();
  int16_t channel_out(size_t i) const {
    return gate_[i].output(amplitude_[i], flip_[i], noise_output_);
  }
  uint32_t pack() const {
    return SampleRing::pack_frame(static_cast<int16_t>(out_[0] + out_[1]),
                                  static_cast<int16_t>(out_[1] + out_[2]));
  }

  Chip& chip_;
  SampleRing& ring_;
  uint64_t now_ = 0;  // ticks run
  uint64_t end_ = 0;  // ticks asked for
  bool frame_by_frame_ = false;

  // Per channel: the tick of its flip-flop's next flip (kNever when
  // unheard), the ticks to the flip after that (one less than the period
  // for a counter that starts from 0), the period, and the gate and
  // amplitude that give its output.
  uint64_t flip_at_[3] = {};
  uint32_t reload_[3] = {};
  uint32_t tone_period_[3] = {};
  uint8_t flip_[3] = {};
  int16_t amplitude_[3] = {};
  ChannelGate gate_[3];

  // Heard noise runs only at the shifts that toggle its output; the ticks
  // since the last of them are owed to it and paid at the end.
  NoiseGenerator* noise_ = nullptr;  // null when unheard
  uint8_t noise_output_ = 0;
  uint64_t toggled_at_ = 0;
  NoiseToggle toggle_{kNever, 0, 0};
  uint64_t toggle_at_ = kNever;

  // The envelope: the tick of its next step (kNever when unheard or frozen).
  bool envelope_heard_ = false;
  uint32_t envelope_period_ = 0;
  uint64_t step_at_ = kNever;

  // The output: each channel's share and the frame they make; the frames put
  // into the ring so far, all those due through now_.
  int16_t out_[3] = {};
  uint32_t frame_ = 0;
  uint32_t start_accumulator_ = 0;
  uint64_t put_ = 0;

  // The ring: frames held at the start, the band they are in, the tick from
  // which the ticks in the band are counted, the band edge, the drift
  // correction.
  uint32_t start_frames_ = 0;
  Band band_ = Band::Middle;
  uint64_t band_from_ = 0;
  uint64_t edge_at_ = 0;
  int16_t drift_ = 0;
};

RUN_STEP Run::Run(Chip& chip, SampleRing& ring, uint32_t ticks, const bool tone_heard[3],
                  bool noise_heard, bool envelope_heard)
    : chip_(chip), ring_(ring), end_(ticks) {
  // Changes per frame, roughly: at one or more, frame by frame is cheaper.
  double changes_per_frame = 0;
  constexpr double kTicksPerFrame = static_cast<double>(kClock) / kRate;
  for_each_channel([&](size_t i) {
    const ToneChannel& channel = chip.channels[i];
    tone_period_[i] = channel.period;
    // A counter of 0 or 1 flips on the first tick; from 0 the next reload
    // comes one tick early.
    reload_[i] = channel.period - (channel.counter == 0 ? 1u : 0u);
    flip_[i] = channel.flip_flop;
    amplitude_[i] = channel.amplitude;
    gate_[i] = ChannelGate(channel, chip.noise);
    flip_at_[i] = tone_heard[i] ? std::max<uint32_t>(channel.counter, 1) : kNever;
    if (tone_heard[i]) changes_per_frame += kTicksPerFrame / channel.period;
  });
  noise_output_ = static_cast<uint8_t>(chip.noise.output != 0);
  if (noise_heard) {
    noise_ = &chip.noise;
    toggle_ = next_toggle(chip.noise);
    toggle_at_ = toggle_.ticks;
    // Half the shifts toggle the output.
    changes_per_frame += kTicksPerFrame / (2.0 * chip.noise.period);
  }
  envelope_heard_ = envelope_heard && chip.envelope.period != 0;
  envelope_period_ = chip.envelope.period;
  if (envelope_heard_) {
    step_at_ = envelope_period_ - chip.envelope.counter;
    changes_per_frame += kTicksPerFrame / envelope_period_;
  }
  frame_by_frame_ = changes_per_frame >= 1.0;
  for_each_channel([&](size_t i) { out_[i] = channel_out(i); });
  frame_ = pack();
  start_accumulator_ = chip.accumulator;
  start_frames_ = ring.fill_level() / 4;
  band_ = SampleRing::band_of(start_frames_ * 4);
  drift_ = ring.drift_correction();
  edge_at_ = frame_tick(next_band_edge(start_frames_) - start_frames_);
}

RUN_STEP void Run::fill(uint64_t count) {
  if (count != 0) ring_.push_repeated(frame_, static_cast<uint32_t>(count));
}

// Each advance_*() moves one generator on to `tick` and tells whether it
// changed what the mixer hears on that tick or before.
RUN_STEP bool Run::advance_tone(size_t i, uint64_t tick) {
  if (flip_at_[i] > tick) return false;
  do {
    flip_[i] ^= 1u;
    flip_at_[i] += reload_[i];
    reload_[i] = tone_period_[i];
  } while (flip_at_[i] <= tick);
  return true;
}

RUN_STEP bool Run::advance_noise(uint64_t tick) {
  if (toggle_at_ > tick) return false;
  do {
    noise_->shift_register = toggle_.shift_register;
    noise_->counter = toggle_.counter;
    noise_->shift();
    toggled_at_ = toggle_at_;
    toggle_ = next_toggle(*noise_);
    toggle_at_ += toggle_.ticks;
  } while (toggle_at_ <= tick);
  noise_output_ = static_cast<uint8_t>(noise_->output != 0);
  return true;
}

RUN_STEP bool Run::advance_envelope(uint64_t tick) {
  if (step_at_ > tick) return false;
  do {
    chip_.envelope.counter = 0;
    chip_.advance_envelope_level();
    // The step rewrote the amplitudes of the channels that follow it.
    for_each_channel([&](size_t i) {
      if (chip_.channels[i].envelope_mode != 0)
        amplitude_[i] = chip_.channels[i].amplitude;
    });
    if (chip_.envelope.direction == 0) {
      // Holding: its steps change nothing until a restart.
      envelope_held = true;
      hold_tick = step_at_;
      step_at_ = kNever;
    } else {
      step_at_ += envelope_period_;
    }
  } while (step_at_ <= tick);
  return true;
}

RUN_STEP void Run::advance_to(uint64_t tick) {
  // The order of Chip::tick(): envelope, tones, noise. Only the channels a
  // change reaches are mixed again.
  bool changed = false;
  if (advance_envelope(tick)) {
    for_each_channel([&](size_t i) { out_[i] = channel_out(i); });
    changed = true;
  }
  // Written out per channel: a loop here costs more than the checks.
  const bool tone_a = advance_tone(0, tick);
  const bool tone_b = advance_tone(1, tick);
  const bool tone_c = advance_tone(2, tick);
  if (tone_a | tone_b | tone_c) {
    if (tone_a) out_[0] = channel_out(0);
    if (tone_b) out_[1] = channel_out(1);
    if (tone_c) out_[2] = channel_out(2);
    changed = true;
  }
  if (advance_noise(tick)) {
    for_each_channel([&](size_t i) {
      if (gate_[i].noise) out_[i] = channel_out(i);
    });
    changed = true;
  }
  if (changed) frame_ = pack();
}

RUN_STEP void Run::step_to(uint64_t tick) {
  // The frames due before the tick show the old state, the one due on it (if
  // any) the new.
  const uint64_t before = frames_through(tick - 1);
  fill(before - put_);
  advance_to(tick);
  put_ = frames_through(tick);
  if (put_ != before) ring_.push_frame(frame_);
  now_ = tick;
}

RUN_STEP void Run::run_noise_toggles(uint64_t others) {
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
  do {
    // The toggle's tick: the tones and the envelope are not due.
    const uint64_t tick = toggle_at_;
    const uint64_t before = frames_through(tick - 1);
    fill(before - put_);
    noise.shift_register = toggle_.shift_register;
    noise.counter = toggle_.counter;
    noise.shift();
    frame_ = framed[noise.output & 1u];
    put_ = frames_through(tick);
    if (put_ != before) ring_.push_frame(frame_);
    toggle_ = next_toggle(noise);
    toggle_at_ = tick + toggle_.ticks;
    toggled_at_ = tick;
    now_ = tick;
  } while (toggle_at_ < others);
  noise_output_ = static_cast<uint8_t>(noise.output & 1u);
  for_each_channel([&](size_t i) { out_[i] = by_level[noise_output_][i]; });
}

RUN_STEP void Run::run_stretches(uint64_t stop) {
  while (now_ != stop) {
    uint64_t others = std::min(stop, step_at_);
    others = std::min(others, std::min(flip_at_[0], std::min(flip_at_[1], flip_at_[2])));
    // Unheard noise never toggles (kNever), so only heard noise gets here.
    if (toggle_at_ < others) run_noise_toggles(others);
    step_to(std::min(others, toggle_at_));
  }
}

RUN_STEP void Run::run_frames(uint64_t stop) {
  // Due frame to due frame: the generators' state on a frame's tick is all
  // that the frame shows of them.
  uint64_t tick = frame_tick(put_ + 1);
  uint32_t accumulator = 0;
  while (tick <= stop) {
    advance_to(tick);
    ring_.push_frame(frame_);
    ++put_;
    now_ = tick;
    accumulator = static_cast<uint32_t>(start_accumulator_ + kRate * tick - kClock * put_);
    tick += ticks_after_frame(accumulator);
  }
  advance_to(stop);
  now_ = stop;
}

RUN_STEP bool Run::cross_band_edge() {
  // This tick's frame moved the fill level into the next band: the tick
  // itself already counts there.
  drift_ = apply_feedback(band_, now_ - band_from_ - 1, drift_);
  const uint32_t frames = start_frames_ + static_cast<uint32_t>(put_);
  band_ = SampleRing::band_of(frames * 4);
  band_from_ = now_ - 1;
  if (band_ == Band::High) return false;
  edge_at_ = frame_tick(next_band_edge(frames) - start_frames_);
  return true;
}

RUN_STEP void Run::go() {
  for (;;) {
    const uint64_t stop = std::min(end_, edge_at_);
    if (frame_by_frame_) {
      run_frames(stop);
    } else {
      run_stretches(stop);
    }
    if (now_ == edge_at_ && !cross_band_edge()) return;
    if (now_ == end_) return;
  }
}

RUN_STEP void Run::store(const bool tone_heard[3]) {
  // A heard tone's counter is its ticks to the next flip: a counter of 0 or
  // 1 flipped on the first tick, leaving one of at least 7.
  chip_.accumulator =
      static_cast<uint32_t>(start_accumulator_ + kRate * now_ - kClock * put_);
  for_each_channel([&](size_t i) {
    chip_.channels[i].flip_flop = flip_[i];
    if (tone_heard[i])
      chip_.channels[i].counter = static_cast<uint16_t>(flip_at_[i] - now_);
  });
  if (noise_ != nullptr) {
    shift_noise(noise_,
                run_countdown(&noise_->counter, noise_->period, now_ - toggled_at_));
  }
  if (envelope_heard_ && !envelope_held) {
    chip_.envelope.counter = envelope_period_ - static_cast<uint32_t>(step_at_ - now_);
  }
  ring_.set_drift_correction(apply_feedback(band_, now_ - band_from_, drift_));
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
