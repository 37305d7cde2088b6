// Song imports against writers made from the formats' descriptions: what the
// writes replay to at each frame's time, their timing and rescaling, the
// envelope restarts, the YM timer effects, and every kind of bad input.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <random>

#include "formats/register_stream.h"
#include "formats/song.h"
#include "tests/support/song_writers.h"

namespace {

// The chip's registers after every write up to and including `time`.
std::array<int, 16> replay(const std::vector<TimedWrite>& writes, uint64_t time) {
  std::array<int, 16> regs;
  regs.fill(-1);
  for (const TimedWrite& write : writes)
    if (write.time <= time) regs[write.reg] = write.value;
  return regs;
}

ImportResult import(const Bytes& bytes, uint32_t clock = 0, double rate = 0) {
  return import_song(bytes, ImportOptions{clock, rate});
}

// Frames of random register values; effect bits clear unless `spare_bits`.
std::vector<YmFrame> random_frames(int count, bool spare_bits, unsigned seed) {
  std::mt19937 random(seed);
  std::vector<YmFrame> frames(count);
  for (YmFrame& frame : frames) {
    for (uint8_t& value : frame) value = static_cast<uint8_t>(random());
    for (int reg : {1, 3, 5, 6, 8, 9, 10})
      if (!spare_bits) frame[reg] &= reg == 6 || reg >= 8 ? 0x1F : 0x0F;
    if (random() % 3 == 0) frame[11] = frame[12] = 0;  // envelope period 0
    frame[13] = random() % 2 ? 0xFF : frame[13];
  }
  return frames;
}

}  // namespace

TEST(SongImport, EveryYmVariantReplaysToItsFramesAtTheirTimes) {
  struct Case {
    YmRecipe recipe;
    bool lha;
  };
  const Case cases[] = {{ym_recipe("YM2!"), false},
                        {ym_recipe("YM3!"), false},
                        {ym_recipe("YM3b", true, 50, 7), false},
                        {ym_recipe("YM5!"), false},
                        {ym_recipe("YM6!", false, 60), false},
                        {ym_recipe("YM3!"), true},
                        {ym_recipe("YM6!", false), true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.recipe.magic + (c.lha ? " in LHA" : ""));
    const bool is_new =
        c.recipe.magic.starts_with("YM5") || c.recipe.magic.starts_with("YM6");
    const auto frames = random_frames(300, !is_new, 1);
    const Bytes file = ym_file(c.recipe, frames);
    // At 1 MHz the periods stay as they are, apart from the period-0 rules.
    const ImportResult result = import(c.lha ? lh0_archive(file) : file, 1000000);
    if (c.lha && !ZARNIK_LHA) {  // a build without liblhasa says so
      EXPECT_NE(result.error.find("no LHA support"), std::string::npos) << result.error;
      continue;
    }
    ASSERT_EQ(result.status, ImportStatus::Ok) << result.error;
    const double rate = is_new ? c.recipe.rate : 50;
    // YM2! uses registers 10 to 12 its own way (Ym2FramesKeepTheirOwnRules).
    const bool is_ym2 = c.recipe.magic == "YM2!";
    EXPECT_EQ(result.info.frames, frames.size());
    EXPECT_EQ(result.info.author, is_new ? "Author" : "");
    EXPECT_EQ(result.info.loop_frame,
              c.recipe.magic == "YM3b" || is_new ? int64_t{c.recipe.loop} : -1);
    for (size_t i = 0; i < frames.size(); ++i) {
      const uint64_t time = static_cast<uint64_t>(std::llround(i * 1e6 / rate));
      const auto regs = replay(result.writes, time);
      const uint8_t masks[] = {0xFF, 15, 0xFF, 15, 0xFF, 15,  31,
                               0xFF, 31, 31,   31, 0xFF, 0xFF};
      for (int reg = 0; reg < (is_ym2 ? 10 : 13); ++reg) {
        int want = frames[i][reg] & masks[reg];
        if (reg == 6 && want == 0) want = 1;
        if (reg == 11 && frames[i][11] == 0 && frames[i][12] == 0) want = 1;
        ASSERT_EQ(regs[reg], want) << "frame " << i << " register " << reg;
      }
      const bool shape_written =
          std::any_of(result.writes.begin(), result.writes.end(),
                      [&](const TimedWrite& w) { return w.reg == 13 && w.time == time; });
      ASSERT_EQ(shape_written, frames[i][13] != 0xFF) << "frame " << i;
    }
    EXPECT_TRUE(std::is_sorted(result.writes.begin(), result.writes.end(),
                               [](auto& a, auto& b) { return a.time < b.time; }));
    const TimedWrite last = result.writes.back();
    EXPECT_EQ(last.reg, 7);
    EXPECT_EQ(last.time, static_cast<uint64_t>(std::llround(frames.size() * 1e6 / rate)));
    EXPECT_EQ(result.info.duration_us, last.time);
  }
  // A YM3b loop frame stored little-endian (07 00 00 00) is frame 7.
  const Bytes little =
      ym_file(ym_recipe("YM3b", true, 50, 0x07000000), random_frames(9, 1, 1));
  EXPECT_EQ(import(little).info.loop_frame, 7);
}

