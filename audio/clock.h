// The high-resolution clock that paces live play.
#pragma once

#include <cstdint>

class Clock {
 public:
  virtual ~Clock() = default;
  // Counts per second of the counter. Returns false when there is no counter.
  virtual bool frequency(int64_t* counts_per_second) = 0;
  // The counter's current value, monotonic at that frequency. Returns false
  // when the query failed.
  virtual bool now(int64_t* counts) = 0;
  // Gives the rest of the time slice to any other ready thread; returns at
  // once when there is none.
  virtual void yield() = 0;
  // Sleeps until the counter reaches `counts` (an absolute reading, not a
  // duration), or a little after: the system wakes sleepers late, never
  // early. Returns false when the sleep failed; the caller then waits by
  // checking the counter.
  virtual bool sleep_until(int64_t counts) = 0;
};

// The system's monotonic counter (one per program).
Clock& system_clock();
