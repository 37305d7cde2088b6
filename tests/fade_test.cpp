// The fade-out's gain over its window.
#include "audio/fade.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

TEST(Fade, FallsFromFullToSilenceOverTheWindow) {
  // 1000 frames a second, so that frame n starts at n ms; fade from frame
  // 100 to frame 200, fed in blocks of every size.
  const FadeWindow fade{100000, 200000};
  struct Case {
    uint64_t frame;
    int16_t in, out;
  };
  const Case cases[] = {
      {0, 32767, 32767},  {99, -32768, -32768}, {100, -32768, -32768},
      {150, 20000, 5000}, {150, -20000, -5000}, {190, 32767, 327},
      {199, 32767, 3},    {200, 32767, 0},      {5000, -32768, 0},
  };
  for (size_t block : {1u, 7u, 64u}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(testing::Message() << "frame " << c.frame << ", block " << block);
      const uint64_t first = c.frame >= block / 2 ? c.frame - block / 2 : 0;
      std::vector<int16_t> samples(2 * block, c.in);
      apply_fade(samples, first, 1000, fade);
      const size_t at = 2 * (c.frame - first);
      EXPECT_EQ(samples[at], c.out);
      EXPECT_EQ(samples[at + 1], c.out);
    }
  }
  // The gain never rises inside the window.
  std::vector<int16_t> ramp(2 * 300, 30000);
  apply_fade(ramp, 0, 1000, fade);
  for (size_t i = 2; i < ramp.size(); i += 2) EXPECT_LE(ramp[i], ramp[i - 2]);
  std::vector<int16_t> none(8, 1234);
  apply_fade(none, 0, 1000, FadeWindow{500, 500});
  EXPECT_EQ(none, std::vector<int16_t>(8, 1234));
}

}  // namespace