// For an engine at the song's own clock: the song's values untouched (period
// 0 stays 0), at each frame's time in cycles of the 2 MHz clock, and no
// envelope restart counted, since that chip restarts on register 13 alone.
TEST(SongImport, SourceChipWritesKeepTheSongsValuesAtItsOwnClock) {
  const auto frames = random_frames(200, false, 3);
  ImportOptions options;
  options.source_chip = true;
  const ImportResult result = import_song(ym_file(ym_recipe("YM5!"), frames), options);
  ASSERT_EQ(result.status, ImportStatus::Ok) << result.error;
  EXPECT_EQ(result.info.chip_type, "ym");
  EXPECT_EQ(result.info.restarts_added, 0u);
  for (size_t i = 0; i < frames.size(); ++i) {
    const auto regs = replay(result.writes, i * 2000000 / 50);
    for (int reg = 0; reg < 13; ++reg)
      ASSERT_EQ(regs[reg], frames[i][reg]) << "frame " << i << " register " << reg;
  }
  EXPECT_EQ(result.writes.back().time, frames.size() * 2000000 / 50);
}

TEST(SongImport, Ym2FramesKeepTheirOwnRules) {
  // Bit 7 of register 10 starts a digidrum missing from the file (voice C
  // silent); register 12 is its timer, never the envelope's; a register 13
  // other than 0xFF, and only that, sets period register 11 with shape 10.
  const std::array<int, 7> frames[] = {
      // r10, r11, r12, r13, then voice C's volume, registers 11 to 13
      {0x0C, 0x40, 0x33, 0xFF, 12, 1, -1},
      {0x85, 0x40, 0x33, 0x0E, 0, 0x40, 10}};
  std::vector<YmFrame> file;
  for (const auto& f : frames)
    file.push_back({0, 0, 0, 0, 0, 0, 0, 0x38, 0, 0, uint8_t(f[0]), uint8_t(f[1]),
                    uint8_t(f[2]), uint8_t(f[3])});
  const ImportResult result = import(ym_file(ym_recipe("YM2!"), file), 1000000);
  for (uint64_t i = 0; i < std::size(frames); ++i) {
    const auto regs = replay(result.writes, i * 20000);
    EXPECT_EQ((std::array{regs[10], regs[11], regs[12], regs[13]}),
              (std::array{frames[i][4], frames[i][5], 0, frames[i][6]}))
        << "frame " << i;
  }
  EXPECT_TRUE(result.info.notes.at(0).ends_with("not the file's): 1"));
}

