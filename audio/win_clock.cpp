// The performance counter on Windows, with a waitable timer to sleep on.
#include <windows.h>

#include "audio/clock.h"

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

namespace {

class WinClock final : public Clock {
 public:
  bool frequency(int64_t* counts_per_second) override {
    LARGE_INTEGER value{};
    const BOOL ok = QueryPerformanceFrequency(&value);
    *counts_per_second = value.QuadPart;
    frequency_ = value.QuadPart;
    return ok != 0;
  }
  bool now(int64_t* counts) override {
    LARGE_INTEGER value{};
    const BOOL ok = QueryPerformanceCounter(&value);
    *counts = value.QuadPart;
    return ok != 0;
  }
  void yield() override { Sleep(0); }
  // The timer takes durations in 100 ns units, so the deadline becomes one
  // from the counter's present reading. The high-resolution timer (Windows 10
  // 1803 and later) wakes within a fraction of a millisecond; where the
  // system has none, an ordinary timer serves at the system's tick.
  bool sleep_until(int64_t counts) override {
    if (frequency_ <= 0 || !open_timer()) return false;
    int64_t present = 0;
    if (!now(&present)) return false;
    if (counts <= present) return true;
    const int64_t counts_left = counts - present;
    const int64_t units = counts_left / frequency_ * 10000000 +
                          counts_left % frequency_ * 10000000 / frequency_;
    LARGE_INTEGER due{};
    due.QuadPart = -units;  // negative: relative to now
    if (!SetWaitableTimer(timer_, &due, 0, nullptr, nullptr, FALSE)) return false;
    return WaitForSingleObject(timer_, INFINITE) == WAIT_OBJECT_0;
  }

 private:
  bool open_timer() {
    if (timer_ != nullptr) return true;
    timer_ = CreateWaitableTimerExW(
        nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION, TIMER_ALL_ACCESS);
    if (timer_ == nullptr) timer_ = CreateWaitableTimerW(nullptr, TRUE, nullptr);
    return timer_ != nullptr;
  }

  int64_t frequency_ = 0;
  HANDLE timer_ = nullptr;
};

WinClock clock_instance;

}  // namespace

Clock& system_clock() {
  return clock_instance;
}
