// The stretch renderer against the tick-by-tick renderer: the same calls to the
// file seam with the same bytes, the same failures, and the same chip and
// ring state at the end, on random logs built to land writes on the exact
// ticks where generators act, on the demo song and on the benchmark logs,
// through both of the engine's ways: stretch by stretch where changes are
// rarer than frames, frame by frame where they are as frequent or more.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "audio/rig.h"
#include "audio/wav_renderer.h"
#include "bench/stress_logs.h"
#include "common/messages.h"
#include "common/register_log.h"
#include "psg/stretch_engine.h"
#include "tests/support/temp_dir.h"

namespace {

// An output file kept in memory: every call is traced in order, so two
// renders agree only when they made the same calls with the same bytes. Long
// renders keep a running hash of the trace instead of the image. One chosen
// write can be made to fall short.
class MemoryFiles final : public OutputFiles {
 public:
  explicit MemoryFiles(bool keep_image = true) : keep_image_(keep_image) {}
  int fail_write_at = 0;  // 1-based; 0: none
  std::vector<size_t> write_sizes;
  std::string image;
  uint64_t trace = 14695981039346656037u;

  FILE* open(const char* path) override { return std::fopen(path, "wb"); }
  size_t write(FILE*, const void* data, size_t size) override {
    write_sizes.push_back(size);
    if (static_cast<int>(write_sizes.size()) == fail_write_at) return size / 2;
    const auto* bytes = static_cast<const uint8_t*>(data);
    if (keep_image_) {
      if (image.size() < position_ + size) image.resize(position_ + size);
      std::memcpy(image.data() + position_, bytes, size);
    } else {
      mix(size);
      size_t i = 0;
      for (; i + 8 <= size; i += 8) {
        uint64_t word = 0;
        std::memcpy(&word, bytes + i, 8);
        mix(word);
      }
      for (; i < size; ++i) mix(bytes[i]);
    }
    position_ += size;
    return size;
  }
  bool seek(FILE*, long offset) override {
    position_ = static_cast<size_t>(offset);
    mix(0x5EE4000000000000u ^ position_);
    return true;
  }
  bool close(FILE* stream) override { return std::fclose(stream) == 0; }
  bool flush(FILE*) override {
    ++flushes;
    mix(0xF1u);
    return flushes != fail_flush_at;
  }
  int fail_flush_at = 0;  // 1-based; 0: none
  int flushes = 0;

