// One AY-3-8910 or YM2149 as the real chip behaves, for the studio engine
// (psg/studio_engine.h): its generators run on event times rather than tick
// by tick, and every change of a channel's output level is handed to a sink
// with the tick it happens at.
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

  // Register `reg` (0..15) takes `value` at tick `now`: changes of the output
  // levels go to sink(now, channel, level).
  template <class Sink>
  void write(uint64_t now, uint8_t reg, uint8_t value, Sink& sink) {
    apply_write(now, reg, value);
    report_changes(now, sink);
  }

  // Runs every event up to and including tick `end`.
  template <class Sink>
  void run_to(uint64_t end, Sink& sink) {
    while (next_event_ <= end) {
      const uint64_t tick = next_event_;
      fire_events(tick);
      report_changes(tick, sink);
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
  void fire_events(uint64_t tick);
  void update_hearing(uint64_t now);
  void update_outputs();
  void shift_noise(uint64_t count);
  void update_envelope_group();
  template <class Sink>
  void report_changes(uint64_t tick, Sink& sink) {
    const float before[3] = {outputs_[0], outputs_[1], outputs_[2]};
    update_outputs();
    for (int c = 0; c < 3; ++c) {
      if (outputs_[c] != before[c]) sink(tick, c, outputs_[c]);
    }
  }

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
  // tone gates it (0: no, 1: its flip-flop, 2: its mean) and the noise.
  float level_[3] = {};
  uint8_t tone_gate_[3] = {};
  bool noise_gate_[3] = {};
  uint8_t regs_[16] = {};
  PeriodCounter tone_[3];
  bool tone_bit_[3] = {};
  PeriodCounter noise_;
  uint32_t lfsr_ = 1;
  EnvelopeState envelope_;
  bool tone_heard_[3] = {};
  bool noise_heard_ = false;
  bool envelope_heard_ = false;
  bool tone_fast_[3] = {};
  uint64_t next_event_ = UINT64_MAX;
  uint64_t envelope_event() const {
    return envelope_.counter.next + (envelope_group_ - 1) * envelope_.counter.span();
  }
  float outputs_[3] = {};
};