TEST(SongImport, PeriodsAreRescaledRoundedClampedAndNeverZeroedOrFrozen) {
  struct Case {
    uint32_t period;
    uint32_t clock;
    int bits;
    bool zero_acts_as_one;
    uint32_t want;
  };
  const Case cases[] = {
      {1000, 2000000, 12, false, 500},  {3, 2000000, 12, false, 2},
      {1, 2000000, 12, false, 1},       {0, 2000000, 12, false, 0},
      {0, 2000000, 5, true, 1},         {0, 1773400, 16, true, 1},
      {3000, 500000, 12, false, 4095},  {20, 500000, 5, true, 31},
      {65535, 250000, 16, true, 65535}, {1773, 1773400, 12, false, 1000}};
  for (const Case& c : cases)
    EXPECT_EQ(rescale_period(c.period, 1e6 / c.clock, c.bits, c.zero_acts_as_one), c.want)
        << c.period << " at " << c.clock;
  // Tuning error: period 3 at 2 MHz becomes 2 instead of 1.5, 498 cents off.
  std::vector<YmFrame> frames(2, YmFrame{});
  frames[0][0] = 3, frames[1][0] = 200, frames[0][13] = frames[1][13] = 0xFF;
  const ImportResult result = import(ym_file(ym_recipe("YM3!"), frames));
  EXPECT_NEAR(result.info.tuning_worst_cents, 498.04, 0.01);
  EXPECT_NEAR(result.info.tuning_mean_cents, 498.04 / 2, 0.01);
}

TEST(SongImport, CountsEnvelopePeriodChangesWithoutAShapeWrite) {
  struct Case {
    std::vector<std::pair<int, int>> frames;  // register 11, register 13
    uint64_t restarts;
  };
  const Case cases[] = {{{{5, 0xFF}, {5, 0xFF}, {5, 0xFF}}, 0},
                        {{{5, 8}, {6, 0xFF}, {7, 0xFF}}, 2},
                        {{{5, 8}, {6, 10}, {6, 0xFF}}, 0},
                        {{{5, 0xFF}, {6, 10}, {7, 0xFF}, {7, 12}}, 1}};
  for (const Case& c : cases) {
    std::vector<YmFrame> frames;
    for (auto [period, shape] : c.frames)
      frames.push_back(YmFrame{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                               static_cast<uint8_t>(period), 0,
                               static_cast<uint8_t>(shape)});
    EXPECT_EQ(import(ym_file(ym_recipe("YM3!"), frames), 1000000).info.restarts_added,
              c.restarts);
  }
}

