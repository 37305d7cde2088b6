// A source of timed writes: what a driver feeds a synthesis engine. The
// register log readers are sources, and so is an imported song held in
// memory, which can also start over (for a seek).
//
// The protocol, as every driver follows it:
//   1. first_write(): the first write, applied at chip time 0 whatever its
//      time says. False when the source holds none.
//   2. next_write() until it returns false: run the delay's ticks, then
//      apply the write. False ends the song (its end, or a record that does
//      not parse, which is no error: a log reader tells a failed read apart
//      itself).
#pragma once

#include <algorithm>
#include <cstdint>
#include <span>

#include "common/timed_write.h"

class WriteSource {
 public:
  virtual ~WriteSource() = default;
  virtual bool first_write(uint8_t* reg, uint8_t* value) = 0;
  virtual bool next_write(uint64_t* delay, uint8_t* reg, uint8_t* value) = 0;
  // Goes back to before the first write; false for a source that cannot.
  virtual bool rewind() { return false; }
  // After a false from either: whether a read failed, rather than the song
  // ended.
  virtual bool read_failed() const { return false; }
};

// Writes held in memory, with their absolute times: each delay is the time
// since the write before. The writes must outlive the source.
class TimedWriteSource final : public WriteSource {
 public:
  explicit TimedWriteSource(std::span<const TimedWrite> writes) : writes_(writes) {}

  bool first_write(uint8_t* reg, uint8_t* value) override {
    next_ = 0;
    return take(nullptr, reg, value);
  }
  bool next_write(uint64_t* delay, uint8_t* reg, uint8_t* value) override {
    return take(delay, reg, value);
  }
  bool rewind() override {
    next_ = 0;
    return true;
  }

  // How many writes come at or before `ticks` after the first: found by a
  // binary search on time.
  size_t writes_until(uint64_t ticks) const {
    if (writes_.empty()) return 0;
    const uint64_t time = writes_.front().time + ticks;
    return static_cast<size_t>(
        std::upper_bound(writes_.begin(), writes_.end(), time,
                         [](uint64_t t, const TimedWrite& w) { return t < w.time; }) -
        writes_.begin());
  }
  // The time of the last write after the first: the song's length in ticks.
  uint64_t length() const {
    return writes_.empty() ? 0 : writes_.back().time - writes_.front().time;
  }

 private:
  bool take(uint64_t* delay, uint8_t* reg, uint8_t* value) {
    if (next_ >= writes_.size()) return false;
    const TimedWrite& write = writes_[next_];
    if (delay != nullptr) *delay = next_ == 0 ? 0 : write.time - writes_[next_ - 1].time;
    *reg = write.reg;
    *value = write.value;
    ++next_;
    return true;
  }

  std::span<const TimedWrite> writes_;
  size_t next_ = 0;
};
