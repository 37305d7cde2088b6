// The ring's offsets, its drains and the fill feedback.
#include "psg/sample_ring.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

// Puts `bytes` of numbered frames into the ring ending at write offset `write`.
void hold(SampleRing& ring, uint32_t read, uint32_t write) {
  ring.set_offsets_for_test(read, write);
  for (uint32_t at = read; at != write; at = (at + 4) % SampleRing::kBytes) {
    const uint32_t frame = at / 4;
    std::memcpy(ring.storage() + at, &frame, 4);
  }
}

TEST(SampleRing, FramesWrittenIntoFreeSlotsAreWhatSinglePushesWouldBe) {
  // Across the end of the storage, close to it, and none at all.
  for (uint32_t start : {0u, 40000u, SampleRing::kBytes - 4, SampleRing::kBytes - 12}) {
    for (uint32_t count : {0u, 1u, 3u, 2500u}) {
      SampleRing one_by_one;
      SampleRing bulk;
      one_by_one.set_offsets_for_test(start, start);
      bulk.set_offsets_for_test(start, start);
      uint32_t to_end = 0;
      uint8_t* const slots = bulk.free_slots(&to_end);
      for (uint32_t i = 0; i < count; ++i) {
        one_by_one.push(static_cast<int16_t>(-2 - i), 0x1234);
        const uint32_t frame =
            SampleRing::pack_frame(static_cast<int16_t>(-2 - i), 0x1234);
        uint8_t* slot = i < to_end ? slots + 4 * i : bulk.first_slot() + 4 * (i - to_end);
        std::memcpy(slot, &frame, 4);
      }
      bulk.publish(count);
      EXPECT_EQ(bulk.write_offset(), one_by_one.write_offset()) << start << " " << count;
      EXPECT_EQ(0, std::memcmp(bulk.storage(), one_by_one.storage(), SampleRing::kBytes))
          << start << " " << count;
    }
  }
}

TEST(SampleRing, FillLevelBoundariesSetTheRingStateAndDrift) {
  struct Case {
    uint32_t fill;
    int16_t drift_before;
    int16_t state;
    int16_t drift_after;
  };
  const Case cases[] = {
      {36864, 10, 0, 5},     {36868, 0, 5, 5},   {36868, 98, 5, 100},
      {36868, 100, 5, 100},  {12288, -7, 0, -2}, {12284, 0, -5, -5},
      {12288, 3, 0, 2},      {12288, 1, 0, 0},   {12288, 0, 0, 0},
      {12288, -100, 0, -95}, {0, 0, -10, -15},   {0, -90, -10, -100},
      {0, -100, -10, -100},  {49148, 0, 5, 5},
  };
  for (const Case& c : cases) {
    SampleRing ring;
    ring.set_offsets_for_test(100 * 4, (100 * 4 + c.fill) % SampleRing::kBytes);
    ring.set_drift_correction(c.drift_before);
    ring.feedback_update();
    EXPECT_EQ(ring.fill_level(), c.fill);
    EXPECT_EQ(ring.ring_state(), c.state) << c.fill;
    EXPECT_EQ(ring.drift_correction(), c.drift_after) << c.fill << " " << c.drift_before;
  }
}

TEST(SampleRing, DecayApproachesZeroWithoutCrossingIt) {
  SampleRing ring;
  ring.set_offsets_for_test(0, 20000);
  std::vector<int> seen;
  ring.set_drift_correction(7);
  for (int i = 0; i < 4; ++i) {
    ring.feedback_update();
    seen.push_back(ring.drift_correction());
  }
  ring.set_drift_correction(-7);
  for (int i = 0; i < 4; ++i) {
    ring.feedback_update();
    seen.push_back(ring.drift_correction());
  }
  EXPECT_EQ(seen, (std::vector<int>{2, 1, 0, 0, -2, -1, 0, 0}));
}

TEST(SampleRing, DrainOfAnEmptyRingCopiesNothing) {
  SampleRing ring;
  uint8_t out[SampleRing::kDrainBytes] = {};
  EXPECT_EQ(ring.drain(out), 0u);
  EXPECT_EQ(ring.ring_state(), SampleRing::kStateEmpty);
  EXPECT_EQ(ring.drift_correction(), -15);
}

