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
  uint32_t shift_register = static_cast<uint32_t>(state);
  uint64_t output = (state >> 32) & 1u;
  output ^= shift_register & 1u;
  shift_register <<= 1;
  if (shift_register & 0x80000000u) shift_register ^= 0x08000001u;
  return shift_register | (output << 32);
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
    shift_register <<= 1;
    if (shift_register & 0x80000000u) shift_register ^= 0x08000001u;
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

void StretchEngine::apply_feedback(Band band, uint64_t ticks, int* drift) const {
  if (ticks == 0) return;
  const auto clamp = [](int64_t value) {
    return static_cast<int>(
        std::clamp<int64_t>(value, -SampleRing::kDriftLimit, SampleRing::kDriftLimit));
  };
  // The first update clamps exactly as one adjustment does; after it the
  // value is in range and the rest move it one way until it pins.
  const int64_t rest = static_cast<int64_t>(ticks - 1);
  switch (band) {
    case Band::Empty:  // counted as low (-5), then as empty (-10)
      *drift = clamp(clamp(*drift - 5) - 10);
      *drift = clamp(*drift - 15 * rest);
      break;
    case Band::Low:
      *drift = clamp(*drift - 5);
      *drift = clamp(*drift - 5 * rest);
      break;
    case Band::High:
      *drift = clamp(*drift + 5);
      *drift = clamp(*drift + 5 * rest);
      break;
    case Band::Middle:
      // Decays toward 0 by 5, then by 1: at most a few dozen steps matter.
      for (uint64_t i = 0; i < ticks && *drift != 0; ++i) {
        if (*drift < -5) {
          *drift += 5;
        } else if (*drift < 0) {
          *drift += 1;
        } else if (*drift <= 5) {
          *drift -= 1;
        } else {
          *drift -= 5;
        }
      }
      break;
  }
}

