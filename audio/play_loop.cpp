#include "audio/play_loop.h"

#include "common/messages.h"

int PlayLoop::play(RegisterLog& log, const char* input_path) {
  print_progress("Starting to play [%s]\n", input_path);
  if (!engine_.start()) {
    log_error("Can't start sound engine\n");
    return kPlayNoEngine;
  }

  uint8_t reg = 0;
  uint8_t value = 0;
  if (!log.event_reader(nullptr, &reg, &value)) {
    const bool failed = report_read_error(log, input_path);
    if (!failed) log_error("Can't find data in [%s]\n", input_path);
    engine_.stop();
    return failed ? kPlayCantRead : kPlayNoData;
  }
  pacing.counter_ok = clock_.frequency(&pacing.frequency);
  if (!pacing.counter_ok) {
    log_error("Can't synchronize speed\n");
    engine_.stop();
    return kPlayNoClock;
  }
  // The engine has installed the quartered levels; the reset and every write
  // from here on take their amplitudes from them.
  chip_.reset();
  chip_.write_register(reg, value);

  pacing.tick_count = 0;
  pacing.ticks_at_reference = 0;
  pacing.counter_ok = clock_.now(&pacing.reference);

  uint32_t delay = 0;
  while (log.event_reader(&delay, &reg, &value)) {
    for (; delay != 0; --delay) {
      // The refill thread moves the drift correction at any moment: read it
      // afresh before every tick.
      const int16_t drift = ring_.drift_correction();
      if (drift < -kPacingBand || drift > kPacingBand) pace();
      chip_.tick();
      ++pacing.tick_count;
    }
    chip_.write_register(reg, value);
  }
  // The end of the log ends the sound: what is still in the ring or queued on
  // the device is not played.
  engine_.stop();
  return report_read_error(log, input_path) ? kPlayCantRead : kPlayOk;
}

void PlayLoop::pace() {
  if (pacing.counter_ok) {
    const uint32_t ticks = pacing.tick_count;
    int64_t now = 0;
    pacing.counter_ok = clock_.now(&now);
    if (pacing.counter_ok) {
      // Microseconds since the reference, always from the reference reading
      // itself, so rounding never accumulates. Split at whole seconds, the
      // product cannot overflow however long the chip ran unpaced (a
      // nanosecond counter would overflow the plain product after 2.5 hours);
      // the result is the plain product's quotient, truncated toward zero.
      const auto elapsed = [this](int64_t counts) {
        const int64_t diff = counts - pacing.reference;
        const int64_t frequency = pacing.frequency;
        return diff / frequency * 1000000 + diff % frequency * 1000000 / frequency;
      };
      int64_t elapsed_us = elapsed(now);
      const int16_t drift = ring_.drift_correction();
      // Chip time since the last call, modulo 2^32 like the tick count.
      const uint32_t chip_us = ticks - pacing.ticks_at_reference;
      const bool skip = drift < 0 && chip_us <= static_cast<uint32_t>(-drift);
      if (!skip) {
        const uint32_t target =
            chip_us + static_cast<uint32_t>(static_cast<int32_t>(drift));
        // A negative elapsed time (a counter reading below the reference)
        // is below every target.
        while (elapsed_us < static_cast<int64_t>(target)) {
          clock_.yield();
          pacing.counter_ok = clock_.now(&now);
          if (!pacing.counter_ok) break;
          elapsed_us = elapsed(now);
        }
      }
    }
  }
  pacing.ticks_at_reference = pacing.tick_count;
  pacing.counter_ok = clock_.now(&pacing.reference);
}