TEST(SampleRing, DrainsAtMost6144BytesInOrder) {
  SampleRing ring;
  hold(ring, 0, 20000);
  std::vector<uint8_t> out(SampleRing::kDrainBytes);
  EXPECT_EQ(ring.drain(out.data()), 6144u);
  EXPECT_EQ(ring.fill_level(), 13856u);
  uint32_t first = 0;
  uint32_t last = 0;
  std::memcpy(&first, out.data(), 4);
  std::memcpy(&last, out.data() + 6140, 4);
  EXPECT_EQ(first, 0u);
  EXPECT_EQ(last, 1535u);
}

TEST(SampleRing, DrainFollowsTheHeldFramesAcrossTheEnd) {
  SampleRing ring;
  hold(ring, 49148, 8);
  std::vector<uint8_t> out(SampleRing::kDrainBytes);
  EXPECT_EQ(ring.drain(out.data()), 12u);
  EXPECT_EQ(ring.read_offset(), 8u);
  uint32_t frames[3];
  std::memcpy(frames, out.data(), 12);
  EXPECT_EQ(frames[0], 12287u);
  EXPECT_EQ(frames[1], 0u);
  EXPECT_EQ(frames[2], 1u);

  hold(ring, 49148, 0);
  EXPECT_EQ(ring.drain(out.data()), 4u);
  EXPECT_EQ(ring.read_offset(), 0u);
}

// The renderer drains without a copy: the same pieces, offsets and feedback
// as a copying drain, wherever the held frames lie.
TEST(SampleRing, DrainInPlaceAgreesWithTheCopyingDrain) {
  const uint32_t kEnd = SampleRing::kBytes;
  const uint32_t offsets[][2] = {{0, 0},           {0, 20000},    {49148, 8},
                                 {49148, 0},       {40000, 3000}, {kEnd - 6144, 0},
                                 {kEnd - 6140, 4}, {12, 8},       {43008, 36864}};
  for (const auto& [read, write] : offsets) {
    SCOPED_TRACE(testing::Message() << read << " " << write);
    SampleRing copying;
    SampleRing in_place;
    hold(copying, read, write);
    hold(in_place, read, write);
    std::vector<uint8_t> out(SampleRing::kDrainBytes);
    for (int piece = 0; piece < 10; ++piece) {
      const uint32_t copied = copying.drain(out.data());
      const uint8_t* bytes = nullptr;
      ASSERT_EQ(in_place.drain_in_place(&bytes), copied);
      if (copied != 0) {
        EXPECT_EQ(std::memcmp(bytes, out.data(), copied), 0);
      }
      EXPECT_EQ(in_place.read_offset(), copying.read_offset());
      EXPECT_EQ(in_place.ring_state(), copying.ring_state());
      EXPECT_EQ(in_place.drift_correction(), copying.drift_correction());
    }
  }
}

TEST(SampleRing, HoldsOneFrameLessThanItHasSlots) {
  SampleRing ring;
  int pushed = 0;
  while (!ring.is_full(ring.observe_read_offset())) {
    ring.push(1, 2);
    ++pushed;
  }
  EXPECT_EQ(pushed, 12287);
  EXPECT_EQ(ring.fill_level(), 49148u);
}

TEST(SampleRing, PushWrapsAtTheEndOfTheStorage) {
  SampleRing ring;
  ring.set_offsets_for_test(8, 49148);
  ring.push(-120, 300);
  EXPECT_EQ(ring.write_offset(), 0u);
  const uint8_t* slot = ring.storage() + 49148;
  EXPECT_EQ(slot[0], 0x88);
  EXPECT_EQ(slot[1], 0xFF);
  EXPECT_EQ(slot[2], 0x2C);
  EXPECT_EQ(slot[3], 0x01);
}

TEST(SampleRing, ResetEmptiesButKeepsTheFeedback) {
  SampleRing ring;
  ring.set_offsets_for_test(0, 40000);
  ring.feedback_update();
  ring.reset();
  EXPECT_EQ(ring.fill_level(), 0u);
  EXPECT_EQ(ring.ring_state(), SampleRing::kStateHigh);
  EXPECT_EQ(ring.drift_correction(), 5);
}

}  // namespace