 private:
  void mix(uint64_t value) {
    trace = (trace ^ value) * 1099511628211u;
    trace ^= trace >> 29;
  }
  bool keep_image_;
  size_t position_ = 0;
};

struct Outcome {
  int code = 0;
  std::string err;
  std::vector<size_t> write_sizes;
  std::string image;
  uint64_t trace = 0;
  int flushes = 0;
  std::unique_ptr<ExactRig> rig;
};

Outcome render(const std::string& log_path, EngineKind kind, int fail_write_at = 0,
               uint32_t max_data_bytes = kWavMaxDataBytes, bool keep_image = true,
               int fail_flush_at = 0) {
  Outcome outcome;
  outcome.rig = std::make_unique<ExactRig>(kind);
  ExactEngine& engine = outcome.rig->engine();
  engine.install_volume_table(kFullLevels);
  MemoryFiles files(keep_image);
  files.fail_write_at = fail_write_at;
  files.fail_flush_at = fail_flush_at;
  auto renderer = std::make_unique<WavRenderer>(files);
  renderer->max_data_bytes = max_data_bytes;
  RegisterLog log;
  set_program_name("Zarnik");
  EXPECT_TRUE(open_register_log(log, log_path.c_str(), LogOpenRules::Player));
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  outcome.code = renderer->render(log, engine, log_path.c_str(), "/dev/null");
  outcome.err = testing::internal::GetCapturedStderr();
  testing::internal::GetCapturedStdout();
  log.close();
  outcome.write_sizes = std::move(files.write_sizes);
  outcome.image = std::move(files.image);
  outcome.trace = files.trace;
  outcome.flushes = files.flushes;
  return outcome;
}

// Everything either render leaves behind, as one readable line per field.
std::string describe_state(const Outcome& o) {
  std::string text;
  char line[160];
  const Chip& c = o.rig->engine().chip();
  for (const ToneChannel& t : c.channels) {
    std::snprintf(line, sizeof line, "tone %u %u %d %u %u %u %u\n", t.counter, t.period,
                  t.amplitude, t.flip_flop, t.tone_enable, t.noise_enable,
                  t.envelope_mode);
    text += line;
  }
  std::snprintf(line, sizeof line, "noise %u %u %u %08x\n", c.noise.counter,
                c.noise.period, c.noise.output, c.noise.shift_register);
  text += line;
  std::snprintf(line, sizeof line, "envelope %u %d %d %u %u\n", c.envelope.shape,
                c.envelope.direction, c.envelope.position, c.envelope.counter,
                c.envelope.period);
  text += line;
  std::snprintf(line, sizeof line, "accumulator %u ring %u %u\n",
                o.rig->engine().sampler().accumulator, o.rig->ring().read_offset(),
                o.rig->ring().write_offset());
  text += line;
  return text;
}

// Renders both ways and reports the first difference.
void expect_same_render(const std::string& log_path, const std::string& what,
                        bool keep_image = true) {
  const Outcome ticks =
      render(log_path, EngineKind::Ticks, 0, kWavMaxDataBytes, keep_image);
  const Outcome stretches =
      render(log_path, EngineKind::Stretches, 0, kWavMaxDataBytes, keep_image);
  EXPECT_EQ(stretches.code, ticks.code) << what;
  EXPECT_EQ(stretches.err, ticks.err) << what;
  EXPECT_EQ(stretches.write_sizes, ticks.write_sizes) << what;
  EXPECT_EQ(stretches.trace, ticks.trace) << what;
  if (stretches.image != ticks.image) {
    const auto diff = std::mismatch(ticks.image.begin(), ticks.image.end(),
                                    stretches.image.begin(), stretches.image.end());
    ADD_FAILURE() << what << ": sizes " << ticks.image.size() << " and "
                  << stretches.image.size() << ", first difference at byte "
                  << (diff.first - ticks.image.begin());
  }
  EXPECT_EQ(describe_state(stretches), describe_state(ticks)) << what;
}

// Builds a random log while running a chip of its own tick by tick, so that a
// delay can be chosen to end exactly on the tick where a tone reloads, the
// noise shifts, the envelope steps or a frame falls due, or one tick either
// side. Frames this chip cannot store are simply dropped; its timing is all
// that is used.
class LogBuilder {
 public:
  explicit LogBuilder(uint32_t seed) : random_(seed) {
    chip_.install_volume_table(kFullLevels);
    chip_.reset();
    time_ = static_cast<uint32_t>(random_());
    log_ = "MOVA-TXT\n";
  }

  // About `events` writes, and at most `budget` ticks in all.
  std::string build(int events, uint64_t budget) {
    write(random_() % 16, random_() % 256);
    for (int i = 0; i < events; ++i) {
      uint64_t delay = pick_delay();
      if (ticks_ + delay > budget) delay = random_() % 64;
      advance(static_cast<uint32_t>(delay));
      pick_write();
    }
    return log_;
  }

 private:
  uint32_t below(uint32_t n) { return static_cast<uint32_t>(random_() % n); }

  uint64_t pick_delay() {
    const uint32_t kind = below(100);
    const int channel = static_cast<int>(below(3));
    const ToneChannel& tone = chip_.channels[static_cast<size_t>(channel)];
    const int64_t nudge = static_cast<int64_t>(below(3)) - 1;  // -1, 0 or +1
    int64_t exact = -1;
    if (kind < 15) return 0;
    if (kind < 40) return below(3000);
    if (kind < 50) return below(60000);
    if (kind < 52) return below(2000000);
    if (kind < 62 && tone.period != 0) {
      exact = std::max<int64_t>(tone.counter, 1) + tone.period * below(3);
    } else if (kind < 72 && chip_.noise.period != 0) {
      exact = std::max<int64_t>(chip_.noise.counter, 1) + chip_.noise.period * below(3);
    } else if (kind < 84 && chip_.envelope.period != 0) {
      exact = static_cast<int64_t>(chip_.envelope.period - chip_.envelope.counter) +
              static_cast<int64_t>(chip_.envelope.period) * below(3);
    } else {
      const uint64_t j = 1 + below(4);
      exact = static_cast<int64_t>(
          (j * Chip::kChipClock - sampler_.accumulator + Chip::kFrameRate - 1) /
          Chip::kFrameRate);
    }
    return static_cast<uint64_t>(std::max<int64_t>(exact + nudge, 0));
  }

