// One AY-3-8910 or YM2149 as the real chip behaves, for the studio engine
// (psg/studio_engine.h): its generators run on event times rather than tick
// by tick, and every change of the channels' output levels is handed to a
// sink with the tick it happens at.
//
// Time is the count of master-clock ticks since reset. The tone counters step
// every 8 ticks, the noise counter every 16, the envelope counter every 16
// (AY, 16 steps a cycle) or 8 (YM, 32 half-size steps a cycle); they step at
// multiples of their prescaler since reset. A counter fires when its count
// reaches the period (0 counts as 1) and starts again from 0; a period write
// does not reset the count, so a count already past the new period fires at
// the next step. Only a write to register 13 restarts the envelope.
//
// A channel's output is its level (fixed volume or envelope) gated by its tone
// and noise: (tone | tone off) & (noise | noise off). With both off it is the
// level itself. A tone whose frequency lies above `fast_tone_hz` is heard as
// its mean, half the level. An envelope whose steps come faster than
// `group_envelope_hz` shows only every g-th step, g the ratio of the two,
// which changes nothing below that frequency and spares the events. A generator nobody
// can hear (a tone that is off, silent or fast, noise no audible channel takes, an
// envelope no channel follows or one that holds) schedules nothing and is brought up to
// date in closed form when it matters again.
#pragma once

#include <bit>
#include <cstdint>

enum class ChipModel : uint8_t {
  Ay,  // AY-3-8910: 16 envelope steps, 16 levels
  Ym,  // YM2149: 32 envelope steps, 32 levels
};

// A counter that fires every `period` steps of a prescaler of `unit` ticks.
struct PeriodCounter {
  uint64_t last = 0;  // tick of the last firing (or restart)
  uint64_t next = 8;  // tick of the next firing
  uint32_t period = 1;
  uint32_t unit = 8;

  uint64_t span() const { return uint64_t{period} * unit; }
  // Fires every firing due at or before `tick`; returns how many.
  uint64_t catch_up(uint64_t tick) {
    if (next > tick) return 0;
    const uint64_t count = (tick - next) / span() + 1;
    last = next + (count - 1) * span();
    next = last + span();
    return count;
  }
  void fire() {
    last = next;
    next += span();
  }
  // A new period at `now` (after catch_up(now)); the count carries on.
  void set_period(uint32_t value, uint64_t now) {
    period = value == 0 ? 1 : value;
    const uint64_t next_step = (now / unit + 1) * unit;
    next = last + span() > next_step ? last + span() : next_step;
  }
  // Count back to 0 at the prescaler step at or before `now`.
  void restart(uint64_t now) {
    last = now / unit * unit;
    next = last + span();
  }
};

struct EnvelopeState {
  PeriodCounter counter;
  uint8_t shape = 0;
  uint8_t steps = 16;  // per cycle
  uint8_t position = 0;
  bool attack = false;
  bool holding = false;

  uint8_t level() const { return attack ? position : steps - 1 - position; }
  void step();
  // Applies `count` steps in closed form (bounded work).
  void skip(uint64_t count);
};

class StudioChip {
 public:
  StudioChip(ChipModel model, uint32_t clock_hz, uint32_t fast_tone_hz,
             uint32_t group_envelope_hz);

  // Power-on state at tick 0: registers 0, every output level 0.
  void reset();

  // Register `reg` (0..15) takes `value` at tick `now`. A change of the output
  // levels goes to sink(tick, changed, levels): bit c of `changed` is set for
  // each channel whose level changed, `levels` holds all three after it.
  template <class Sink>
  void write(uint64_t now, uint8_t reg, uint8_t value, Sink& sink) {
    apply_write(now, reg, value);
    const unsigned changed = update_outputs(7);
    if (changed != 0) sink(now, changed, static_cast<const float*>(outputs_));
  }

  // Runs every event up to and including tick `end`.
  template <class Sink>
  void run_to(uint64_t end, Sink& sink) {
    while (next_event_ <= end) {
      const uint64_t tick = next_event_;
      // Most events of a busy song are the noise's alone.
      const unsigned changed = tick < next_other_ ? fire_noise(tick) : fire_events(tick);
      if (changed != 0) sink(tick, changed, static_cast<const float*>(outputs_));
    }
  }

  // Brings every generator up to `now` in closed form; no output changes can
  // be pending (run_to(now) came first, or the time is skipped).
  void synchronize(uint64_t now);

  // Moves the chip on to `now` without reporting: output levels are read
  // afterwards with output().
  void skip_to(uint64_t now);

