// The performance counter on Windows.
#include <windows.h>

#include "audio/clock.h"

namespace {

class WinClock final : public Clock {
 public:
  bool frequency(int64_t* counts_per_second) override {
    LARGE_INTEGER value{};
    const BOOL ok = QueryPerformanceFrequency(&value);
    *counts_per_second = value.QuadPart;
    return ok != 0;
  }
  bool now(int64_t* counts) override {
    LARGE_INTEGER value{};
    const BOOL ok = QueryPerformanceCounter(&value);
    *counts = value.QuadPart;
    return ok != 0;
  }
  void yield() override { Sleep(0); }
};

WinClock clock_instance;

}  // namespace

Clock& system_clock() {
  return clock_instance;
}
