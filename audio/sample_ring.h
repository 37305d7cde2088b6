// The sample ring between the chip and the outputs, and the fill feedback it
// derives from its own fill level.
//
// One producer (the chip's resampler, on the thread that drives the chip) and
// one consumer (the WAV writer's flush on the same thread, or the live
// engine's refill thread) share it without a lock: each offset has exactly one
// writer, the producer stores a frame before it publishes the write offset
// (release) and the consumer reads that offset (acquire) before it copies.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstring>

class SampleRing {
 public:
  static constexpr uint32_t kBytes = 49152;      // 12288 frames, 278.6 ms
  static constexpr uint32_t kDrainBytes = 6144;  // 1536 frames, 34.8 ms
  static constexpr uint32_t kHighWater = 36864;  // above: state 5
  static constexpr uint32_t kLowWater = 12288;   // below: state -5

  // Ring states, the last observation of the fill level.
  static constexpr int16_t kStateHigh = 5;
  static constexpr int16_t kStateMiddle = 0;
  static constexpr int16_t kStateLow = -5;
  static constexpr int16_t kStateEmpty = -10;
  static constexpr int16_t kStateDropped = 10;

  static constexpr int16_t kDriftLimit = 100;

  // Empties the ring. Leaves the ring state and the drift correction alone.
  // Only while no drain can run concurrently, or the ring is empty.
  void reset();

  // Bytes held: 0..49148, a multiple of 4. Equal offsets mean empty, so the
  // ring holds one frame less than it has slots.
  uint32_t fill_level() const;

  // Copies one contiguous stretch of at most max_bytes out of the ring and
  // sets *wrapped when that stretch ran to the end of the storage. Returns
  // the number of bytes copied.
  uint32_t copy_out(uint8_t* destination, uint32_t max_bytes, bool* wrapped);

  // Updates the feedback from the fill level, then takes up to 6144 bytes of
  // whole frames out into destination (at least 6144 bytes of room), in at
  // most two copies. Returns the byte count; 0 for an empty ring.
  uint32_t drain(uint8_t* destination);

  // Measures the fill level and updates the ring state and the drift
  // correction, taking nothing out.
  void feedback_update();

  // Producer side. The resampler reads the consumer's offset once per tick,
  // before it decides whether a frame is due, and makes the full decision on
  // that one value.
  uint32_t observe_read_offset() const {
    return read_offset_.load(std::memory_order_acquire);
  }
  bool is_full(uint32_t observed_read_offset) const {
    return next_write_offset() == observed_read_offset;
  }
  // A frame was due but the ring was full: it is lost, not postponed.
  void report_full();
  // Appends one frame (left, right; little-endian 16-bit each) and publishes it.
  void push(int16_t left, int16_t right) {
    const uint32_t next = next_write_offset();
    const uint16_t l = static_cast<uint16_t>(left);
    const uint16_t r = static_cast<uint16_t>(right);
    uint8_t* slot = storage_ + write_position_;
    slot[0] = static_cast<uint8_t>(l);
    slot[1] = static_cast<uint8_t>(l >> 8);
    slot[2] = static_cast<uint8_t>(r);
    slot[3] = static_cast<uint8_t>(r >> 8);
    write_position_ = next;
    write_offset_.store(next, std::memory_order_release);
  }

  // One frame as it lies in the ring (left, right; little-endian 16-bit
  // each), in a 32-bit word for push_repeated().
  static uint32_t pack_frame(int16_t left, int16_t right) {
    const uint16_t l = static_cast<uint16_t>(left);
    const uint16_t r = static_cast<uint16_t>(right);
    const uint8_t bytes[4] = {static_cast<uint8_t>(l), static_cast<uint8_t>(l >> 8),
                              static_cast<uint8_t>(r), static_cast<uint8_t>(r >> 8)};
    uint32_t frame = 0;
    std::memcpy(&frame, bytes, sizeof frame);
    return frame;
  }

  // Appends one packed frame and publishes it, as push() does.
  void push_frame(uint32_t frame) {
    const uint32_t next = next_write_offset();
    std::memcpy(storage_ + write_position_, &frame, sizeof frame);
    write_position_ = next;
    write_offset_.store(next, std::memory_order_release);
  }

  // Appends count copies of a packed frame and publishes them all with one store:
  // the same published bytes and offsets as count calls of push(). It may
  // also write up to three more copies into the free slots after the run,
  // which later frames overwrite before anyone reads them. Only for a
  // producer that knows there is room for count + 3 frames, as the renderer
  // does since it drains the ring at 36868 bytes.
  void push_repeated(uint32_t frame, uint32_t count) {
    uint8_t block[16];
    for (int i = 0; i < 16; i += 4) std::memcpy(block + i, &frame, 4);
    const uint32_t bytes = 4 * count;
    uint8_t* destination = storage_ + write_position_;
    if (write_position_ + bytes + 12 <= kBytes) {
      // Whole 16-byte blocks: no odd frames at the end to branch over.
      for (uint32_t i = 0; i < bytes; i += 16) std::memcpy(destination + i, block, 16);
    } else {
      // Near the end of the storage: frame by frame, wrapping round.
      uint32_t position = write_position_;
      for (uint32_t i = 0; i < count; ++i) {
        std::memcpy(storage_ + position, &frame, 4);
        position = position + 4 == kBytes ? 0 : position + 4;
      }
    }
    uint32_t next = write_position_ + bytes;
    if (next >= kBytes) next -= kBytes;
    write_position_ = next;
    write_offset_.store(next, std::memory_order_release);
  }

  int16_t ring_state() const { return ring_state_.load(std::memory_order_relaxed); }
  void set_ring_state(int16_t state) {
    ring_state_.store(state, std::memory_order_relaxed);
  }
  int16_t drift_correction() const {
    return drift_correction_.load(std::memory_order_relaxed);
  }
  // For tests and tools that need a starting point; the program never sets it.
  void set_drift_correction(int16_t value) {
    drift_correction_.store(value, std::memory_order_relaxed);
  }

  // Test access to the offsets and the raw storage.
  uint32_t read_offset() const { return read_offset_.load(std::memory_order_relaxed); }
  uint32_t write_offset() const { return write_offset_.load(std::memory_order_relaxed); }
  void set_offsets_for_test(uint32_t read, uint32_t write);
  uint8_t* storage() { return storage_; }

 private:
  uint32_t next_write_offset() const {
    const uint32_t next = write_position_ + 4;
    return next == kBytes ? 0 : next;
  }
  // Adds delta to the drift correction and clamps it to -100..100, as one
  // atomic read-modify-write: the other thread's adjustments are never lost.
  void adjust_drift(int delta);
  // Moves the drift correction toward 0 (by 5 from beyond +-5, else by 1),
  // atomically, never crossing 0.
  void decay_drift();
  // Steps 1 to 4 of the feedback update; returns the fill level measured.
  uint32_t observe_fill();

  alignas(64) uint8_t storage_[kBytes] = {};
  // Written by the consumer only (and by reset).
  alignas(64) std::atomic<uint32_t> read_offset_{0};
  // Written by the producer only (and by reset); write_position_ is the
  // producer's own copy, equal to the write offset, so the producer never
  // loads its own atomic.
  alignas(64) std::atomic<uint32_t> write_offset_{0};
  uint32_t write_position_ = 0;
  alignas(64) std::atomic<int16_t> ring_state_{0};
  std::atomic<int16_t> drift_correction_{0};
};
