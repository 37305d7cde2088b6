// The sample ring between the chip and the outputs, and the fill feedback it
// derives from its own fill level.
//
// One producer (a synthesis engine's sampler, on the thread that drives the
// chip) and one consumer (the WAV writer's flush on the same thread, or the
// live engine's refill thread) share it without a lock: each offset has exactly one
// writer, the producer stores a frame before it publishes the write offset
// (release) and the consumer reads that offset (acquire) before it copies.
#pragma once

#include <atomic>
#include <bit>
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

  // The fill level as the feedback sees it. Empty counts as low first and
  // then once more as empty.
  enum class Band : uint8_t { Empty, Low, Middle, High };
  static Band band_of(uint32_t fill_bytes) {
    if (fill_bytes == 0) return Band::Empty;
    if (fill_bytes < kLowWater) return Band::Low;
    if (fill_bytes <= kHighWater) return Band::Middle;
    return Band::High;
  }
  static int16_t state_of(Band band) {
    static constexpr int16_t kStates[] = {kStateEmpty, kStateLow, kStateMiddle,
                                          kStateHigh};
    return kStates[static_cast<int>(band)];
  }
  // One feedback update's effect on the drift correction: +5 when high, -5
  // when low, -15 when empty (each clamped to -100..100), and toward 0 in the
  // middle (by 5 from beyond +-5, else by 1, never crossing 0).
  static int16_t next_drift(Band band, int16_t drift) {
    const auto clamp = [](int value) {
      return static_cast<int16_t>(value > kDriftLimit    ? kDriftLimit
                                  : value < -kDriftLimit ? -kDriftLimit
                                                         : value);
    };
    switch (band) {
      case Band::High: return clamp(drift + 5);
      case Band::Low: return clamp(drift - 5);
      case Band::Empty: return clamp(clamp(drift - 5) - 10);
      case Band::Middle: break;
    }
    if (drift < -5) return static_cast<int16_t>(drift + 5);
    if (drift < 0) return static_cast<int16_t>(drift + 1);
    if (drift == 0) return 0;
    if (drift <= 5) return static_cast<int16_t>(drift - 1);
    return static_cast<int16_t>(drift - 5);
  }

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

  // The same drain without the copy, for a consumer on the producer's own
  // thread: points *piece at the bytes in the ring itself (a piece that
  // wraps is joined in a spare area after the storage) and takes them out.
  // The bytes stay valid until the next push. Returns the byte count; 0 for
  // an empty ring.
  uint32_t drain_in_place(const uint8_t** piece);

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
  // each), in a 32-bit word to store into a free slot.
  static uint32_t pack_frame(int16_t left, int16_t right) {
    const uint32_t l = static_cast<uint16_t>(left);
    const uint32_t r = static_cast<uint16_t>(right);
    if constexpr (std::endian::native == std::endian::little) {
      // Stored as it is, this word already holds the bytes in file order.
      return l | r << 16;
    } else {
      return (l & 0xFF) << 24 | (l >> 8) << 16 | (r & 0xFF) << 8 | r >> 8;
    }
  }

  // For a producer that makes many frames at once and writes them into the
  // free slots itself: the first free slot and how many frames fit from
  // there to the end of the storage (the rest go from first_slot()); then
  // publish() appends the frames written, with one store. Only for a
  // producer that knows there is room, as the renderer does.
  uint8_t* free_slots(uint32_t* frames_to_end) {
    *frames_to_end = (kBytes - write_position_) / 4;
    return storage_ + write_position_;
  }
  uint8_t* first_slot() { return storage_; }
  void publish(uint32_t frames) {
    uint32_t next = write_position_ + 4 * frames;
    if (next >= kBytes) next -= kBytes;
    write_position_ = next;
    write_offset_.store(next, std::memory_order_release);
  }

  // The fill feedback as the drains and the producer's full ring left it;
  // live play's pacing reads the drift correction, nothing reads it in a
  // render.
  int16_t ring_state() const { return ring_state_.load(std::memory_order_relaxed); }
  int16_t drift_correction() const {
    return drift_correction_.load(std::memory_order_relaxed);
  }
  // For tests that need a starting point: only the feedback updates of the
  // drains and report_full() move it in the programs.
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
  // Sets the ring state for the band and applies one feedback update to the
  // drift correction, as one atomic read-modify-write: the other thread's
  // adjustments are never lost.
  void record(Band band);
  // Measures the fill level, sets the ring state and steps the drift
  // correction; returns the band measured.
  Band observe_fill();

  // The ring, then room to join a wrapped piece for drain_in_place().
  alignas(64) uint8_t storage_[kBytes + kDrainBytes] = {};
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
