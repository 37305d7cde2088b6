// The monotonic clock on POSIX systems, read in nanoseconds.
#include <sched.h>
#include <time.h>

#include "audio/clock.h"

namespace {

class PosixClock final : public Clock {
 public:
  bool frequency(int64_t* counts_per_second) override {
    *counts_per_second = 1000000000;
    timespec resolution{};
    return clock_getres(CLOCK_MONOTONIC, &resolution) == 0;
  }
  bool now(int64_t* counts) override {
    timespec time{};
    if (clock_gettime(CLOCK_MONOTONIC, &time) != 0) return false;
    *counts = static_cast<int64_t>(time.tv_sec) * 1000000000 + time.tv_nsec;
    return true;
  }
  void yield() override { sched_yield(); }
};

PosixClock clock_instance;

}  // namespace

Clock& system_clock() {
  return clock_instance;
}
