#include "psg/sample_ring.h"

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

inline void SampleRing::record(Band band) {
  ring_state_.store(state_of(band), std::memory_order_relaxed);
  int16_t current = drift_correction_.load(std::memory_order_relaxed);
  int16_t wanted = 0;
  do {
    wanted = next_drift(band, current);
    // Pinned at a limit or settled at 0: nothing to change, nothing to write.
    if (wanted == current) return;
  } while (!drift_correction_.compare_exchange_weak(current, wanted,
                                                    std::memory_order_relaxed));
}

SampleRing::Band SampleRing::observe_fill() {
  // Each case passes its band as a constant, so that the feedback step is
  // worked out for it at compile time: this runs once per tick of the tick
  // loop.
  const Band band = band_of(fill_level());
  switch (band) {
    case Band::Empty: record(Band::Empty); break;
    case Band::Low: record(Band::Low); break;
    case Band::Middle: record(Band::Middle); break;
    case Band::High: record(Band::High); break;
  }
  return band;
}

void SampleRing::feedback_update() {
  observe_fill();
}

void SampleRing::report_full() {
  ring_state_.store(kStateDropped, std::memory_order_relaxed);
  int16_t current = drift_correction_.load(std::memory_order_relaxed);
  int16_t wanted = 0;
  do {
    wanted =
        static_cast<int16_t>(current + 10 > kDriftLimit ? kDriftLimit : current + 10);
    if (wanted == current) return;
  } while (!drift_correction_.compare_exchange_weak(current, wanted,
                                                    std::memory_order_relaxed));
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
  if (observe_fill() == Band::Empty) return 0;
  bool wrapped = false;
  uint32_t copied = copy_out(destination, kDrainBytes, &wrapped);
  if (copied != 0 && copied < kDrainBytes && wrapped) {
    copied += copy_out(destination + copied, kDrainBytes - copied, &wrapped);
  }
  return copied;
}

uint32_t SampleRing::drain_in_place(const uint8_t** piece) {
  if (observe_fill() == Band::Empty) return 0;
  // The producer is not running: the offsets hold still.
  const uint32_t write = write_offset_.load(std::memory_order_relaxed);
  const uint32_t read = read_offset_.load(std::memory_order_relaxed);
  const uint32_t available = write >= read ? write - read : write - read + kBytes;
  const uint32_t count = available < kDrainBytes ? available : kDrainBytes;
  if (read + count > kBytes) {
    std::memcpy(storage_ + kBytes, storage_, read + count - kBytes);
  }
  *piece = storage_ + read;
  const uint32_t next = read + count;
  read_offset_.store(next >= kBytes ? next - kBytes : next, std::memory_order_release);
  return count;
}
