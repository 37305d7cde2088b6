#include "audio/play_loop.h"

#include "common/messages.h"
#include "common/register_log.h"

// Between runs: while the drift correction lies outside the pacing band,
// every tick is paced, so the chip runs one tick at a time; inside it the
// chip runs as fast as it can, a few ticks a run. The refill thread moves
// the correction at any moment: it is read afresh before every run.
class PlayLoop::Policy final : public DrivePolicy {
 public:
  explicit Policy(PlayLoop& loop) : loop_(loop) {}
  uint32_t before_run(uint32_t due) override {
    const int16_t drift = loop_.ring_.drift_correction();
    if (drift < -kPacingBand || drift > kPacingBand) {
      loop_.pace();
      return 1;
    }
    return due < kUnpacedRunTicks ? due : kUnpacedRunTicks;
  }
  void after_run(uint32_t ran) override { loop_.pacing.tick_count += ran; }

 private:
  PlayLoop& loop_;
};

int PlayLoop::play(WriteSource& source, const char* input_path) {
  print_progress("Starting to play [%s]\n", input_path);
  if (!audio_.start()) {
    log_error("Can't start sound engine\n");
    return kPlayNoEngine;
  }
  // Live play runs at a quarter of the rendered amplitude. Installed only
  // once the device is open, and before the chip is reset, so every amplitude
  // of the play comes from it.
  engine_.install_volume_table(quartered_levels());

  DriveLoop loop(source, engine_);
  if (!loop.read_first()) {
    const bool failed = report_read_error(source, input_path);
    if (!failed) log_error("Can't find data in [%s]\n", input_path);
    audio_.stop();
    return failed ? kPlayCantRead : kPlayNoData;
  }
  pacing.counter_ok = clock_.frequency(&pacing.frequency);
  if (!pacing.counter_ok) {
    log_error("Can't synchronize speed\n");
    audio_.stop();
    return kPlayNoClock;
  }
  loop.start();

  pacing.tick_count = 0;
  pacing.ticks_at_reference = 0;
  read_counter();
  pacing.reference = pacing.reading;

  Policy policy(*this);
  loop.run(policy);
  // The end of the log ends the sound: what is still in the ring or queued on
  // the device is not played.
  audio_.stop();
  return report_read_error(source, input_path) ? kPlayCantRead : kPlayOk;
}

bool PlayLoop::read_counter() {
  int64_t now = 0;
  pacing.counter_ok = clock_.now(&now);
  if (pacing.counter_ok) pacing.reading = now;
  pacing.ticks_at_reading = pacing.tick_count;
  return pacing.counter_ok;
}

int64_t PlayLoop::counts_for(uint32_t us) const {
  // Split at whole seconds so that no product overflows, rounded up so that
  // a wait never ends before the microsecond it waits for.
  const int64_t frequency = pacing.frequency;
  return us / 1000000 * frequency + (us % 1000000 * frequency + 999999) / 1000000;
}

void PlayLoop::wait_until(int64_t due) {
  const int64_t wake = due - counts_for(kSleepEarlyUs);
  if (wake > pacing.reading) clock_.sleep_until(wake);
  while (read_counter() && pacing.reading < due) clock_.yield();
}

void PlayLoop::pace() {
  // Chip time since the last call, modulo 2^32 like the tick count.
  const uint32_t chip_us = pacing.tick_count - pacing.ticks_at_reference;
  pacing.ticks_at_reference = pacing.tick_count;
  if (!pacing.counter_ok) {
    // The last query failed: no wait this time, only a fresh start.
    if (read_counter()) pacing.reference = pacing.reading;
    return;
  }
  const bool stale = pacing.tick_count - pacing.ticks_at_reading >= kTicksPerReading;
  const int16_t drift = ring_.drift_correction();
  if (drift < 0 && chip_us <= static_cast<uint32_t>(-drift)) {
    // Nothing to wait for: the ticks are due at once, the reference is now.
    if (stale && !read_counter()) return;
    pacing.reference = pacing.reading;
    return;
  }
  const uint32_t target_us = chip_us + static_cast<uint32_t>(static_cast<int32_t>(drift));
  const int64_t due = pacing.reference + counts_for(target_us);
  const int64_t margin = counts_for(kMarginUs);
  if (stale || due - pacing.reading > margin) {
    if (!read_counter()) return;
    if (due - pacing.reading > margin) wait_until(due);
    if (!pacing.counter_ok) {
      // A query failed inside the wait, which ends it; start again from a
      // fresh reading.
      if (read_counter()) pacing.reference = pacing.reading;
      return;
    }
  }
  pacing.reference = due > pacing.reading ? due : pacing.reading;
}
