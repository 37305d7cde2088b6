// The emulated PSG: three square-wave tone channels, one noise generator and
// one envelope generator shared by them, sixteen registers, clocked at 1 MHz.
//
// How this model differs from the silicon, on purpose:
// - A write to register 11 or 12 (envelope period) restarts the envelope just
//   as a write to register 13 does, even when the value does not change.
// - A tone, noise or envelope period of 0 freezes that generator; it does not
//   act as a period of 1.
// - The noise generator is a 32-bit left-shifting register (XOR 0x08000001
//   when bit 31 comes up) whose output toggles at each shift that finds bit 0
//   set; the output is not a bit of the register.
// - A new tone or noise period takes effect at the next reload: a running
//   count is never cut short.
// - The output is bipolar: a channel gives +amplitude or -amplitude, so a
//   channel with tone and noise off gives a constant -amplitude.
// - Channel A is heard on the left only, C on the right only, B on both at
//   full level.
// - Frames are point samples at 44100 Hz: no filtering, no averaging.
// - Live play runs at a quarter of the rendered amplitude (quartered levels).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// The volume levels: index = 4-bit volume or envelope position.
using VolumeLevels = std::array<int16_t, 16>;

// Levels for WAV rendering: loud enough that two full channels sum to 21840.
inline constexpr VolumeLevels kFullLevels = {0,    120,  166,  229,  315,  435,
                                             601,  829,  1145, 1580, 2181, 3010,
                                             4154, 5733, 7912, 10920};

// Levels for live play: each full level shifted right by two bits.
VolumeLevels quartered_levels();

struct ToneChannel {
  uint16_t counter = 0;       // ticks until the flip-flop next changes
  uint16_t period = 0;        // 8 x the 12-bit tone period: 0..32760 ticks
  int16_t amplitude = 0;      // an entry of the active volume table
  uint8_t flip_flop = 0;      // current half of the square wave
  uint8_t tone_enable = 0;    // 1 when register 7 enables the tone
  uint8_t noise_enable = 0;   // 1 when register 7 enables noise here
  uint8_t envelope_mode = 0;  // 1 when the amplitude follows the envelope

  // A countdown reloaded by addition: a counter of 0 or 1 flips on this tick,
  // so the first flip after a reset comes on the first tick with a period.
  void tick() {
    if (period == 0) return;
    if (counter > 1) {
      --counter;
      return;
    }
    flip_flop ^= 1;
    counter = static_cast<uint16_t>(period + counter - 1);
  }
};

struct NoiseGenerator {
  static constexpr uint32_t kMaxPeriod = 16 * 31;  // ticks

  uint16_t counter = 0;         // ticks until the next shift
  uint16_t period = 0;          // 16 x the 5-bit noise period: 0..kMaxPeriod
  uint16_t output = 0;          // the level the mixer sees, 0 or 1
  uint32_t shift_register = 1;  // pseudo-random state

  void tick() {
    if (period == 0) return;
    if (counter > 1) {
      --counter;
      return;
    }
    counter = static_cast<uint16_t>(counter + period - 1);
    shift();
  }

  // The output changes each time a shift finds bit 0 set.
  void shift() {
    if (shift_register & 1u) output ^= 1u;
    shift_register = next_register(shift_register);
  }

  // The register's own step: left by one, XOR 0x08000001 when bit 31 comes up.
  static uint32_t next_register(uint32_t value) {
    value <<= 1;
    if (value & 0x80000000u) value ^= 0x08000001u;
    return value;
  }
};

// The mixer's gate for one channel: it sounds +amplitude while its tone or
// the noise lets it through (they combine by OR), -amplitude otherwise.
struct ChannelGate {
  bool always = false;  // tone enabled with period 0: the gate stays open
  bool tone = false;    // tone enabled with a period: the flip-flop opens it
  bool noise = false;   // noise enabled and running: its output opens it

  ChannelGate() = default;
  ChannelGate(const ToneChannel& channel, const NoiseGenerator& noise_generator)
      : always(channel.tone_enable != 0 && channel.period == 0),
        tone(channel.tone_enable != 0 && channel.period != 0),
        noise(channel.noise_enable != 0 && noise_generator.period != 0) {}

  int16_t output(int16_t amplitude, uint8_t flip_flop, uint16_t noise_output) const {
    // Bitwise, not short-circuit: no branch to mispredict.
    const bool open = always | (tone & (flip_flop != 0)) | (noise & (noise_output != 0));
    return open ? amplitude : static_cast<int16_t>(-amplitude);
  }
};

struct EnvelopeGenerator {
  uint8_t shape = 0;     // low four bits of register 13
  int8_t direction = 0;  // +1, -1, or 0 while the envelope holds
  int8_t position = 0;   // current level, 0..15 between steps
  uint32_t counter = 0;  // ticks since the last step or restart
  uint32_t period = 0;   // 16 x the 16-bit envelope period: ticks per step
};

class Chip {
 public:
  static constexpr uint32_t kChipClock = 1000000;  // ticks per second
  static constexpr uint32_t kFrameRate = 44100;    // frames per second

  // Silences every channel and stops every generator. Keeps the register
  // file, the envelope position and direction, the noise output and shift
  // register, and the volume table. (The engine that owns the chip also
  // clears its sampler and empties its ring.)
  void reset();

  // Stores value in register reg (0..14; 15 and up are not stored) and
  // decodes it into the generators. Never fails.
  void write_register(uint8_t reg, uint8_t value);

  // Copies levels into the active volume table. Amplitudes already taken from
  // the table keep their values until the next write or envelope step.
  void install_volume_table(const VolumeLevels& levels) { volume_table = levels; }

  // One microsecond: envelope step, tones A, B, C, then noise. The sampler
  // that turns chip time into frames comes after it (psg/point_sampler.h).
  void tick() {
    step_envelope();
    channels[0].tick();
    channels[1].tick();
    channels[2].tick();
    noise.tick();
  }

  // The current output: left = A + B, right = B + C, each channel +amplitude
  // when its tone or noise gate is open and -amplitude otherwise.
  void mix(int16_t* left, int16_t* right) const {
    const int16_t a = contribution(channels[0]);
    const int16_t b = contribution(channels[1]);
    const int16_t c = contribution(channels[2]);
    *left = static_cast<int16_t>(a + b);
    *right = static_cast<int16_t>(b + c);
  }

  int16_t contribution(const ToneChannel& channel) const {
    if (channel.amplitude == 0) return 0;
    return ChannelGate(channel, noise)
        .output(channel.amplitude, channel.flip_flop, noise.output);
  }

  // One tick of the envelope's counter; steps the level when a period ends.
  void step_envelope();

  // One step of the envelope level (nothing while it holds), applying the
  // shape's end rule and refreshing the amplitude of every channel in
  // envelope mode. The counter is left alone.
  void advance_envelope_level();

  std::array<uint8_t, 16> registers{};
  std::array<ToneChannel, 3> channels{};
  NoiseGenerator noise;
  EnvelopeGenerator envelope;
  VolumeLevels volume_table{};

 private:
  void restart_envelope();
  void refresh_envelope_amplitudes();
};
