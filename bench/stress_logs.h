// The logs the render benchmarks time, written on demand so that no large
// file lives in the repository: a sparse one (long notes on three tones, no
// noise heard, no envelope followed), a dense one (three tones at the
// shortest periods, noise at period 1, a running envelope at period 1, a
// write every 100 ticks), and song-like ones: music written at the usual
// 50 writes a second, with drums, and drum music that keeps low noise
// periods sounding for seconds on end.
#pragma once

#include <cstdint>
#include <cstdio>
#include <random>
#include <string>

namespace stress_logs {

inline void append_write(std::string* log, uint32_t time, unsigned reg, unsigned value) {
  char line[32];
  std::snprintf(line, sizeof line, "%u:%02X:%02X\n", time, reg, value);
  *log += line;
}

// Notes of a quarter to one second on each channel, at tone periods of 71 to
// 568 (110 to 880 Hz), fixed volumes. The noise and envelope periods are set
// but nothing listens to them, as in many real songs.
inline std::string sparse_log(uint32_t seconds, uint32_t seed = 1) {
  std::mt19937 random(seed);
  std::string log = "MOVA-TXT\n";
  append_write(&log, 0, 6, 0x10);
  append_write(&log, 0, 7, 0x38);  // three tones, no noise
  append_write(&log, 0, 11, 0x40);
  append_write(&log, 0, 13, 0x0E);
  const uint32_t end = seconds * 1000000u;
  uint32_t next_note[3] = {0, 0, 0};
  for (;;) {
    int channel = 0;
    for (int i = 1; i < 3; ++i) {
      if (next_note[i] < next_note[channel]) channel = i;
    }
    const uint32_t time = next_note[channel];
    if (time >= end) break;
    const unsigned period = 71 + random() % 498;
    append_write(&log, time, 2 * channel, period & 0xFF);
    append_write(&log, time, 2 * channel + 1, period >> 8);
    append_write(&log, time, 8 + channel, 8 + random() % 8);
    next_note[channel] = time + 250000 + random() % 750000;
  }
  append_write(&log, end, 7, 0x3F);
  return log;
}

// Everything at its busiest: tones at periods 1 to 16, noise at period 1 on
// every channel, all three channels following the envelope at period 1 on
// shape 14, and one tone period write every 100 ticks.
inline std::string dense_log(uint32_t seconds, uint32_t seed = 1) {
  std::mt19937 random(seed);
  std::string log = "MOVA-TXT\n";
  append_write(&log, 0, 6, 1);
  append_write(&log, 0, 7, 0x00);
  for (unsigned channel = 0; channel < 3; ++channel) {
    append_write(&log, 0, 2 * channel, 1 + channel);
    append_write(&log, 0, 2 * channel + 1, 0);
    append_write(&log, 0, 8 + channel, 0x10);
  }
  append_write(&log, 0, 11, 1);
  append_write(&log, 0, 12, 0);
  append_write(&log, 0, 13, 0x0E);
  const uint32_t end = seconds * 1000000u;
  unsigned channel = 0;
  for (uint32_t time = 100; time <= end; time += 100) {
    append_write(&log, time, 2 * channel, 1 + random() % 16);
    channel = (channel + 1) % 3;
  }
  return log;
}

// A tune of the common kind: registers written 50 times a second, an
// arpeggio on A, a bass on B (on the envelope generator every other bar when
// `envelope_bass`), drums on C (a kick of a falling tone, a snare of noise
// and tone, hats of pure noise), volumes shaped by hand frame by frame.
inline std::string tune_log(uint32_t seconds, uint32_t seed, bool envelope_bass) {
  std::mt19937 random(seed);
  std::string log = "MOVA-TXT\n";
  const uint32_t frames = seconds * 50;
  unsigned chord = 100 + random() % 200;
  for (uint32_t frame = 0; frame < frames; ++frame) {
    const uint32_t time = frame * 20000;
    const uint32_t step = frame / 6;  // sixteenth notes at 125 BPM
    if (frame % 96 == 0) chord = 100 + random() % 200;
    const unsigned arpeggio[3] = {chord, chord * 4 / 5, chord * 2 / 3};
    const unsigned tone_a = arpeggio[frame % 3];
    append_write(&log, time, 0, tone_a & 0xFF);
    append_write(&log, time, 1, tone_a >> 8);
    append_write(&log, time, 8, 15 - (frame % 6) * 2);
    const bool bar_envelope = envelope_bass && (step / 16) % 2 == 1;
    if (frame % 12 == 0) {
      const unsigned bass = chord * 4;
      append_write(&log, time, 2, bass & 0xFF);
      append_write(&log, time, 3, bass >> 8);
      if (bar_envelope) {
        append_write(&log, time, 11, (bass / 16) & 0xFF);
        append_write(&log, time, 12, 0);
        append_write(&log, time, 13, 0x0A);
      }
    }
    append_write(&log, time, 9, bar_envelope ? 0x10 : 12 - (frame % 12) / 2);
    // Drums on C: kick on beats 1 and 3, snare on 2 and 4, hats between.
    const uint32_t in_beat = frame % 24;
    const uint32_t beat = (frame / 24) % 4;
    unsigned mixer = 0x38;  // tones on, no noise
    if (in_beat < 4 && beat % 2 == 0) {
      const unsigned kick = 300 + in_beat * 200;
      append_write(&log, time, 4, kick & 0xFF);
      append_write(&log, time, 5, kick >> 8);
      append_write(&log, time, 10, 15 - in_beat * 3);
    } else if (in_beat < 6 && beat % 2 == 1) {
      append_write(&log, time, 6, 8 + in_beat);
      append_write(&log, time, 4, 200 & 0xFF);
      append_write(&log, time, 10, 15 - in_beat * 2);
      mixer = 0x18;  // tone and noise on C
    } else if (in_beat == 12 || in_beat == 13) {
      append_write(&log, time, 6, 1);
      append_write(&log, time, 10, 10 - (in_beat - 12) * 4);
      mixer = 0x1C;  // noise alone on C
    } else {
      append_write(&log, time, 10, 0);
    }
    append_write(&log, time, 7, mixer);
  }
  append_write(&log, frames * 20000, 7, 0x3F);
  return log;
}

// Drum music of the kind a one-bit beeper era left behind: the noise
// generator at periods 1 to 4 heard on two or three channels for long
// stretches, volumes changing every frame, a tone or two on top. Nearly every
// frame differs from the last.
inline std::string noise_drums_log(uint32_t seconds, uint32_t seed) {
  std::mt19937 random(seed);
  std::string log = "MOVA-TXT\n";
  const uint32_t frames = seconds * 50;
  for (uint32_t frame = 0; frame < frames; ++frame) {
    const uint32_t time = frame * 20000;
    if (frame % 25 == 0) {
      append_write(&log, time, 6, 1 + random() % 4);
      // Noise on A and C always, on B too half the time; tone on B.
      append_write(&log, time, 7, random() % 2 ? 0x05 : 0x25);
      const unsigned tone = 80 + random() % 400;
      append_write(&log, time, 2, tone & 0xFF);
      append_write(&log, time, 3, tone >> 8);
    }
    append_write(&log, time, 8, 15 - (frame % 5) * 2);
    append_write(&log, time, 9, 8 + random() % 6);
    append_write(&log, time, 10, 13 - (frame % 7));
  }
  append_write(&log, frames * 20000, 7, 0x3F);
  return log;
}

}  // namespace stress_logs