TEST(SongImport, TimerEffectsBecomeWritesAtTheTimerRate) {
  struct Case {
    const char* name;
    const char* magic;
    uint8_t r1, r3;  // effect codes
    uint8_t volume_a;
    uint32_t attributes;
    Bytes drum;               // digidrum 1
    int reg;                  // the register the effect writes
    std::vector<int> values;  // first values after the frame's start
  };
  const Case cases[] = {
      {"SID voice", "YM6!", 0x10, 0, 12, 0, {}, 8, {0, 12, 0, 12}},
      {"SID voice, YM5", "YM5!", 0x10, 0, 9, 0, {}, 8, {0, 9, 0, 9}},
      {"sinus SID", "YM6!", 0x90, 0, 15, 0, {}, 8, {}},
      {"sync buzzer", "YM6!", 0xD0, 0, 10, 0, {}, 13, {10, 10, 10}},
      {"drum 4-bit", "YM6!", 0x50, 0, 1, 4, {3, 9, 3, 9, 12}, 8, {9, 3, 9, 12, 1}},
      {"drum YM5 8-bit", "YM5!", 0, 0x10, 1, 0, {255, 128, 0, 64}, 8, {13, 0, 11, 1}},
      {"drum signed", "YM6!", 0, 0x50, 1, 2, {0x7F, 0x80, 0, 0xC0}, 8, {0, 13, 11, 1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    YmFrame frame{};
    frame[1] = c.r1, frame[3] = c.r3, frame[8] = c.volume_a, frame[13] = 0xFF;
    // Timer: predivisor 4 (code 1), count 123: 4995 Hz, a tick of 200.2 µs.
    frame[6] = 1 << 5, frame[14] = 123, frame[8] |= 1 << 5, frame[15] = 123;
    YmRecipe recipe = ym_recipe(c.magic);
    recipe.attributes = c.attributes;
    recipe.drums = {Bytes{0}, c.drum};
    const ImportResult result = import(ym_file(recipe, {frame, frame, frame}), 1000000);
    ASSERT_EQ(result.status, ImportStatus::Ok) << result.error;
    EXPECT_EQ(replay(result.writes, 0)[1], c.r1 & 15) << "flag bits cleared";
    std::vector<uint64_t> times;
    std::vector<int> values;
    for (const TimedWrite& w : result.writes)
      if (w.reg == c.reg && w.time > 0 && w.time < 60000)
        times.push_back(w.time), values.push_back(w.value);
    ASSERT_GE(times.size(), 3u);
    // A SID or sync buzzer writes at every tick, and its timer runs on from
    // frame to frame.
    const bool every_tick = c.drum.empty() && !c.values.empty();
    for (size_t k = 0; k < (every_tick ? times.size() : 4); ++k)
      EXPECT_EQ(times[k],
                static_cast<uint64_t>(std::llround((k + 1) * 1e6 * 4 * 123 / 2457600)));
    if (!c.values.empty()) {
      values.resize(std::min(values.size(), c.values.size()));
      EXPECT_EQ(values, c.values);
    } else {  // an 8-step sine from silence to the top volume
      EXPECT_EQ(*std::max_element(values.begin(), values.end()), 15);
      EXPECT_EQ(*std::min_element(values.begin(), values.end()), 0);
      for (size_t k = 8; k < values.size(); ++k) EXPECT_EQ(values[k], values[k - 8]);
    }
    EXPECT_FALSE(result.info.effects.empty());
  }
}

TEST(SongImport, PsgFramesSkipsAndEnd) {
  Bytes file = {'P', 'S', 'G', 0x1A, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  file.insert(file.end(), {0, 0x10, 7, 0x38, 0x20, 0x33, 8, 15, 0xFF, 0, 0x20, 0xFE, 2, 8,
                           0, 0xFD, 0, 0x55});  // 0x20 0x33: a write to another device
  const ImportResult result = import(file, 1000000);
  ASSERT_EQ(result.status, ImportStatus::Ok) << result.error;
  EXPECT_EQ(replay(result.writes, 0)[0], 0x10);
  EXPECT_EQ(replay(result.writes, 20000)[0], 0x20);
  EXPECT_EQ(replay(result.writes, 179999)[8], 15);
  EXPECT_EQ(replay(result.writes, 180000)[8], 0);
  EXPECT_EQ(result.writes.back().time, 200000u);
  EXPECT_EQ(result.info.frames, 10u);
  EXPECT_EQ(result.info.skipped_writes, 1u);
  EXPECT_EQ(import(file).info.clock_hz, 1773400u);
  file[4] = 10, file[5] = 60;  // from version 10 the header holds the frame rate
  EXPECT_EQ(import(file).writes.back().time, 166667u);
}

TEST(SongImport, VgmSkipsOtherChipsAndPlaysOnceInVgmAndVgz) {
  const Bytes commands = {0xA0, 7,    0x38, 0xA0, 8,    15,   0xA0, 0,    0xFE, 0x50,
                          0x9F, 0x52, 0x28, 0xF0, 0x67, 0x66, 0x00, 5,    0,    0,
                          0,    1,    2,    3,    4,    5,    0x61, 0x44, 0xAC, 0xA0,
                          0x80, 1,    0xA0, 0,    0x10, 0x62, 0x90, 0,    2,    0,
                          0,    0x7F, 0xA0, 1,    1,    0x63, 0x66, 0xA0, 0,    0x55};
  // A GD3 tag: track, its Japanese name, game, ..., author, in UTF-16LE.
  Bytes tag = {'G', 'd', '3', ' ', 0, 1, 0, 0, 0, 0, 0, 0};
  for (const char* field : {"Song\n", "", "Game", "", "", "", "Auth\xE9r"}) {
    for (const char* c = field; *c != 0; ++c) tag.insert(tag.end(), {uint8_t(*c), 0});
    tag.insert(tag.end(), {0, 0});
  }
  tag[8] = static_cast<uint8_t>(tag.size() - 12);
  for (bool packed : {false, true}) {
    Bytes vgm = vgm_file(commands);
    vgm[0x14] = static_cast<uint8_t>(vgm.size() - 0x14),
    vgm[0x15] = (vgm.size() - 0x14) >> 8;
    vgm.insert(vgm.end(), tag.begin(), tag.end());
    const ImportResult result = import(packed ? gzip(vgm) : vgm, 1000000);
    ASSERT_EQ(result.status, ImportStatus::Ok) << result.error;
    EXPECT_EQ(result.info.format, packed ? "VGZ 1.71" : "VGM 1.71");
    EXPECT_EQ(replay(result.writes, 0)[0], 0xFE);
    EXPECT_EQ(replay(result.writes, 999999)[0], 0xFE);
    EXPECT_EQ(replay(result.writes, 1000000)[0], 0x10);
    EXPECT_EQ(replay(result.writes, 1017028)[1], 0);
    EXPECT_EQ(replay(result.writes, 1017029)[1], 1);  // 44851 samples
    EXPECT_EQ(result.writes.back().time, 1037029u);   // 45733 samples, then 0x66
    EXPECT_EQ(result.info.skipped_writes, 1u);
    EXPECT_EQ(result.info.other_chips, (std::vector<std::string>{"SN76489", "YM2612"}));
    EXPECT_EQ(result.info.title + "|" + result.info.comment + "|" + result.info.author,
              "Song |Game|Auth\xC3\xA9r");
  }
  EXPECT_EQ(import(vgm_file(commands)).info.clock_hz, 1789772u);
  // Reserved command 0x41 has one operand up to version 1.60.
  const Bytes v160 = vgm_file({0x41, 0, 0xA0, 8, 15, 0x66}, 1789772, 0x160);
  EXPECT_EQ(replay(import(v160).writes, 0)[8], 15);
  Bytes halved = vgm_file(commands);
  halved[0x78] = 0x10, halved[0x79] = 0x10;  // a YM2149 with its clock divider set
  EXPECT_EQ(import(halved).info.clock_hz, 894886u);
}

TEST(SongImport, RealLh5ArchiveUnpacks) {
  if (!ZARNIK_LHA) GTEST_SKIP() << "built without liblhasa";
  // tests/fixtures/ym3_lh5.lzh: made with jlha from the YM3! file of 40
  // frames whose register r holds (7 * frame + r) & 0xFF.
  std::ifstream in(FIXTURES_DIR "/ym3_lh5.lzh", std::ios::binary);
  const Bytes archive((std::istreambuf_iterator<char>(in)), {});
  std::vector<YmFrame> frames(40);
  for (int f = 0; f < 40; ++f)
    for (int r = 0; r < 14; ++r) frames[f][r] = static_cast<uint8_t>(7 * f + r);
  const ImportResult packed = import(archive),
                     plain = import(ym_file(ym_recipe("YM3!"), frames));
  ASSERT_EQ(packed.status, ImportStatus::Ok) << packed.error;
  ASSERT_EQ(packed.writes.size(), plain.writes.size());
  EXPECT_TRUE(std::equal(packed.writes.begin(), packed.writes.end(), plain.writes.begin(),
                         [](auto& a, auto& b) {
                           return a.time == b.time && a.reg == b.reg &&
                                  a.value == b.value;
                         }));
  EXPECT_EQ(packed.info.notes.back(), "unpacked from an LHA archive (-lh5-)");
}

TEST(SongImport, BadInputIsMalformedWithItsReason) {
  YmRecipe ym5 = ym_recipe("YM5!", false);
  Bytes cut = ym_file(ym5, std::vector<YmFrame>(1152));
  cut.resize(cut.size() - 4);                             // no End!
  cut[12] = 0, cut[13] = 0, cut[14] = 0x18, cut[15] = 0;  // 6144 frames
  Bytes huge = ym_file(ym5, std::vector<YmFrame>(100));
  huge[12] = huge[13] = huge[14] = huge[15] = 0xFF;
  Bytes wrong_check = huge, no_rate = ym_file(ym5, std::vector<YmFrame>(2));
  wrong_check[5] = 'x';
  no_rate[26] = no_rate[27] = 0;
  YmRecipe drum = ym_recipe("YM6!");
  drum.drums = {Bytes(40)};
  Bytes drum_cut = ym_file(drum, {});
  drum_cut.resize(50);
  const Bytes psg = {'P', 'S', 'G', 0x1A, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  auto plus = [](Bytes head, Bytes tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
  };
  Bytes vgm_long = vgm_file({0xA0, 0, 1, 0x66});
  vgm_long[4] += 10;
  const Bytes vgz = gzip(vgm_file({0xA0, 0, 1, 0x66}));
  Bytes lha_cut = lh0_archive(ym_file(ym_recipe("YM3!"), std::vector<YmFrame>(10)));
  Bytes lha_crc = lha_cut;
  lha_cut.resize(lha_cut.size() - 30);
  lha_crc[40] ^= 1;
  struct Case {
    Bytes bytes;
    const char* error;
    ImportStatus status = ImportStatus::Malformed;
  };
  const Case cases[] = {
      {cut, "register data cut short: 18,432 of 98,304 bytes"},
      {huge, "register data cut short: 1,604 of 68,719,476,720 bytes"},
      {wrong_check, "check string is not LeOnArD!"},
      {no_rate, "frame rate 0 in the header"},
      {drum_cut, "digidrum 0 cut short: 12 of 40 bytes"},
      {Bytes{'Y', 'M', '3', '!', 1, 2, 3}, "not whole frames of 14 registers: 3 bytes"},
      {Bytes{'Y', 'M', '3', 'b', 1, 2}, "loop frame cut short"},
      {plus(psg, {0x20}), "register write cut short at offset 0x10"},
      {plus(psg, {0, 1, 0xFF, 7}), "register write cut short at offset 0x13"},
      {plus(psg, {0xFF, 0xFE}), "frame skip cut short"},
      {Bytes{'V', 'g', 'm', ' ', 0}, "header cut short: 5 of 64 bytes"},
      {vgm_file({0xA0, 0, 1, 0x01}), "unknown command 0x01 at offset 0x0103"},
      {vgm_file({0xA0, 0, 1, 0x67, 0x66, 0, 9, 0, 0, 0, 1}),
       "data block cut short: 1 of 9 bytes"},
      {vgm_file({0x50, 0x9F, 0x66}), "no AY-3-8910 writes (chips: SN76489, YM2612)"},
      {vgm_file({0xA0, 0}), "AY-3-8910 write cut short"},
      {vgm_long, "file cut short: 260 of 270 bytes"},
      {Bytes(vgz.begin(), vgz.end() - 12), "gzip data cut short"},
      {gzip(psg), "gzip data is not a VGM file"},
      {lha_cut, ZARNIK_LHA ? "LHA data cut short" : "no LHA support"},
      {lha_crc, ZARNIK_LHA ? "CRC mismatch" : "no LHA support"},
      {Bytes{'Y', 'M', '4', '!'}, "YM variant YM4! is not supported",
       ImportStatus::UnknownFormat},
      {Bytes{'M', 'O', 'V', 'A'}, "not a song file", ImportStatus::UnknownFormat},
  };
  for (const Case& c : cases) {
    const ImportResult result = import(c.bytes);
    EXPECT_EQ(result.status, c.status) << c.error;
    EXPECT_NE(result.error.find(c.error), std::string::npos) << result.error;
    EXPECT_TRUE(result.writes.empty());
  }
  EXPECT_NE(import(psg, 5).error.find("chip clock 5 Hz is out of range"),
            std::string::npos);
}
