// The studio chip against a tick-by-tick model of the same chip, written
// plainly from its rules: every level change a channel makes, at the tick it
// makes it, under random writes, and the generators' state at the end.
#include "psg/studio_chip.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <tuple>
#include <vector>

#include "psg/chip_levels.h"

namespace {

using Change = std::tuple<uint64_t, int, float>;

struct ReferenceChip {
  ChipModel model;
  uint32_t clock;
  uint32_t fast_hz;
  uint8_t regs[16] = {};
  uint32_t tone_count[3] = {}, noise_count = 0, envelope_count = 0;
  bool tone[3] = {};
  uint32_t lfsr = 1;
  uint64_t envelope_steps = 0;  // since the last write to register 13
  float last[3] = {};

  int steps() const { return model == ChipModel::Ym ? 32 : 16; }
  uint32_t period(int lo, int hi) const {
    const uint32_t p = regs[lo] | uint32_t{regs[hi]} << 8;
    return p == 0 ? 1 : p;
  }
  int envelope_level() const {
    const int s = steps();
    const uint8_t shape = regs[13];
    const bool up = (shape & 4) != 0;
    const uint64_t k = envelope_steps;
    if (k < uint64_t(s) || ((shape & 8) && !(shape & 1))) {
      const bool flipped = (shape & 8) && (shape & 2) && ((k / s) & 1);
      const int within = static_cast<int>(k % s);
      return (up != flipped) ? within : s - 1 - within;
    }
    if (!(shape & 8)) return 0;
    return (up != ((shape & 2) != 0)) ? s - 1 : 0;
  }
  float level(int c) const {
    const uint8_t a = regs[8 + c];
    if (a & 0x10) {
      return model == ChipModel::Ym ? kYmLevels[envelope_level()]
                                    : kAyLevels[envelope_level()];
    }
    if ((a & 15) == 0) return 0;
    return model == ChipModel::Ym ? kYmLevels[(a & 15) * 2 + 1] : kAyLevels[a & 15];
  }
  float output(int c) const {
    float gate = 1;
    if (!(regs[7] & (1 << c))) {
      const bool fast = clock > 16ull * period(2 * c, 2 * c + 1) * fast_hz;
      gate = fast ? 0.5f : (tone[c] ? 1.0f : 0.0f);
    }
    if (!(regs[7] & (8 << c)) && !(lfsr & 1)) gate = 0;
    return level(c) * gate;
  }
  void tick(uint64_t t) {
    if (t % 8 == 0) {
      for (int c = 0; c < 3; ++c) {
        if (++tone_count[c] >= period(2 * c, 2 * c + 1)) {
          tone_count[c] = 0;
          tone[c] = !tone[c];
        }
      }
    }
    if (t % 16 == 0 && ++noise_count >= (regs[6] == 0 ? 1u : regs[6])) {
      noise_count = 0;
      lfsr = (lfsr >> 1) | (((lfsr ^ (lfsr >> 3)) & 1) << 16);
    }
    const uint32_t unit = model == ChipModel::Ym ? 8 : 16;
    if (t % unit == 0 && ++envelope_count >= period(11, 12)) {
      envelope_count = 0;
      ++envelope_steps;
    }
  }
  void write(uint8_t reg, uint8_t value) {
    static constexpr uint8_t kMasks[14] = {255, 15, 255, 15, 255, 15,  31,
                                           255, 31, 31,  31, 255, 255, 15};
    if (reg > 13) return;
    regs[reg] = value & kMasks[reg];
    if (reg == 13) envelope_count = 0, envelope_steps = 0;
  }
  void record(uint64_t t, std::vector<Change>& changes) {
    for (int c = 0; c < 3; ++c) {
      const float now = output(c);
      if (now != last[c]) changes.emplace_back(t, c, now);
      last[c] = now;
    }
  }
};

// Several changes of one channel at one tick count as the last of them;
// changes back to the value already held count as none.
std::vector<Change> collapse(const std::vector<Change>& changes) {
  std::map<std::pair<uint64_t, int>, float> last;
  for (const auto& [t, c, v] : changes) last[{t, c}] = v;
  std::vector<Change> out;
  float held[3] = {};
  for (const auto& [key, v] : last) {
    if (v != held[key.second]) out.emplace_back(key.first, key.second, v);
    held[key.second] = v;
  }
  return out;
}

TEST(StudioChip, MatchesATickByTickModelUnderRandomWrites) {
  for (ChipModel model : {ChipModel::Ay, ChipModel::Ym}) {
    std::mt19937 random(model == ChipModel::Ym ? 7 : 3);
    StudioChip chip(model, 1000000, 24100, UINT32_MAX);
    ReferenceChip reference{model, 1000000, 24100};
    std::vector<Change> got;
    std::vector<Change> want;
    auto sink = [&got](uint64_t t, unsigned, const float* v) {
      for (int c = 0; c < 3; ++c) got.emplace_back(t, c, v[c]);
    };
    uint64_t now = 0;
    for (int write = 0; write < 600; ++write) {
      // Now and then a gap longer than the noise register's whole cycle.
      const uint64_t gap = write % 50 < 5 ? 20000 : 700;
      const uint64_t until = now + random() % gap + (write % 100 == 99 ? 2'200'000 : 0);
      chip.run_to(until, sink);
      for (uint64_t t = now + 1; t <= until; ++t) {
        reference.tick(t);
        reference.record(t, want);
      }
      now = until;
      uint8_t reg = random() % 14;
      // Small periods often, so that counters run past a shortened period.
      uint8_t value = static_cast<uint8_t>(random());
      if (reg < 13 && reg != 7 && random() % 2) value %= 6;
      if (reg >= 8 && reg <= 10 && random() % 3 == 0) value |= 0x10;
      // Before each long gap the fastest noise, then no channel taking it:
      // it catches up later over more than its register's whole cycle.
      if (write % 100 == 97) reg = 6, value &= 1;
      if (write % 100 == 98) reg = 7, value |= 0x38;
      chip.write(now, reg, value, sink);
      reference.write(reg, value);
      reference.record(now, want);
    }
    EXPECT_EQ(collapse(got), collapse(want));
    chip.synchronize(now);
    EXPECT_EQ(chip.noise_shift_register(), reference.lfsr);
    for (int c = 0; c < 3; ++c) EXPECT_EQ(chip.tone_bit(c), reference.tone[c]) << c;
  }
}

}  // namespace
