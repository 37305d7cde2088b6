#include "psg/studio_chip.h"

#include <algorithm>

#include "psg/chip_levels.h"

namespace {

// The noise shift register's cycle: 17 bits, feedback from bits 0 and 3.
constexpr uint64_t kNoiseCycle = (1u << 17) - 1;

}  // namespace

void EnvelopeState::step() {
  if (holding) return;
  if (position + 1 < steps) {
    ++position;
    return;
  }
  // The end of a cycle: shapes 0..7 fall silent, the others repeat, hold or
  // alternate.
  const bool repeats = (shape & 8) != 0;
  const bool alternates = (shape & 2) != 0;
  const bool holds = (shape & 1) != 0;
  if (!repeats) {
    holding = true;
    attack = false;
    position = steps - 1;
  } else if (holds) {
    holding = true;
    if (alternates) attack = !attack;
    position = steps - 1;
  } else {
    if (alternates) attack = !attack;
    position = 0;
  }
}

void EnvelopeState::skip(uint64_t count) {
  if (holding) return;
  // A repeating shape is back where it was after two cycles.
  if (count >= 2u * steps && (shape & 8) != 0 && (shape & 1) == 0) count %= 2u * steps;
  for (; count != 0 && !holding; --count) step();
}

StudioChip::StudioChip(ChipModel model, uint32_t clock_hz, uint32_t fast_tone_hz,
                       uint32_t group_envelope_hz)
    : levels_(model == ChipModel::Ym ? kYmLevels.data() : kAyLevels.data()),
      fixed_shift_(model == ChipModel::Ym ? 1 : 0),
      clock_hz_(clock_hz),
      fast_tone_hz_(fast_tone_hz),
      group_envelope_hz_(group_envelope_hz == 0 ? 1 : group_envelope_hz) {
  // One shift moves bit b to b - 1; bits 0 and 3 feed bit 16.
  for (uint32_t b = 0; b < 17; ++b) {
    noise_jump_[0][b] = (1u << b >> 1) | ((b == 0 || b == 3) ? 1u << 16 : 0);
  }
  for (int i = 1; i < 17; ++i) {
    for (int b = 0; b < 17; ++b) {
      uint32_t image = 0;
      for (int k = 0; k < 17; ++k) {
        if ((noise_jump_[i - 1][b] >> k) & 1) image ^= noise_jump_[i - 1][k];
      }
      noise_jump_[i][b] = image;
    }
  }
  envelope_.steps = model == ChipModel::Ym ? 32 : 16;
  envelope_.counter.unit = model == ChipModel::Ym ? 8 : 16;
  reset();
}

void StudioChip::reset() {
  for (uint8_t& r : regs_) r = 0;
  for (int c = 0; c < 3; ++c) {
    tone_[c] = PeriodCounter{};
    tone_bit_[c] = false;
    tone_fast_[c] = clock_hz_ > 16ull * fast_tone_hz_;
    tone_heard_[c] = false;
    outputs_[c] = 0;
  }
  noise_ = PeriodCounter{0, 16, 1, 16};
  lfsr_ = 1;
  noise_heard_ = false;
  const uint32_t unit = envelope_.counter.unit;
  envelope_.counter = PeriodCounter{0, unit, 1, unit};
  envelope_.shape = 0;
  envelope_.position = 0;
  envelope_.attack = false;
  envelope_.holding = false;
  update_envelope_group();
  update_hearing(0);
}

float StudioChip::channel_level(int channel) const {
  const uint8_t amplitude = regs_[8 + channel];
  if ((amplitude & 0x10) != 0) return levels_[envelope_.level()];
  const int index = fixed_shift_ != 0 ? (amplitude & 15) * 2 + 1 : amplitude & 15;
  return (amplitude & 15) == 0 ? 0.0f : levels_[index];
}

void StudioChip::update_envelope_group() {
  const uint64_t per_second = envelope_.counter.span() * group_envelope_hz_;
  envelope_group_ = std::max<uint32_t>(1, static_cast<uint32_t>(clock_hz_ / per_second));
}

void StudioChip::shift_noise(uint64_t count) {
  if (count >= kNoiseCycle) count %= kNoiseCycle;
  if (count <= 16) {
    shift_noise_by_few(static_cast<uint32_t>(count));
    return;
  }
  uint32_t value = lfsr_;
  for (int i = 0; count != 0; ++i, count >>= 1) {
    if ((count & 1) == 0) continue;
    uint32_t image = 0;
    for (int b = 0; b < 17; ++b) {
      if ((value >> b) & 1) image ^= noise_jump_[i][b];
    }
    value = image;
  }
  lfsr_ = value;
}