uint32_t StretchEngine::run(uint32_t ticks) {
  Chip& chip = chip_;
  const auto band_of = [](uint32_t frames) {
    if (frames == 0) return Band::Empty;
    if (frames < kLowFrames) return Band::Low;
    if (frames <= kHighFrames) return Band::Middle;
    return Band::High;
  };
  // Far beyond any run: a generator that never acts within one.
  constexpr uint64_t kNever = uint64_t{1} << 62;

  uint32_t frames = ring_.fill_level() / 4;
  Band band = band_of(frames);
  uint64_t band_ticks = 0;
  int drift = ring_.drift_correction();
  uint32_t accumulator = chip.accumulator;
  // Ticks until the frame that takes the fill level into the next band.
  uint64_t to_edge = ticks_to_frame(accumulator, next_band_edge(frames) - frames);

  // The loop works on copies of the state it changes, in locals the compiler
  // can keep in registers (stores into the ring's byte storage may alias any
  // memory), and writes them back at the end. What is heard cannot change
  // inside a run, only at writes.
  //
  // Per channel: ticks until its flip-flop flips (kNever when unheard), the
  // period it reloads with, and what its gates do.
  uint64_t tone_due[3];
  uint32_t tone_period[3];
  uint8_t flip[3];
  int16_t amplitude[3];
  bool gate_always[3];  // tone enabled with period 0: the gate stays open
  bool gate_tone[3];    // tone enabled with a period: the flip-flop opens it
  bool gate_noise[3];   // noise enabled and running: its output opens it
  for (size_t i = 0; i < 3; ++i) {
    const ToneChannel& channel = chip.channels[i];
    tone_period[i] = channel.period;
    flip[i] = channel.flip_flop;
    amplitude[i] = channel.amplitude;
    gate_always[i] = channel.tone_enable != 0 && channel.period == 0;
    gate_tone[i] = channel.tone_enable != 0 && channel.period != 0;
    gate_noise[i] = channel.noise_enable != 0 && chip.noise.period != 0;
    tone_due[i] = tone_heard_[i] ? std::max<uint32_t>(channel.counter, 1) : kNever;
  }
  // A counter of 0 reloads one tick early the first time.
  bool tone_from_zero[3] = {chip.channels[0].counter == 0, chip.channels[1].counter == 0,
                            chip.channels[2].counter == 0};

  // Heard noise runs only at the shifts that toggle its output; the ticks in
  // between are owed to it and paid on those shifts and at the end.
  NoiseGenerator* const noise = noise_heard_ ? &chip.noise : nullptr;
  uint8_t noise_output = static_cast<uint8_t>(chip.noise.output != 0);
  uint64_t noise_owed = 0;
  NoiseToggle toggle{kNever, 0, 0};
  if (noise != nullptr) toggle = next_toggle(*noise);
  uint64_t to_toggle = toggle.ticks;

  // The envelope: ticks until its next step, kNever when unheard or frozen.
  const bool envelope_heard = envelope_heard_ && chip.envelope.period != 0;
  const uint32_t envelope_period = chip.envelope.period;
  uint64_t to_step = envelope_heard ? envelope_period - chip.envelope.counter : kNever;
  bool envelope_held = false;
  uint64_t hold_tick = 0;  // ticks into the run at which it began to hold

  // One channel's share of the mix, as Chip::contribution() gives it.
  const auto channel_out = [&](size_t i) {
    const bool open = gate_always[i] || (gate_tone[i] && flip[i] != 0) ||
                      (gate_noise[i] && noise_output != 0);
    return open ? amplitude[i] : static_cast<int16_t>(-amplitude[i]);
  };
  int16_t out[3] = {channel_out(0), channel_out(1), channel_out(2)};
  const auto pack = [&] {
    return SampleRing::pack_frame(static_cast<int16_t>(out[0] + out[1]),
                                  static_cast<int16_t>(out[1] + out[2]));
  };
  uint32_t frame = pack();  // the current frame, repacked after each change

  uint32_t remaining = ticks;
  while (remaining != 0) {
    // The stretch ends on the first tick at which anything heard changes.
    uint64_t length = std::min<uint64_t>(remaining, to_edge);
    length = std::min(length, std::min(tone_due[0], std::min(tone_due[1], tone_due[2])));
    length = std::min(length, std::min(to_toggle, to_step));

    // Every tick but the last changes nothing but counters: its frames are
    // all the current frame. 44100 x (2^32 - 1) still fits in 64 bits.
    const uint64_t sum = accumulator + kRate * (length - 1);
    const uint32_t due = static_cast<uint32_t>(sum / kClock);
    accumulator = static_cast<uint32_t>(sum - due * kClock);
    if (due != 0) {
      ring_.push_repeated(frame, due);
      frames += due;
    }

    // The last tick, as Chip::tick() runs it: envelope, tones, noise, frame.
    bool changed = false;
    to_step -= length;
    if (to_step == 0) {
      chip.envelope.counter = 0;
      chip.advance_envelope_level();
      for (size_t i = 0; i < 3; ++i) {
        amplitude[i] = chip.channels[i].amplitude;
        out[i] = channel_out(i);
      }
      changed = true;
      to_step = envelope_period;
      if (chip.envelope.direction == 0) {
        // Holding: its steps change nothing until a restart.
        to_step = kNever;
        envelope_held = true;
        hold_tick = ticks - remaining + length;
      }
    }
    for (size_t i = 0; i < 3; ++i) {
      tone_due[i] -= length;
      if (tone_due[i] == 0) {
        flip[i] ^= 1u;
        tone_due[i] = tone_period[i] - (tone_from_zero[i] ? 1u : 0u);
        tone_from_zero[i] = false;
        out[i] = channel_out(i);
        changed = true;
      }
    }
    if (noise != nullptr) {
      noise_owed += length;
      to_toggle -= length;
      if (to_toggle == 0) {
        noise->shift_register = toggle.shift_register;
        noise->counter = toggle.counter;
        noise->shift();
        noise_owed = 0;
        noise_output = static_cast<uint8_t>(noise->output != 0);
        toggle = next_toggle(*noise);
        to_toggle = toggle.ticks;
        for (size_t i = 0; i < 3; ++i) {
          if (gate_noise[i]) out[i] = channel_out(i);
        }
        changed = true;
      }
    }
    if (changed) frame = pack();
    accumulator += Chip::kFrameRate;
    if (accumulator >= Chip::kChipClock) {
      accumulator -= Chip::kChipClock;
      ring_.push_frame(frame);
      ++frames;
    }

    remaining -= static_cast<uint32_t>(length);
    to_edge -= length;
    band_ticks += length;
    if (to_edge == 0) {
      // This tick's frame moved the fill level into the next band: the tick
      // itself already counts there.
      apply_feedback(band, band_ticks - 1, &drift);
      band = band_of(frames);
      band_ticks = 1;
      if (band == Band::High) break;
      to_edge = ticks_to_frame(accumulator, next_band_edge(frames) - frames);
    }
  }

  // Back into the chip. A heard tone's counter is its ticks to the next flip:
  // a counter of 0 or 1 flipped on the first tick, leaving one of at least 7.
  const uint64_t elapsed = ticks - remaining;
  chip.accumulator = accumulator;
  for (size_t i = 0; i < 3; ++i) {
    chip.channels[i].flip_flop = flip[i];
    if (tone_heard_[i]) chip.channels[i].counter = static_cast<uint16_t>(tone_due[i]);
  }
  if (noise != nullptr) {
    shift_noise(noise, run_countdown(&noise->counter, noise->period, noise_owed));
  }
  if (envelope_heard && !envelope_held) {
    chip.envelope.counter = envelope_period - static_cast<uint32_t>(to_step);
  }
  now_ += elapsed;
  if (envelope_held) {
    // The counter stopped at 0 on the step that made it hold; it runs on from
    // there, unheard, as from a restart.
    envelope_heard_ = false;
    envelope_synced_at_ = now_ - (elapsed - hold_tick);
  }

  apply_feedback(band, band_ticks, &drift);
  ring_.set_drift_correction(static_cast<int16_t>(drift));
  static constexpr int16_t kStates[] = {SampleRing::kStateEmpty, SampleRing::kStateLow,
                                        SampleRing::kStateMiddle, SampleRing::kStateHigh};
  ring_.set_ring_state(kStates[static_cast<int>(band)]);
  return static_cast<uint32_t>(elapsed);
}
