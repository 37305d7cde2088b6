#include "audio/sample_ring.h"

#include <cstring>

void SampleRing::reset() {
  read_offset_.store(0, std::memory_order_relaxed);
  write_position_ = 0;
  write_offset_.store(0, std::memory_order_release);
}

void SampleRing::set_offsets_for_test(uint32_t read, uint32_t write) {
  read_offset_.store(read, std::memory_order_relaxed);
  write_position_ = write;
  write_offset_.store(write, std::memory_order_release);
}

uint32_t SampleRing::fill_level() const {
  const uint32_t write = write_offset_.load(std::memory_order_acquire);
  const uint32_t read = read_offset_.load(std::memory_order_acquire);
  return write >= read ? write - read : write - read + kBytes;
}

void SampleRing::adjust_drift(int delta) {
  int16_t current = drift_correction_.load(std::memory_order_relaxed);
  int16_t wanted = 0;
  do {
    int next = current + delta;
    if (next > kDriftLimit) next = kDriftLimit;
    if (next < -kDriftLimit) next = -kDriftLimit;
    wanted = static_cast<int16_t>(next);
    // Pinned at a limit: nothing to change, so nothing to write.
    if (wanted == current) return;
  } while (!drift_correction_.compare_exchange_weak(current, wanted,
                                                    std::memory_order_relaxed));
}

void SampleRing::decay_drift() {
  int16_t current = drift_correction_.load(std::memory_order_relaxed);
  int16_t wanted = 0;
  do {
    if (current < -5) {
      wanted = static_cast<int16_t>(current + 5);
    } else if (current < 0) {
      wanted = static_cast<int16_t>(current + 1);
    } else if (current == 0) {
      return;
    } else if (current <= 5) {
      wanted = static_cast<int16_t>(current - 1);
    } else {
      wanted = static_cast<int16_t>(current - 5);
    }
  } while (!drift_correction_.compare_exchange_weak(current, wanted,
                                                    std::memory_order_relaxed));
}

uint32_t SampleRing::observe_fill() {
  const uint32_t fill = fill_level();
  if (fill > kHighWater) {
    ring_state_.store(kStateHigh, std::memory_order_relaxed);
    adjust_drift(+5);
  } else if (fill < kLowWater) {
    ring_state_.store(kStateLow, std::memory_order_relaxed);
    adjust_drift(-5);
  } else {
    ring_state_.store(kStateMiddle, std::memory_order_relaxed);
    decay_drift();
  }
  return fill;
}

void SampleRing::feedback_update() {
  if (observe_fill() == 0) {
    // An empty ring counts as low and then once more as empty: -15 in all.
    ring_state_.store(kStateEmpty, std::memory_order_relaxed);
    adjust_drift(-10);
  }
}

void SampleRing::report_full() {
  ring_state_.store(kStateDropped, std::memory_order_relaxed);
  adjust_drift(+10);
}

uint32_t SampleRing::copy_out(uint8_t* destination, uint32_t max_bytes, bool* wrapped) {
  const uint32_t write = write_offset_.load(std::memory_order_acquire);
  const uint32_t read = read_offset_.load(std::memory_order_relaxed);
  uint32_t available = 0;
  if (write < read) {
    available = kBytes - read;
    *wrapped = true;
  } else {
    *wrapped = false;
    available = write - read;
    if (available == 0) return 0;
  }
  const uint32_t count = available < max_bytes ? available : max_bytes;
  std::memcpy(destination, storage_ + read, count);
  const uint32_t next = read + count;
  // Published only after the copy, and already wrapped: the producer never
  // sees 49152.
  read_offset_.store(next == kBytes ? 0 : next, std::memory_order_release);
  return count;
}

uint32_t SampleRing::drain(uint8_t* destination) {
  if (observe_fill() == 0) {
    ring_state_.store(kStateEmpty, std::memory_order_relaxed);
    adjust_drift(-10);
    return 0;
  }
  bool wrapped = false;
  uint32_t copied = copy_out(destination, kDrainBytes, &wrapped);
  if (copied != 0 && copied < kDrainBytes && wrapped) {
    copied += copy_out(destination + copied, kDrainBytes - copied, &wrapped);
  }
  return copied;
}