  void pick_write() {
    uint32_t reg = below(16);
    if (below(40) == 0) reg = 16 + below(240);
    uint32_t value = below(256);
    switch (reg) {
      case 0:
      case 2:
      case 4:
        if (below(3) == 0) value = below(3);  // periods 0, 1, 2
        break;
      case 1:
      case 3:
      case 5:
        if (below(2) == 0) value = below(3);
        break;
      case 6:
        // Also the short periods that go shift by shift, often right after
        // a long one that the counter is still running out.
        if (below(3) == 0) value = below(3);
        if (below(3) == 0) value = below(5);
        break;
      case 8:
      case 9:
      case 10:
        if (below(2) == 0) value = 0x10 | below(2);  // envelope mode
        break;
      case 11:
      case 12:
        // Mostly short envelope periods, so that the envelope steps often.
        if (reg == 12 && below(4) != 0) value = below(2);
        if (reg == 11 && below(4) == 0) value = below(3);
        break;
      default: break;
    }
    write(reg, value);
  }

  void advance(uint32_t delay) {
    for (uint32_t t = 0; t < delay; ++t) {
      chip_.tick();
      sampler_.step(chip_);
    }
    ticks_ += delay;
    time_ += delay;
  }

  void write(uint32_t reg, uint32_t value) {
    stress_logs::append_write(&log_, time_, reg, value);
    chip_.write_register(static_cast<uint8_t>(reg), static_cast<uint8_t>(value));
  }

