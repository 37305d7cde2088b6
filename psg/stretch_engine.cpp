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
  const uint32_t counter = noise.counter;
  const uint64_t first = counter > 1 ? counter : 1;
  // The first shift reloads from a counter of 1 (or 0), the rest from 1.
  const uint32_t after_first = noise.period + (counter == 0 ? 0u : 1u) - 1;
  if (shifts == 1) {
    toggle.ticks = first;
    toggle.counter = static_cast<uint16_t>(after_first);
  } else {
    toggle.ticks = first + after_first + uint64_t{shifts - 2} * noise.period;
    toggle.counter = noise.period;
  }
  return toggle;
}

// The tick on which the j-th frame from now falls due (j >= 1): the first
// tick t with accumulator + 44100 t >= j x 1000000.
uint64_t ticks_to_frame(uint32_t accumulator, uint32_t j) {
  return (j * kClock - accumulator + kRate - 1) / kRate;
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

// How a run goes. Between two changes the mixer's output is constant, so a
// run is a series of stretches, each ending on the tick of the next change:
//
//   1. until_change(): the nearest of the next flip of a heard tone, the next
//      toggle of heard noise (a shift that finds bit 0 set), the next step
//      of a followed envelope, the frame that takes the ring's fill level
//      into another band, and the end of the run;
//   2. emit_stretch(): every frame due before that tick is the current frame;
//   3. apply_change(): that tick, as Chip::tick() runs it (envelope, tones,
//      noise, then the frame due on it, if any);
//   4. cross_band_edge(): at a band edge, the feedback of the band left is
//      settled; the run ends when the ring asks for a flush.
//
// Noise toggling before anything else can change (drums) takes a shortcut,
// run_noise_toggles(): only the channels that take the noise change there,
// between two frames worked out once.
//
// The run works on copies of the state it changes, which the compiler can
// keep in registers (stores into the ring's storage may alias any memory);
// load() takes them from the chip and the ring and store() puts them back.
// What is heard cannot change inside a run, only at writes.
struct StretchEngine::Run {
  uint32_t ticks = 0;      // asked for
  uint32_t remaining = 0;  // not run yet

  // Per channel: ticks until its flip-flop flips (kNever when unheard), the
  // period it reloads with, whether the next reload comes from a counter of
  // 0 (one tick early), and the gate and amplitude that give its output.
  uint64_t tone_due[3] = {};
  uint32_t tone_period[3] = {};
  bool tone_from_zero[3] = {};
  uint8_t flip[3] = {};
  int16_t amplitude[3] = {};
  ChannelGate gate[3];

  // Heard noise runs only at the shifts that toggle its output; the ticks in
  // between are owed to it and paid on those shifts and at the end.
  NoiseGenerator* noise = nullptr;  // null when unheard
  uint8_t noise_output = 0;
  uint64_t noise_owed = 0;
  NoiseToggle toggle{kNever, 0, 0};
  uint64_t to_toggle = kNever;

  // The envelope: ticks to its next step (kNever when unheard or frozen),
  // and the tick into the run at which it began to hold, if it did.
  bool envelope_heard = false;
  uint32_t envelope_period = 0;
  uint64_t to_step = kNever;
  bool envelope_held = false;
  uint64_t hold_tick = 0;

  // The output: each channel's share, the frame they make, the resampler.
  int16_t out[3] = {};
  uint32_t frame = 0;
  uint32_t accumulator = 0;

  // The ring: frames held, the band they are in, ticks counted in that band,
  // ticks to the frame that enters the next band, the drift correction.
  uint32_t frames = 0;
  Band band = Band::Middle;
  uint64_t band_ticks = 0;
  uint64_t to_edge = 0;
  int16_t drift = 0;

  int16_t channel_out(size_t i) const {
    return gate[i].output(amplitude[i], flip[i], noise_output);
  }
  uint32_t pack() const {
    return SampleRing::pack_frame(static_cast<int16_t>(out[0] + out[1]),
                                  static_cast<int16_t>(out[1] + out[2]));
  }
  // Ticks to the nearest change other than the noise's.
  uint64_t until_other_change() const {
    uint64_t ticks_left = std::min<uint64_t>(remaining, to_edge);
    ticks_left =
        std::min(ticks_left, std::min(tone_due[0], std::min(tone_due[1], tone_due[2])));
    return std::min(ticks_left, to_step);
  }
  // Moves every countdown on by ticks that changed nothing they count to.
  void pass(uint64_t spent) {
    remaining -= static_cast<uint32_t>(spent);
    to_edge -= spent;
    band_ticks += spent;
    for (uint64_t& due : tone_due) due -= spent;
    to_step -= spent;
  }
};

void StretchEngine::load(Run& run) const {
  const Chip& chip = chip_;
  run.remaining = run.ticks;
  for (size_t i = 0; i < 3; ++i) {
    const ToneChannel& channel = chip.channels[i];
    run.tone_period[i] = channel.period;
    run.tone_from_zero[i] = channel.counter == 0;
    run.flip[i] = channel.flip_flop;
    run.amplitude[i] = channel.amplitude;
    run.gate[i] = ChannelGate(channel, chip.noise);
    run.tone_due[i] = tone_heard_[i] ? std::max<uint32_t>(channel.counter, 1) : kNever;
  }
  run.noise_output = static_cast<uint8_t>(chip.noise.output != 0);
  if (noise_heard_) {
    run.noise = &chip_.noise;
    run.toggle = next_toggle(chip.noise);
    run.to_toggle = run.toggle.ticks;
  }
  run.envelope_heard = envelope_heard_ && chip.envelope.period != 0;
  run.envelope_period = chip.envelope.period;
  if (run.envelope_heard) run.to_step = run.envelope_period - chip.envelope.counter;
  for (size_t i = 0; i < 3; ++i) run.out[i] = run.channel_out(i);
  run.frame = run.pack();
  run.accumulator = chip.accumulator;
  run.frames = ring_.fill_level() / 4;
  run.band = SampleRing::band_of(run.frames * 4);
  run.drift = ring_.drift_correction();
  run.to_edge = ticks_to_frame(run.accumulator, next_band_edge(run.frames) - run.frames);
}

void StretchEngine::emit_stretch(Run& run, uint64_t length) {
  // The frames that fall due in the first length - 1 ticks: all the current
  // frame. 44100 x (2^32 - 1) still fits in 64 bits.
  const uint64_t sum = run.accumulator + kRate * (length - 1);
  const uint32_t due = static_cast<uint32_t>(sum / kClock);
  run.accumulator = static_cast<uint32_t>(sum - due * kClock);
  if (due != 0) {
    ring_.push_repeated(run.frame, due);
    run.frames += due;
  }
}

void StretchEngine::resample_last_tick(Run& run) {
  run.accumulator += Chip::kFrameRate;
  if (run.accumulator >= Chip::kChipClock) {
    run.accumulator -= Chip::kChipClock;
    ring_.push_frame(run.frame);
    ++run.frames;
  }
}

void StretchEngine::run_noise_toggles(Run& run, uint64_t others) {
  // Only the channels that take the noise differ between the two frames.
  int16_t by_level[2][3] = {{run.out[0], run.out[1], run.out[2]},
                            {run.out[0], run.out[1], run.out[2]}};
  uint32_t framed[2];
  for (uint8_t level = 0; level < 2; ++level) {
    run.noise_output = level;
    for (size_t i = 0; i < 3; ++i) {
      if (run.gate[i].noise) by_level[level][i] = run.channel_out(i);
    }
    framed[level] = SampleRing::pack_frame(
        static_cast<int16_t>(by_level[level][0] + by_level[level][1]),
        static_cast<int16_t>(by_level[level][1] + by_level[level][2]));
  }
  NoiseGenerator& noise = *run.noise;
  uint64_t spent = 0;
  do {
    emit_stretch(run, run.to_toggle);
    // The toggle's tick: the tones and the envelope are not due.
    noise.shift_register = run.toggle.shift_register;
    noise.counter = run.toggle.counter;
    noise.shift();
    run.frame = framed[noise.output & 1u];
    resample_last_tick(run);
    spent += run.to_toggle;
    others -= run.to_toggle;
    run.toggle = next_toggle(noise);
    run.to_toggle = run.toggle.ticks;
  } while (run.to_toggle < others);
  run.noise_owed = 0;
  run.noise_output = static_cast<uint8_t>(noise.output & 1u);
  for (size_t i = 0; i < 3; ++i) run.out[i] = by_level[run.noise_output][i];
  run.pass(spent);
}

void StretchEngine::apply_change(Run& run, uint64_t length) {
  Chip& chip = chip_;
  bool changed = false;
  run.to_step -= length;
  if (run.to_step == 0) {
    chip.envelope.counter = 0;
    chip.advance_envelope_level();
    // The step rewrote the amplitudes of the channels that follow it.
    for (size_t i = 0; i < 3; ++i) {
      if (chip.channels[i].envelope_mode == 0) continue;
      run.amplitude[i] = chip.channels[i].amplitude;
      run.out[i] = run.channel_out(i);
    }
    changed = true;
    run.to_step = run.envelope_period;
    if (chip.envelope.direction == 0) {
      // Holding: its steps change nothing until a restart.
      run.to_step = kNever;
      run.envelope_held = true;
      run.hold_tick = run.ticks - run.remaining + length;
    }
  }
  for (size_t i = 0; i < 3; ++i) {
    run.tone_due[i] -= length;
    if (run.tone_due[i] != 0) continue;
    run.flip[i] ^= 1u;
    run.tone_due[i] = run.tone_period[i] - (run.tone_from_zero[i] ? 1u : 0u);
    run.tone_from_zero[i] = false;
    run.out[i] = run.channel_out(i);
    changed = true;
  }
  if (run.noise != nullptr) {
    run.noise_owed += length;
    run.to_toggle -= length;
    if (run.to_toggle == 0) {
      NoiseGenerator& noise = *run.noise;
      noise.shift_register = run.toggle.shift_register;
      noise.counter = run.toggle.counter;
      noise.shift();
      run.noise_owed = 0;
      run.noise_output = static_cast<uint8_t>(noise.output != 0);
      run.toggle = next_toggle(noise);
      run.to_toggle = run.toggle.ticks;
      for (size_t i = 0; i < 3; ++i) {
        if (run.gate[i].noise) run.out[i] = run.channel_out(i);
      }
      changed = true;
    }
  }
  if (changed) run.frame = run.pack();
  resample_last_tick(run);
  run.remaining -= static_cast<uint32_t>(length);
  run.to_edge -= length;
  run.band_ticks += length;
}

bool StretchEngine::cross_band_edge(Run& run) {
  // This tick's frame moved the fill level into the next band: the tick
  // itself already counts there.
  run.drift = apply_feedback(run.band, run.band_ticks - 1, run.drift);
  run.band = SampleRing::band_of(run.frames * 4);
  run.band_ticks = 1;
  if (run.band == Band::High) return false;
  run.to_edge = ticks_to_frame(run.accumulator, next_band_edge(run.frames) - run.frames);
  return true;
}

void StretchEngine::store(Run& run) {
  Chip& chip = chip_;
  // A heard tone's counter is its ticks to the next flip: a counter of 0 or
  // 1 flipped on the first tick, leaving one of at least 7.
  const uint64_t elapsed = run.ticks - run.remaining;
  chip.accumulator = run.accumulator;
  for (size_t i = 0; i < 3; ++i) {
    chip.channels[i].flip_flop = run.flip[i];
    if (tone_heard_[i]) chip.channels[i].counter = static_cast<uint16_t>(run.tone_due[i]);
  }
  if (run.noise != nullptr) {
    shift_noise(run.noise,
                run_countdown(&run.noise->counter, run.noise->period, run.noise_owed));
  }
  if (run.envelope_heard && !run.envelope_held) {
    chip.envelope.counter = run.envelope_period - static_cast<uint32_t>(run.to_step);
  }
  now_ += elapsed;
  if (run.envelope_held) {
    // The counter stopped at 0 on the step that made it hold; it runs on from
    // there, unheard, as from a restart.
    envelope_heard_ = false;
    envelope_synced_at_ = now_ - (elapsed - run.hold_tick);
  }
  ring_.set_drift_correction(apply_feedback(run.band, run.band_ticks, run.drift));
  ring_.set_ring_state(SampleRing::state_of(run.band));
}

uint32_t StretchEngine::run(uint32_t ticks) {
  Run run;
  run.ticks = ticks;
  load(run);
  while (run.remaining != 0) {
    if (run.noise != nullptr) {
      const uint64_t others = run.until_other_change();
      if (run.to_toggle < others) run_noise_toggles(run, others);
    }
    const uint64_t length = std::min(run.until_other_change(), run.to_toggle);
    emit_stretch(run, length);
    apply_change(run, length);
    if (run.to_edge == 0 && !cross_band_edge(run)) break;
  }
  store(run);
  return ticks - run.remaining;
}
