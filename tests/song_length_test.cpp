// How long a looped song plays, and the writes that play it.
#include "formats/song_length.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdlib>
#include <random>

#include "formats/song.h"
#include "tests/support/song_writers.h"

namespace {

// Registers 0..12 after every write up to and including `time` (-1: unset).
std::array<int, 13> state_at(const std::vector<TimedWrite>& writes, uint64_t time) {
  std::array<int, 13> regs;
  regs.fill(-1);
  for (const TimedWrite& write : writes)
    if (write.time <= time && write.reg < 13) regs[write.reg] = write.value;
  return regs;
}

std::vector<YmFrame> frames_of(int count, unsigned seed) {
  std::mt19937 random(seed);
  std::vector<YmFrame> frames(count);
  for (YmFrame& frame : frames) {
    for (uint8_t& value : frame) value = static_cast<uint8_t>(random() & 0x0F);
    frame[13] = random() % 4 == 0 ? static_cast<uint8_t>(8 + random() % 8) : 0xFF;
  }
  return frames;
}

TEST(SongLength, LoopsRepeatTheLoopedPartAndFadeAfterwards) {
  struct Case {
    int frames;
    uint32_t loop;  // YM5! loop frame (frames or more: none)
    uint16_t rate;
    LengthOptions options;
    bool looped;
  };
  const Case cases[] = {
      {200, 50, 50, {2, 8}, true},    {200, 0, 50, {3, 1.5}, true},
      {200, 199, 60, {4, 0}, true},   {200, 50, 50, {1, 0}, true},
      {200, 50, 50, {1, 2}, true},    {150, 150, 50, {2, 8}, false},
      {150, 9999, 50, {3, 8}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << c.frames << " frames, loop " << c.loop << ", " << c.options.loops
                 << " loops, fade " << c.options.fade_s);
    const ImportResult song = import_song(
        ym_file(ym_recipe("YM5!", true, c.rate, c.loop), frames_of(c.frames, c.loop)),
        ImportOptions{1000000, 0});
    ASSERT_EQ(song.status, ImportStatus::Ok) << song.error;
    const SongLength length = song_length(song.info, c.options);
    EXPECT_EQ(length.looped, c.looped);
    const int loops = c.looped ? c.options.loops : 1;
    const double fade = c.looped ? c.options.fade_s : 0;
    // F + (F - L) * (N - 1) frames, each frame time rounded once per loop.
    const double frames = c.frames + (c.looped ? (c.frames - c.loop) * (loops - 1.0) : 0);
    const double loops_end = frames * 1e6 / c.rate;
    EXPECT_LE(std::abs(static_cast<double>(length.fade_start_us) - loops_end), loops);
    EXPECT_EQ(length.end_us - length.fade_start_us, static_cast<uint64_t>(fade * 1e6));

    const std::vector<TimedWrite> played = writes_to_play(song.writes, length);
    if (length.end_us == song.info.duration_us) {
      EXPECT_EQ(played.size(), song.writes.size());  // played exactly once
      EXPECT_EQ(played.back().time, song.writes.back().time);
      continue;
    }
    EXPECT_EQ(played.back().time, length.end_us);
    for (size_t i = 1; i < played.size(); ++i)
      ASSERT_LE(played[i - 1].time, played[i].time);
    // Anywhere inside a repeated pass the registers are what they were at
    // the same place of the first pass.
    const uint64_t part = length.song_end_us - length.loop_start_us;
    for (uint64_t t = length.song_end_us; t < length.end_us; t += 7919) {
      const uint64_t original = length.loop_start_us + (t - length.song_end_us) % part;
      ASSERT_EQ(state_at(played, t), state_at(song.writes, original)) << "at " << t;
    }
  }
}

TEST(SongLength, VgmLoopOffsetGivesTheLoopTime) {
  // Write, wait 4410 samples (100 ms), the loop: write, wait 4410, end.
  const Bytes commands = {0xA0, 8, 15,   0x61, 0x3A, 0x11, 0xA0,
                          8,    3, 0x61, 0x3A, 0x11, 0x66};
  Bytes file = vgm_file(commands);
  const uint32_t loop_at = 0x100 + 6 - 0x1C;
  for (int i = 0; i < 4; ++i) file[0x1C + i] = static_cast<uint8_t>(loop_at >> (8 * i));
  const ImportResult song = import_song(file, ImportOptions{});
  ASSERT_EQ(song.status, ImportStatus::Ok) << song.error;
  EXPECT_EQ(song.info.loop_time_us, 100000);
  EXPECT_EQ(song_length(song.info, {3, 2}).end_us, 400000u + 2000000u);
  file[0x1C] = 0;  // no loop
  EXPECT_EQ(import_song(file, ImportOptions{}).info.loop_time_us, -1);
}

}  // namespace
