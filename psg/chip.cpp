#include "psg/chip.h"

namespace {

// What the envelope does when a step takes it past either end (position -1 or
// 16). The one-shot shapes settle and hold; 8 and 12 wrap round as saw
// waves; 10 and 14 turn round as triangles, repeating the end level once.
enum class EndPosition : uint8_t { Zero, Fifteen, Previous };
enum class EndDirection : uint8_t { Hold, Keep, Reverse };
struct EndRule {
  EndPosition position;
  EndDirection direction;
};

constexpr EndRule kEndRules[16] = {
    {EndPosition::Zero, EndDirection::Hold},         // 0
    {EndPosition::Zero, EndDirection::Hold},         // 1
    {EndPosition::Zero, EndDirection::Hold},         // 2
    {EndPosition::Zero, EndDirection::Hold},         // 3
    {EndPosition::Zero, EndDirection::Hold},         // 4
    {EndPosition::Zero, EndDirection::Hold},         // 5
    {EndPosition::Zero, EndDirection::Hold},         // 6
    {EndPosition::Zero, EndDirection::Hold},         // 7
    {EndPosition::Fifteen, EndDirection::Keep},      // 8: saw down
    {EndPosition::Zero, EndDirection::Hold},         // 9
    {EndPosition::Previous, EndDirection::Reverse},  // 10: triangle, down first
    {EndPosition::Fifteen, EndDirection::Hold},      // 11
    {EndPosition::Zero, EndDirection::Keep},         // 12: saw up
    {EndPosition::Fifteen, EndDirection::Hold},      // 13
    {EndPosition::Previous, EndDirection::Reverse},  // 14: triangle, up first
    {EndPosition::Zero, EndDirection::Hold},         // 15
};

}  // namespace

VolumeLevels quartered_levels() {
  VolumeLevels levels{};
  for (size_t i = 0; i < levels.size(); ++i) {
    levels[i] = static_cast<int16_t>(static_cast<uint16_t>(kFullLevels[i]) >> 2);
  }
  return levels;
}

void Chip::reset() {
  channels = {};
  noise.counter = 0;
  noise.period = 0;
  envelope.period = 0;
  envelope.counter = 0;
  envelope.shape = 0;
}

void Chip::refresh_envelope_amplitudes() {
  const int16_t level = volume_table[static_cast<size_t>(envelope.position)];
  for (ToneChannel& channel : channels) {
    if (channel.envelope_mode != 0) channel.amplitude = level;
  }
}

void Chip::restart_envelope() {
  envelope.counter = 0;
  // Shapes with bit 2 set start at the bottom and attack; the others decay.
  if (envelope.shape & 0x04) {
    envelope.position = 0;
    envelope.direction = 1;
  } else {
    envelope.position = 15;
    envelope.direction = -1;
  }
  refresh_envelope_amplitudes();
}

void Chip::step_envelope() {
  if (envelope.period == 0) return;
  if (++envelope.counter < envelope.period) return;
  // A period change always restarts the counter at 0 and a period is at least
  // 16, so this runs once per call.
  while (envelope.counter >= envelope.period) {
    envelope.counter -= envelope.period;
    advance_envelope_level();
  }
}

void Chip::advance_envelope_level() {
  if (envelope.direction == 0) return;  // holding: the level stays put
  const int8_t previous = envelope.position;
  envelope.position = static_cast<int8_t>(envelope.position + envelope.direction);
  if (envelope.position == -1 || envelope.position == 16) {
    const EndRule rule = kEndRules[envelope.shape];
    switch (rule.position) {
      case EndPosition::Zero: envelope.position = 0; break;
      case EndPosition::Fifteen: envelope.position = 15; break;
      case EndPosition::Previous: envelope.position = previous; break;
    }
    switch (rule.direction) {
      case EndDirection::Hold: envelope.direction = 0; break;
      case EndDirection::Keep: break;
      case EndDirection::Reverse:
        envelope.direction = static_cast<int8_t>(-envelope.direction);
        break;
    }
  }
  refresh_envelope_amplitudes();
}

void Chip::write_register(uint8_t reg, uint8_t value) {
  if (reg <= 14) registers[reg] = value;
  switch (reg) {
    case 0:
    case 1:
    case 2:
    case 3:
    case 4:
    case 5: {
      // Both bytes of the pair are rebuilt from the register file, so a write
      // to one combines with the last value written to the other.
      const size_t fine = reg & ~1u;
      const unsigned coarse = registers[fine + 1] & 0x0Fu;
      channels[reg / 2].period =
          static_cast<uint16_t>((coarse * 256u + registers[fine]) * 8u);
      break;
    }
    case 6: noise.period = static_cast<uint16_t>((registers[6] & 0x1Fu) * 16u); break;
    case 7:
      for (unsigned i = 0; i < 3; ++i) {
        channels[i].tone_enable = (value >> i) & 1u ? 0 : 1;
        channels[i].noise_enable = (value >> (i + 3)) & 1u ? 0 : 1;
      }
      break;
    case 8:
    case 9:
    case 10: {
      ToneChannel& channel = channels[reg - 8u];
      channel.envelope_mode = (value >> 4) & 1u;
      channel.amplitude = channel.envelope_mode != 0
                              ? volume_table[static_cast<size_t>(envelope.position)]
                              : volume_table[value & 0x0Fu];
      break;
    }
    case 11:
    case 12:
      envelope.period = (registers[12] * 256u + registers[11]) * 16u;
      restart_envelope();
      break;
    case 13:
      envelope.shape = value & 0x0F;
      restart_envelope();
      break;
    default: break;  // 14 is only stored; 15 and up do nothing at all
  }
}
