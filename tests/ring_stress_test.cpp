// The ring between two real threads: a producer that never drops and a
// consumer that drains, as the play loop and the refill thread share it.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <thread>

#include "psg/sample_ring.h"

namespace {

#if defined(__SANITIZE_THREAD__)
constexpr bool kUnderThreadSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
constexpr bool kUnderThreadSanitizer = true;
#else
constexpr bool kUnderThreadSanitizer = false;
#endif
#else
constexpr bool kUnderThreadSanitizer = false;
#endif

// Every frame carries its own sequence number in all four bytes (left = low
// half, right = high half), so a lost, repeated, reordered or torn frame shows
// as a wrong number at the consumer.
TEST(RingStress, EveryFrameArrivesOnceInOrderAndWhole) {
  // Tens of millions normally; the race detector runs each access many times
  // slower, so it gets fewer, still millions.
  const uint32_t frames = kUnderThreadSanitizer ? 10'000'000 : 30'000'000;
  auto ring = std::make_unique<SampleRing>();
  std::thread producer([&] {
    for (uint32_t sequence = 0; sequence < frames; ++sequence) {
      // Unlike the resampler, which drops a frame on a full ring, the
      // producer here waits, so that every number must arrive.
      while (ring->is_full(ring->observe_read_offset())) {
        std::this_thread::yield();
      }
      ring->push(static_cast<int16_t>(sequence & 0xFFFF),
                 static_cast<int16_t>(sequence >> 16));
    }
  });

  uint32_t expected = 0;
  uint32_t wrong = 0;
  uint32_t first_wrong_at = 0;
  uint32_t first_wrong_value = 0;
  uint8_t buffer[SampleRing::kDrainBytes];
  while (expected < frames) {
    const uint32_t count = ring->drain(buffer);
    if (count == 0) {
      std::this_thread::yield();
      continue;
    }
    ASSERT_EQ(count % 4, 0u);
    for (uint32_t at = 0; at < count; at += 4) {
      const uint32_t value = static_cast<uint32_t>(buffer[at]) |
                             static_cast<uint32_t>(buffer[at + 1]) << 8 |
                             static_cast<uint32_t>(buffer[at + 2]) << 16 |
                             static_cast<uint32_t>(buffer[at + 3]) << 24;
      if (value != expected && wrong++ == 0) {
        first_wrong_at = expected;
        first_wrong_value = value;
      }
      ++expected;
    }
  }
  producer.join();

  EXPECT_EQ(wrong, 0u) << "frame " << first_wrong_at << " arrived as "
                       << first_wrong_value;
  EXPECT_EQ(expected, frames);
  // Nothing is left over: the consumer saw exactly what the producer made.
  EXPECT_EQ(ring->drain(buffer), 0u);
}

}  // namespace
