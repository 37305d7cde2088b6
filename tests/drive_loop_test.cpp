// The drive loop's seek: the song replayed without frames up to a time, then
// played on, against the same song played from its start.
#include "audio/drive_loop.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "psg/stretch_engine.h"

namespace {

// Takes every frame the engine makes.
class Collect final : public DrivePolicy {
 public:
  explicit Collect(SampleRing& ring) : ring_(ring) {}
  uint32_t before_run(uint32_t due) override {
    if (ring_wants_emptying(ring_)) take();
    return due;
  }
  void take() {
    uint8_t piece[SampleRing::kDrainBytes];
    for (uint32_t n; (n = ring_.drain(piece)) != 0;)
      bytes.insert(bytes.end(), piece, piece + n);
  }
  std::vector<uint8_t> bytes;

 private:
  SampleRing& ring_;
};

std::vector<TimedWrite> random_song(uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<TimedWrite> writes;
  uint64_t time = 0;
  for (int i = 0; i < 400; ++i) {
    time += random() % 3 == 0 ? 0 : random() % 6000;
    writes.push_back({time, static_cast<uint8_t>(random() % 14),
                      static_cast<uint8_t>(random() % 4 == 0 ? random() % 3 : random())});
  }
  return writes;
}

std::vector<uint8_t> play(const std::vector<TimedWrite>& writes, int64_t seek_to) {
  SampleRing ring;
  StretchEngine engine(ring);
  engine.install_volume_table(kFullLevels);
  TimedWriteSource source(writes);
  DriveLoop loop(source, engine);
  EXPECT_TRUE(loop.read_first());
  loop.start();
  if (seek_to >= 0) {
    EXPECT_TRUE(loop.seek(static_cast<uint64_t>(seek_to)));
  }
  Collect collect(ring);
  EXPECT_EQ(loop.run(collect), DriveEnd::SourceEnded);
  collect.take();
  return collect.bytes;
}

TEST(DriveLoop, ASeekLeavesTheFramesThatFollowAsTheyWere) {
  for (uint32_t seed = 1; seed <= 20; ++seed) {
    const std::vector<TimedWrite> writes = random_song(seed);
    const std::vector<uint8_t> whole = play(writes, -1);
    const uint64_t end = writes.back().time - writes.front().time;
    for (const uint64_t at : {uint64_t{0}, uint64_t{1}, end / 3, end - 1, end}) {
      // The frames due on ticks 1..at are the ones the seek skips.
      const size_t skipped = 4 * static_cast<size_t>(at * 44100 / 1000000);
      const std::vector<uint8_t> rest = play(writes, static_cast<int64_t>(at));
      ASSERT_EQ(rest.size() + skipped, whole.size()) << seed << " at " << at;
      ASSERT_TRUE(std::equal(rest.begin(), rest.end(), whole.begin() + skipped))
          << seed << " at " << at;
    }
  }
}

}  // namespace
