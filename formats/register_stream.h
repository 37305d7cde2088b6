// The one stage every import passes through: register values of the source
// chip, at the source's times, in; writes for the 1 MHz chip of our logs out.
//
// What it does:
// - Periods are rescaled by 1000000 / source clock so that every pitch stays
//   where it was: tone (12 bits), noise (5 bits), envelope (16 bits), rounded
//   to nearest and clamped to the register's width; a period that is not 0
//   never becomes 0.
// - A noise or envelope period of 0 acts like 1 on the real chip but freezes
//   the generator in ours: it is written as the rescaled period 1. A tone
//   period of 0 stays 0: the real chip's ultrasonic tone is closer to our
//   frozen, constant output than to a tone at period 1.
// - Values are masked to the register's width (spare bits cleared).
// - A register is written only when its chip value changes, so a frame that
//   repeats a value writes nothing for it. Register 13 is the exception: it
//   is written whenever the source writes it, since every write restarts the
//   envelope.
// - Writes of one flush come at one time, in register order.
//
// Where it knowingly differs from the real chip: our chip restarts the
// envelope on a write to register 11 or 12 as well. Such writes are kept (the
// period must change) and each time point where they come without a write to
// 13 is counted as a restart the real chip would not have made.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "formats/song.h"

// Most writes one import may produce (16 bytes each in memory, 512 MiB at
// most). An hour of a 5 kHz timer effect on top of the frames needs about 20
// million.
inline constexpr uint64_t kMaxWrites = uint64_t{1} << 25;

// The time of frame `index` at `rate_hz` frames per second in microseconds,
// rounded to nearest and computed from the index alone, so it never drifts.
uint64_t frame_time_us(uint64_t index, double rate_hz);

// The time of `samples` samples at `sample_rate` Hz in microseconds, rounded
// to nearest, exact for any count.
uint64_t sample_time_us(uint64_t samples, uint32_t sample_rate);

// A period of `width_bits` rescaled by `factor` under the rules above.
uint32_t rescale_period(uint32_t period, double factor, int width_bits,
                        bool zero_acts_as_one);

class RegisterStream {
 public:
  // Writes go to `out`; periods are rescaled for a source chip at clock_hz.
  // With source_chip, nothing is rescaled: the values stay the source
  // chip's, the times become cycles of its clock, and a write of register 11
  // or 12 is no restart (only our 1 MHz chip restarts there).
  RegisterStream(uint32_t clock_hz, std::vector<TimedWrite>& out,
                 bool source_chip = false);

  // Records a write of the source chip (registers 14 and 15, the I/O ports,
  // and anything above are ignored). Nothing is written before flush().
  void set(uint8_t reg, uint8_t value);

  // Writes, at `time`, every register whose chip value differs from what was
  // last written (all of 0..12 the first time), and 13 when it was set since
  // the last flush. Returns false once the write limit is reached.
  bool flush(uint64_t time);

  // Writes a chip value at `time` as a timer effect does: a volume (8..10)
  // only when it changes, register 13 always. Returns false once the write
  // limit is reached.
  bool effect_write(uint64_t time, uint8_t reg, uint8_t value);

  // The last write: register 7 rewritten with its value at `time`, so that a
  // player, which stops at the last write, plays up to it.
  bool finish(uint64_t time);

  // Adds what the stage measured to `info`: writes, restarts added, tuning
  // error of the rescaled tone periods.
  void report(SongInfo& info) const;

  bool limit_reached() const { return limit_reached_; }

 private:
  bool emit(uint64_t time, uint8_t reg, uint8_t value);
  void chip_values(std::array<int, 14>& chip) const;
  void measure_tuning(int channel);

  std::vector<TimedWrite>& out_;
  double factor_;
  uint32_t clock_hz_;
  bool source_chip_;
  std::array<uint8_t, 14> source_{};
  std::array<int, 14> written_;  // -1: never written
  bool envelope_shape_set_ = false;
  bool first_flush_ = true;
  bool limit_reached_ = false;
  uint64_t restarts_added_ = 0;
  uint64_t tuned_periods_ = 0;
  double cents_sum_ = 0, cents_worst_ = 0;
};