void StudioChip::apply_write(uint64_t now, uint8_t reg, uint8_t value) {
  if (reg > 13) return;
  // The envelope level is read by every update below; bring it up to date.
  envelope_.skip(envelope_.counter.catch_up(now));
  if (reg < 6) {
    const int c = reg / 2;
    if (tone_[c].catch_up(now) % 2 != 0) tone_bit_[c] = !tone_bit_[c];
    regs_[reg] = reg % 2 != 0 ? value & 15 : value;
    const uint32_t period = regs_[2 * c] | uint32_t{regs_[2 * c + 1]} << 8;
    tone_[c].set_period(period, now);
    tone_fast_[c] = clock_hz_ > 16ull * tone_[c].period * fast_tone_hz_;
  } else if (reg == 6) {
    shift_noise(noise_.catch_up(now));
    regs_[6] = value & 31;
    noise_.set_period(regs_[6], now);
  } else if (reg == 7) {
    regs_[7] = value;
  } else if (reg < 11) {
    regs_[reg] = value & 31;
  } else if (reg < 13) {
    regs_[reg] = value;
    envelope_.counter.set_period(regs_[11] | uint32_t{regs_[12]} << 8, now);
    update_envelope_group();
  } else {
    regs_[13] = value & 15;
    envelope_.shape = regs_[13];
    envelope_.position = 0;
    envelope_.attack = (value & 4) != 0;
    envelope_.holding = false;
    envelope_.counter.restart(now);
  }
  update_hearing(now);
}

void StudioChip::update_hearing(uint64_t now) {
  bool noise_heard = false;
  unsigned noise_channels = 0;
  unsigned envelope_channels = 0;
  for (int c = 0; c < 3; ++c) {
    const bool audible = channel_level(c) != 0;
    const bool tone_on = (regs_[7] & (1 << c)) == 0;
    const bool noise_on = (regs_[7] & (8 << c)) == 0;
    const bool tone_heard = tone_on && audible && !tone_fast_[c];
    level_[c] = channel_level(c);
    tone_gate_[c] = !tone_on ? 0 : tone_fast_[c] ? 2 : 1;
    noise_channels |= unsigned{noise_on} << c;
    envelope_channels |= unsigned{(regs_[8 + c] & 0x10) != 0} << c;
    if (tone_heard && !tone_heard_[c] && tone_[c].catch_up(now) % 2 != 0) {
      tone_bit_[c] = !tone_bit_[c];
    }
    tone_heard_[c] = tone_heard;
    noise_heard = noise_heard || (noise_on && audible);
  }
  noise_channels_ = noise_channels;
  envelope_channels_ = envelope_channels;
  // Shifts that left the output as it was were not run one by one: they are
  // owed up to now.
  if (noise_heard) shift_noise(noise_.catch_up(now));
  noise_heard_ = noise_heard;
  envelope_heard_ = envelope_channels != 0 && !envelope_.holding;
  uint64_t next = UINT64_MAX;
  for (int c = 0; c < 3; ++c) {
    if (tone_heard_[c] && tone_[c].next < next) next = tone_[c].next;
  }
  if (envelope_heard_ && envelope_event() < next) next = envelope_event();
  next_other_ = next;
  if (noise_heard_) {
    find_noise_change();
    if (noise_event_ < next) next = noise_event_;
  }
  next_event_ = next;
}

unsigned StudioChip::fire_events(uint64_t tick) {
  unsigned touched = 0;  // the channels whose output may have changed
  bool rehear = false;
  if (envelope_heard_ && envelope_event() == tick) {
    const uint8_t before = envelope_.level();
    // The event is the group's last step: the counter moves on by the group,
    // with no division for its count.
    envelope_.counter.last = tick;
    envelope_.counter.next = tick + envelope_.counter.span();
    if (envelope_group_ == 1) {
      envelope_.step();
    } else {
      envelope_.skip(envelope_group_);
    }
    const uint8_t after = envelope_.level();
    // Who hears what changes only when a level reaches or leaves 0, or the
    // envelope holds; otherwise the envelope's channels take the new level.
    rehear = envelope_.holding || before == 0 || after == 0;
    for (int c = 0; c < 3; ++c) {
      if ((envelope_channels_ >> c & 1) != 0) level_[c] = levels_[after];
    }
    touched = envelope_channels_;
  }
  uint64_t next = UINT64_MAX;
  for (int c = 0; c < 3; ++c) {
    if (!tone_heard_[c]) continue;
    if (tone_[c].next == tick) {
      tone_[c].fire();
      tone_bit_[c] = !tone_bit_[c];
      touched |= 1u << c;
    }
    if (tone_[c].next < next) next = tone_[c].next;
  }
  if (noise_heard_ && noise_event_ == tick) {
    // Every shift up to this one, the last of them the change.
    shift_noise_by_few(noise_shifts_);
    noise_.last = tick;
    noise_.next = tick + noise_.span();
    find_noise_change();
    touched |= noise_channels_;
  }
  if (rehear) {
    update_hearing(tick);
    return update_outputs(7);
  }
  if (envelope_heard_ && envelope_event() < next) next = envelope_event();
  next_other_ = next;
  if (noise_heard_ && noise_event_ < next) next = noise_event_;
  next_event_ = next;
  return update_outputs(touched);
}

void StudioChip::synchronize(uint64_t now) {
  for (int c = 0; c < 3; ++c) {
    if (tone_[c].catch_up(now) % 2 != 0) tone_bit_[c] = !tone_bit_[c];
  }
  shift_noise(noise_.catch_up(now));
  envelope_.skip(envelope_.counter.catch_up(now));
}

void StudioChip::skip_to(uint64_t now) {
  synchronize(now);
  update_hearing(now);
  update_outputs(7);
}