  float output(int channel) const { return outputs_[channel]; }
  uint8_t reg(int index) const { return regs_[index]; }
  bool tone_bit(int channel) const { return tone_bit_[channel]; }
  uint32_t noise_shift_register() const { return lfsr_; }
  const EnvelopeState& envelope() const { return envelope_; }
  // A channel's level without the tone and noise gates.
  float channel_level(int channel) const;

 private:
  void apply_write(uint64_t now, uint8_t reg, uint8_t value);
  // Fire the events due at `tick` (fire_noise: when they are the noise's
  // alone); both return the channels whose output level changed.
  unsigned fire_events(uint64_t tick);
  unsigned fire_noise(uint64_t tick) {
    shift_noise_by_few(noise_shifts_);
    noise_.last = tick;
    noise_.next = tick + noise_.span();
    find_noise_change();
    next_event_ = noise_event_ < next_other_ ? noise_event_ : next_other_;
    return update_outputs(noise_channels_);
  }
  void update_hearing(uint64_t now);
  // Updates the output levels of the channels in `mask`; returns those whose
  // level changed.
  unsigned update_outputs(unsigned mask) {
    const bool noise = (lfsr_ & 1) != 0;
    unsigned changed = 0;
    for (int c = 0; c < 3; ++c) {
      if ((mask >> c & 1) == 0) continue;
      float gate = tone_gate_[c] == 0   ? 1.0f
                   : tone_gate_[c] == 2 ? 0.5f
                                        : float(tone_bit_[c]);
      if ((noise_channels_ >> c & 1) != 0 && !noise) gate = 0.0f;
      const float output = level_[c] * gate;
      if (output != outputs_[c]) changed |= 1u << c;
      outputs_[c] = output;
    }
    return changed;
  }
  void shift_noise(uint64_t count);
  // Up to 16 shifts (14 at once): the bits fed in are each bit j xor bit
  // j + 3 of the register as it was.
  void shift_noise_by_few(uint32_t count) {
    uint32_t value = lfsr_;
    while (count != 0) {
      const uint32_t k = count < 14 ? count : 14u;
      const uint32_t fed = (value ^ (value >> 3)) & ((1u << k) - 1);
      value = (value >> k) | (fed << (17 - k));
      count -= k;
    }
    lfsr_ = value;
  }
  // Finds the next shift that changes the noise output: noise_event_ and
  // noise_shifts_. The register shifts right, so the output after j shifts
  // is bit j of the register now, for j up to 16: the first of those bits
  // that differs from bit 0 tells how many shifts the output holds, and only
  // that shift needs an event of its own. Half the shifts leave the output
  // as it is.
  void find_noise_change() {
    const uint32_t differs = ((lfsr_ ^ (0u - (lfsr_ & 1u))) >> 1) & 0xFFFFu;
    noise_shifts_ = differs != 0 ? std::countr_zero(differs) + 1u : 16u;
    noise_event_ = noise_.next + (noise_shifts_ - 1) * noise_.span();
  }
  void update_envelope_group();

  const float* levels_;  // 16 or 32 entries
  uint8_t fixed_shift_;  // fixed volume v is level (v << shift) | shift
  uint32_t clock_hz_;
  uint32_t fast_tone_hz_;
  uint32_t group_envelope_hz_;
  uint32_t envelope_group_ = 1;  // envelope steps per event
  // The noise register after 2^i shifts of each single bit: a jump over any
  // number of shifts in 17 steps.
  uint32_t noise_jump_[17][17] = {};
  // Per channel, from the registers and the envelope: the level, whether the
  // tone gates it (0: no, 1: its flip-flop, 2: its mean); noise_channels_
  // below tells whether the noise does.
  float level_[3] = {};
  uint8_t tone_gate_[3] = {};
  uint8_t regs_[16] = {};
  PeriodCounter tone_[3];
  bool tone_bit_[3] = {};
  PeriodCounter noise_;
  uint32_t lfsr_ = 1;
  uint64_t noise_event_ = 0;        // while heard: find_noise_change()
  uint32_t noise_shifts_ = 1;       // the shifts up to and including that change
  unsigned noise_channels_ = 0;     // bit c: the noise gates channel c
  unsigned envelope_channels_ = 0;  // bit c: channel c follows the envelope
  EnvelopeState envelope_;
  bool tone_heard_[3] = {};
  bool noise_heard_ = false;
  bool envelope_heard_ = false;
  bool tone_fast_[3] = {};
  uint64_t next_event_ = UINT64_MAX;
  uint64_t next_other_ = UINT64_MAX;  // the next event of a tone or the envelope
  uint64_t envelope_event() const {
    return envelope_.counter.next + (envelope_group_ - 1) * envelope_.counter.span();
  }
  float outputs_[3] = {};
};