  std::mt19937 random_;
  SampleRing ring_;
  Chip chip_;
  PointSampler sampler_{ring_};
  uint32_t time_ = 0;
  uint64_t ticks_ = 0;
  std::string log_;
};

TEST(StretchAgreement, RandomLogsRenderToTheSameBytesAndState) {
  TempDir dir;
  const std::string path = dir.file("song.txt");
  // About 2.5e8 ticks on the tick-by-tick side in all.
  for (uint32_t seed = 1; seed <= 2500; ++seed) {
    LogBuilder builder(seed);
    const uint64_t budget = seed % 50 == 0 ? 2000000 : 60000 + seed % 7 * 10000;
    write_file(path, builder.build(40 + static_cast<int>(seed % 200), budget));
    expect_same_render(path, "seed " + std::to_string(seed));
    if (HasFailure()) break;  // one seed's report is enough to debug
  }
}

TEST(StretchAgreement, TheDemoSongAndTheBenchmarkLogsRenderToTheSameBytes) {
  TempDir dir;
  expect_same_render(std::string(EXAMPLES_DIR) + "/demo/demo.txt", "demo song");
  write_file(dir.file("sparse.txt"), stress_logs::sparse_log(20));
  expect_same_render(dir.file("sparse.txt"), "sparse log");
  write_file(dir.file("dense.txt"), stress_logs::dense_log(3));
  expect_same_render(dir.file("dense.txt"), "dense log");
  // The song-like logs the benchmarks time: tunes and noise drum music.
  for (uint32_t seed = 1; seed <= 3; ++seed) {
    write_file(dir.file("tune.txt"), stress_logs::tune_log(4, seed, seed != 1));
    expect_same_render(dir.file("tune.txt"), "tune " + std::to_string(seed));
    write_file(dir.file("drums.txt"), stress_logs::noise_drums_log(4, seed));
    expect_same_render(dir.file("drums.txt"), "noise drums " + std::to_string(seed));
  }
}

// A log that sets every generator running at its shortest period with nothing
// heard, waits `delay` ticks, makes everything heard and runs on a little.
// `pieces` splits the wait with writes that change nothing but make the
// engine bring every generator up to date at that point.
std::string long_wait_log(uint32_t delay, int pieces) {
  std::string log = "MOVA-TXT\n";
  // The first five are the periods: tones A, B, C and noise.
  const uint32_t setup[][2] = {{0, 1}, {2, 3}, {4, 0x55}, {5, 1},  {6, 1},  {7, 0},
                               {8, 0}, {9, 0}, {10, 0},   {11, 1}, {12, 0}, {13, 10}};
  uint32_t time = 5;
  for (const auto& w : setup) stress_logs::append_write(&log, time, w[0], w[1]);
  for (int piece = 1; piece < pieces; ++piece) {
    time += delay / static_cast<uint32_t>(pieces) + static_cast<uint32_t>(piece % 7);
    // Same periods again; envelope mode on and off at once.
    for (size_t i = 0; i < 5; ++i) {
      stress_logs::append_write(&log, time, setup[i][0], setup[i][1]);
    }
    stress_logs::append_write(&log, time, 8, 0x10);
    stress_logs::append_write(&log, time, 8, 0x00);
  }
  time = 5 + delay;  // wraps round for the longest delays
  stress_logs::append_write(&log, time, 8, 0x10);
  stress_logs::append_write(&log, time, 9, 0x0F);
  stress_logs::append_write(&log, time, 10, 0x13);
  stress_logs::append_write(&log, time + 300000, 7, 0x3F);
  return log;
}

// A wait of over two minutes, across which the noise register alone shifts
// millions of times unheard: both ways, whole and in pieces.
TEST(StretchAgreement, ALongUnheardWaitRendersToTheSameBytes) {
  TempDir dir;
  for (int pieces : {1, 5}) {
    write_file(dir.file("wait.txt"), long_wait_log(134217757, pieces));
    expect_same_render(dir.file("wait.txt"), std::to_string(pieces) + " pieces", false);
  }
}

// The longest delay a log can hold (2^32 - 1 ticks, 71 minutes, 757 MB of
// frames) is beyond what the tick-by-tick side can run in a test, so the
// stretch renderer's result is checked for the same result when the wait is
// cut into pieces of many sizes, each bringing the generators up to date.
TEST(StretchAgreement, TheLongestDelayGivesTheSameBytesWholeOrInPieces) {
  TempDir dir;
  write_file(dir.file("whole.txt"), long_wait_log(4294967295u, 1));
  const Outcome whole =
      render(dir.file("whole.txt"), EngineKind::Stretches, 0, kWavMaxDataBytes, false);
  ASSERT_EQ(whole.code, 0);
  // 44100 frames a second for 4294.967295 + 0.3 seconds, from accumulator 0.
  const uint64_t frames = (uint64_t{4294967295u} + 300000) * 44100 / 1000000;
  uint64_t data_bytes = 0;
  for (size_t i = 3; i + 2 < whole.write_sizes.size(); ++i)
    data_bytes += whole.write_sizes[i];
  EXPECT_EQ(data_bytes, frames * 4);
  for (int pieces : {3, 61}) {
    write_file(dir.file("pieces.txt"), long_wait_log(4294967295u, pieces));
    const Outcome cut =
        render(dir.file("pieces.txt"), EngineKind::Stretches, 0, kWavMaxDataBytes, false);
    EXPECT_EQ(cut.trace, whole.trace) << pieces << " pieces";
    EXPECT_EQ(describe_state(cut), describe_state(whole)) << pieces << " pieces";
  }
}

// Every write and every flush of a render made to fail in turn: the same
// code, the same messages and the same calls on both paths. The limit on the
// data size too.
TEST(StretchAgreement, FailuresAndTheSizeLimitSurfaceAtTheSameCall) {
  TempDir dir;
  const std::string path = dir.file("song.txt");
  LogBuilder builder(77);
  write_file(path, builder.build(300, 900000));
  const Outcome clean = render(path, EngineKind::Ticks);
  ASSERT_EQ(clean.code, 0);
  ASSERT_GT(clean.write_sizes.size(), 12u);
  for (int at = 1; at <= static_cast<int>(clean.write_sizes.size()); ++at) {
    const Outcome ticks = render(path, EngineKind::Ticks, at);
    const Outcome stretches = render(path, EngineKind::Stretches, at);
    EXPECT_NE(ticks.code, 0) << "write " << at;
    EXPECT_EQ(stretches.code, ticks.code) << "write " << at;
    EXPECT_EQ(stretches.err, ticks.err) << "write " << at;
    EXPECT_EQ(stretches.write_sizes, ticks.write_sizes) << "write " << at;
  }
  // The system refusing what the stream buffered, at each flush of the ring.
  ASSERT_GT(clean.flushes, 2);
  for (int at = 1; at <= clean.flushes; ++at) {
    const Outcome ticks = render(path, EngineKind::Ticks, 0, kWavMaxDataBytes, true, at);
    const Outcome stretches =
        render(path, EngineKind::Stretches, 0, kWavMaxDataBytes, true, at);
    const std::string message = "Zarnik: Can't write to output file.\n";
    // Inside the loop once; in the final flush once more by the render.
    EXPECT_EQ(ticks.code, 6) << "flush " << at;
    EXPECT_EQ(ticks.err, at < clean.flushes ? message : message + message)
        << "flush " << at;
    EXPECT_EQ(stretches.code, ticks.code) << "flush " << at;
    EXPECT_EQ(stretches.err, ticks.err) << "flush " << at;
    EXPECT_EQ(stretches.write_sizes, ticks.write_sizes) << "flush " << at;
  }
  for (uint32_t limit : {0u, 6143u, 36868u, 40000u, 100000u}) {
    const Outcome ticks = render(path, EngineKind::Ticks, 0, limit);
    const Outcome stretches = render(path, EngineKind::Stretches, 0, limit);
    EXPECT_EQ(ticks.code, 6) << "limit " << limit;
    EXPECT_EQ(stretches.code, ticks.code) << "limit " << limit;
    EXPECT_EQ(stretches.err, ticks.err) << "limit " << limit;
    EXPECT_EQ(stretches.write_sizes, ticks.write_sizes) << "limit " << limit;
  }
}

// Moving the chip on without frames, as a seek does: the stretch engine's
// closed form against the tick engine's ticks, on random logs cut at random
// points, the frames after it falling due on the same ticks.
TEST(StretchAgreement, AdvancingWithoutFramesLeavesTheStateTheTicksLeave) {
  for (uint32_t seed = 1; seed <= 100; ++seed) {
    Outcome ends[2];
    ends[0].rig = std::make_unique<ExactRig>(EngineKind::Ticks);
    ends[1].rig = std::make_unique<ExactRig>(EngineKind::Stretches);
    for (Outcome& end : ends) {
      end.rig->engine().install_volume_table(kFullLevels);
      end.rig->engine().reset();
    }
    std::mt19937 random(seed);
    for (int step = 0; step < 60; ++step) {
      const uint64_t ticks = random() % 4 == 0 ? random() % 400000 : random() % 700;
      const bool advance = random() % 2 == 0;
      const auto reg = static_cast<uint8_t>(random() % 14);
      const auto value =
          static_cast<uint8_t>(random() % 5 == 0 ? random() % 3 : random());
      for (Outcome& end : ends) {
        ExactEngine& engine = end.rig->engine();
        if (advance) {
          engine.advance(ticks);
        } else {
          for (uint64_t left = ticks % 5000; left != 0;) {
            left -= engine.run(static_cast<uint32_t>(left));
            uint8_t scratch[SampleRing::kDrainBytes];
            while (end.rig->ring().drain(scratch) != 0) {
            }
          }
        }
        engine.write_register(reg, value);
      }
    }
    for (Outcome& end : ends) end.rig->engine().synchronize();
    ASSERT_EQ(describe_state(ends[1]), describe_state(ends[0])) << "seed " << seed;
  }
}

}  // namespace
