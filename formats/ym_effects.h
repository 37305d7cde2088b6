// The Atari timer effects of YM5! and YM6! files, turned into register writes
// between frames.
//
// On the Atari ST a timer interrupt (the MFP's, 2457600 Hz divided by a
// predivisor of 4, 10, 16, 50, 64, 100 or 200 and an 8-bit count) rewrites a
// chip register many times per frame. A YM file stores, per frame, which
// effect runs on which voice and the timer's predivisor and count in spare
// register bits:
// - YM5!: SID voice on the voice in r1 bits 4-5 (timer: r6 bits 5-7, r14);
//   a digidrum starts on the voice in r3 bits 4-5 (timer: r8 bits 5-7, r15).
// - YM6!: two slots, r1 bits 4-7 (timer r6 bits 5-7, r14) and r3 bits 4-7
//   (timer r8 bits 5-7, r15): bits 4-5 the voice (0: none), bits 6-7 the
//   effect: SID voice, digidrum, sinus SID, sync buzzer.
// The effect's parameter stands in the voice's volume register: the top
// volume of a SID (bits 0-3), the sample of a digidrum (bits 0-4), the
// envelope shape of a sync buzzer (bits 0-3).
//
// What this model writes, at timer tick k, time start + round(k * tick):
// - SID voice: the voice's volume, the top volume on even ticks, 0 on odd.
// - Sinus SID: the volume nearest to top * (1 + sin(2 pi k / 8)) / 2 in
//   amplitude: an 8-step sine per 8 ticks.
// - Digidrum: sample k of the drum as the voice's volume (8-bit samples to
//   the volume of nearest amplitude, 4-bit samples as they are), to the
//   drum's end, across frames; then the frame's own volume is written back.
// - Sync buzzer: register 13 rewritten with the shape at every tick, which
//   restarts the envelope.
// The timer of a SID, sinus SID or sync buzzer that goes on from one frame
// to the next on the same voice runs on, as the Atari's does: its next tick
// keeps its time and the count goes on (a new timer rate counts from there);
// one that starts has tick 0 at the frame's time.
//
// Where it knowingly differs from the Atari:
// - A timer with predivisor or count 0 is taken as stopped (the MFP would
//   count 256), and one faster than 100 kHz is skipped: neither is anything a
//   player set up on purpose. Both are reported.
// - Where both slots name the same voice, the first slot's effect runs; a
//   digidrum runs until its end or until a new effect starts on its voice.
// - The amplitude of volume v is taken as 2^((v - 15) / 2), the chip's
//   3 dB steps, when samples and sine steps are turned into volumes.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "formats/register_stream.h"
#include "formats/song.h"

enum class YmLayout : uint8_t { Ym5, Ym6 };

// Turns digidrum samples into 4-bit volumes. `attributes` is the YM header's:
// bit 1 signed samples, bit 2 samples already 4-bit. The table is made once
// per file, so that the drums cost time in proportion to their bytes alone.
class DigidrumVolumes {
 public:
  explicit DigidrumVolumes(uint32_t attributes);
  std::vector<uint8_t> operator()(std::span<const uint8_t> samples) const;

 private:
  std::array<uint8_t, 256> table_{};
};

class YmEffects {
 public:
  YmEffects(YmLayout layout, std::vector<std::vector<uint8_t>> drums);

  // Reads the effects the frame's 16 registers declare for the frame from
  // `start` to `end` µs, and sets into `stream` the values they give at
  // `start` (volumes, register 13). Call after setting the frame's registers
  // and before flushing them.
  void begin_frame(const std::array<uint8_t, 16>& regs, uint64_t start, uint64_t end,
                   RegisterStream& stream);

  // Writes, in time order, the effects' writes after the frame's start and
  // before its end. Returns false once the write limit is reached.
  bool write_frame(RegisterStream& stream);

  // Adds the effects used and what was skipped to `info`.
  void report(SongInfo& info) const;

 private:
  enum class Kind : uint8_t { None, Sid, SinusSid, Digidrum, SyncBuzzer };
  struct Voice {
    Kind kind = Kind::None;
    double tick_us = 0;
    double start = 0;   // time of tick 0, unrounded
    uint8_t level = 0;  // top volume or envelope shape
    const std::vector<uint8_t>* drum = nullptr;
    uint64_t next_sample = 0;  // digidrum: first sample not yet written
    uint64_t phase = 0;        // SID, sinus SID: the count of tick 0
    uint64_t next_tick = 1;    // SID, sinus SID, sync buzzer: first tick not written
    uint64_t tick_time(uint64_t k) const;
  };
  struct Declared {
    Kind kind;
    int voice;  // 0..2
    uint8_t predivisor_code, count;
  };
  struct Write {
    uint64_t time;
    uint8_t reg, value;
  };

  int declared_effects(const std::array<uint8_t, 16>& regs, Declared* found) const;
  void start_effect(const Declared& declared, const Voice& running, uint64_t start);
  void value_at_start(int voice, RegisterStream& stream);
  void collect_ticks(int voice);

  YmLayout layout_;
  std::vector<std::vector<uint8_t>> drums_;
  std::array<std::array<uint8_t, 8>, 16> sine_{};  // [top volume][step]
  std::array<Voice, 3> voices_{};
  std::array<uint8_t, 16> regs_{};
  uint64_t frame_start_ = 0, frame_end_ = 0;
  std::vector<Write> pending_;
  std::array<bool, 5> used_{};
  uint64_t stopped_timers_ = 0, too_fast_ = 0, missing_drums_ = 0;
};
