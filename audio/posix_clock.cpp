// The monotonic clock on POSIX systems, read in nanoseconds.
#include <errno.h>
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
  // An absolute deadline on the same clock: a signal that interrupts the
  // sleep simply sleeps again toward the same moment.
  bool sleep_until(int64_t counts) override {
    if (counts < 0) return true;
    timespec deadline{};
    deadline.tv_sec = static_cast<time_t>(counts / 1000000000);
    deadline.tv_nsec = static_cast<long>(counts % 1000000000);
    int result = 0;
    do {
      result = clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr);
    } while (result == EINTR);
    return result == 0;
  }
};

PosixClock clock_instance;

}  // namespace

Clock& system_clock() {
  return clock_instance;
}
