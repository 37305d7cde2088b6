#include "audio/drive_loop.h"

#include <limits>

bool DriveLoop::read_first() {
  pending_ = source_.first_write(&reg_, &value_);
  due_ = 0;
  return pending_;
}

void DriveLoop::start() {
  engine_.reset();
  engine_.write_register(reg_, value_);
  pending_ = false;
  now_ = 0;
}

DriveEnd DriveLoop::run(DrivePolicy& policy) {
  for (;;) {
    if (!pending_) {
      if (!source_.next_write(&due_, &reg_, &value_)) return DriveEnd::SourceEnded;
      pending_ = true;
    }
    while (due_ != 0) {
      constexpr uint64_t kMaxRun = std::numeric_limits<uint32_t>::max();
      const uint32_t asked =
          policy.before_run(static_cast<uint32_t>(due_ < kMaxRun ? due_ : kMaxRun));
      if (asked == 0) return DriveEnd::Stopped;
      const uint32_t ran = engine_.run(asked);
      due_ -= ran;
      now_ += ran;
      policy.after_run(ran);
    }
    engine_.write_register(reg_, value_);
    pending_ = false;
  }
}

bool DriveLoop::seek(uint64_t ticks) {
  if (!source_.rewind() || !read_first()) return false;
  start();
  for (;;) {
    if (!source_.next_write(&due_, &reg_, &value_)) {
      // The song ends before the time asked for: it stays at its end.
      pending_ = false;
      return true;
    }
    if (now_ + due_ > ticks) break;
    engine_.advance(due_);
    now_ += due_;
    engine_.write_register(reg_, value_);
  }
  const uint64_t rest = ticks - now_;
  engine_.advance(rest);
  now_ += rest;
  due_ -= rest;
  pending_ = true;
  return true;
}
