// Live play through a real sound server: a private PulseAudio daemon with a
// null sink stands in for the sound card, paced in real time, and its monitor
// is recorded. The recording must be the emulator's own frames at the
// quartered levels, in order, where only whole frames dropped at a full ring
// may be missing and only whole buffers of silence may be inserted.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "audio/rig.h"
#include "common/register_log.h"
#include "tests/support/logs.h"
#include "tests/support/process.h"
#include "tests/support/sound_server.h"
#include "tests/support/temp_dir.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t kBufferFrames = 1536;

// A few seconds of sound in which no frame is ever silent, and no stretch
// repeats: channel A plays noise at volume 15 (+-2730 at the quarter level),
// B and C tones at volumes 12 and 10 (+-1038, +-545) whose periods change
// every 10 ms. Left = A + B and right = B + C can never be 0.
std::string make_log(int milliseconds) {
  std::string log = kTextHeader + "0:07:31\n0:06:01\n0:08:0F\n0:09:0C\n0:0A:0A\n";
  uint32_t seed = 12345;
  char line[64];
  for (int ms = 0; ms <= milliseconds; ms += 10) {
    for (int reg = 2; reg <= 4; reg += 2) {
      seed = seed * 1103515245u + 12345u;
      const uint32_t period = 40 + (seed >> 16) % 400;
      std::snprintf(line, sizeof line, "%d:%02X:%02X\n%d:%02X:%02X\n", ms * 1000, reg,
                    period & 0xFF, ms * 1000, reg + 1, period >> 8);
      log += line;
    }
  }
  return log;
}

// The frames the emulator makes from the log at the quartered levels, as live
// play makes them when the ring never fills.
std::vector<uint32_t> render_frames(const std::string& path) {
  auto rig = std::make_unique<ExactRig>(EngineKind::Ticks);
  SampleRing& ring = rig->ring();
  ExactEngine& engine = rig->engine();
  std::vector<uint32_t> frames;
  RegisterLog log;
  if (!open_register_log(log, path.c_str(), LogOpenRules::Player)) return frames;
  engine.install_volume_table(quartered_levels());
  uint8_t reg = 0;
  uint8_t value = 0;
  uint32_t delay = 0;
  uint8_t piece[SampleRing::kDrainBytes];
  const auto take = [&] {
    for (uint32_t n; (n = ring.drain(piece)) != 0;) {
      for (uint32_t i = 0; i < n; i += 4) {
        uint32_t frame = 0;
        std::memcpy(&frame, piece + i, 4);
        frames.push_back(frame);
      }
    }
  };
  if (log.event_reader(nullptr, &reg, &value)) {
    engine.reset();
    engine.write_register(reg, value);
    while (log.event_reader(&delay, &reg, &value)) {
      while (delay != 0) {
        delay -= engine.run(delay);
        if (ring_wants_emptying(ring)) take();
      }
      engine.write_register(reg, value);
    }
    take();
  }
  log.close();
  return frames;
}

std::vector<uint32_t> as_frames(const std::string& bytes) {
  std::vector<uint32_t> frames(bytes.size() / 4);
  std::memcpy(frames.data(), bytes.data(), frames.size() * 4);
  return frames;
}

struct Comparison {
  bool matched = false;
  std::string trouble;
  size_t reached = 0;  // expected frames played or dropped, from the first
  size_t dropped = 0;  // expected frames missing from the recording
  size_t drop_runs = 0;
  size_t silence = 0;  // frames of silence between frames of sound
  std::vector<size_t> silences;
};

// Walks the recording against the expected frames. Expected frames are never
// 0, so a zero frame in the recording is inserted silence; any other
// difference must be a stretch of expected frames that never arrived.
Comparison compare(const std::vector<uint32_t>& recorded,
                   const std::vector<uint32_t>& expected) {
  constexpr size_t kWindow = 32;
  Comparison result;
  size_t r = 0;
  while (r < recorded.size() && recorded[r] == 0) ++r;
  if (r == recorded.size()) {
    result.trouble = "the recording is all silence";
    return result;
  }
  size_t e = 0;
  const auto matches_at = [&](size_t at) {
    const size_t n = std::min({kWindow, recorded.size() - r, expected.size() - at});
    for (size_t i = 0; i < n; ++i) {
      if (recorded[r + i] == 0) return i > 0;
      if (recorded[r + i] != expected[at + i]) return false;
    }
    return true;
  };
  while (r < recorded.size() && e < expected.size()) {
    if (recorded[r] == expected[e]) {
      ++r;
      ++e;
      continue;
    }
    if (recorded[r] == 0) {
      size_t run = 0;
      while (r + run < recorded.size() && recorded[r + run] == 0) ++run;
      if (r + run == recorded.size()) break;  // the end of the play
      result.silences.push_back(run);
      result.silence += run;
      r += run;
      continue;
    }
    size_t next = e + 1;
    while (next < expected.size() && !matches_at(next)) ++next;
    if (next == expected.size()) {
      result.trouble = "recorded frame " + std::to_string(r) +
                       " is no later expected frame (after expected frame " +
                       std::to_string(e) + ")";
      return result;
    }
    result.dropped += next - e;
    ++result.drop_runs;
    e = next;
  }
  // Whatever follows the last expected frame that sounded must be silence.
  for (; r < recorded.size(); ++r) {
    if (recorded[r] != 0) {
      result.trouble =
          "sound after the end of the log at recorded frame " + std::to_string(r);
      return result;
    }
  }
  result.reached = e;
  result.matched = true;
  return result;
}

// Plays a log through a private PulseAudio server with the command given
// (the player's path first, the log's path added last) and checks the
// recording. For a Windows program (run under wine) the line ends of its
// text-mode output are CR LF, and a one-event log is played first, unchecked,
// whose wall time is taken off the measured one: wine's start-up, which sets
// up its sound driver, is not the player's pacing.
void play_through_a_sound_server(const std::vector<std::string>& command, bool windows) {
  TempDir dir;
  SoundServer server(dir.path());
  if (!server.ready()) {
    if (sound_server_required()) FAIL() << server.why_not();
    GTEST_SKIP() << server.why_not();
  }
  const Environment& environment = server.environment();

  ProcessOptions options;
  options.working_directory = dir.path();
  for (const auto& [name, value] : environment)
    options.environment.push_back({name, value});
  options.environment.push_back({"PROMPT", std::nullopt});
  const auto play = [&](const std::string& log_path, double* wall_s) {
    std::vector<std::string> args(command.begin() + 1, command.end());
    args.push_back(log_path);
    const auto started = Clock::now();
    ProcessResult result = run_program(command[0], args, options);
    *wall_s = std::chrono::duration<double>(Clock::now() - started).count();
    if (windows) {
      std::string folded;
      for (size_t i = 0; i < result.out.size(); ++i) {
        if (result.out.compare(i, 2, "\r\n") != 0) folded += result.out[i];
      }
      result.out = folded;
    }
    return result;
  };

  double start_up_s = 0;
  if (windows) {
    write_file(dir.file("one.txt"), kTextHeader + "0:07:38\n");
    const ProcessResult first = play(dir.file("one.txt"), &start_up_s);
    ASSERT_EQ(first.exit_code, 0) << first.err;
    // The first start-up may set the sound driver up; the second is typical.
    ASSERT_EQ(play(dir.file("one.txt"), &start_up_s).exit_code, 0);
  }

  const std::string recording = dir.file("recording.raw");
  const std::unique_ptr<Child> recorder = server.record(recording);
  ASSERT_NE(recorder, nullptr) << server.why_not();

  constexpr int kLogMs = 4000;
  const std::string song = dir.file("song.txt");
  write_file(song, make_log(kLogMs));
  double wall_s = 0;
  const ProcessResult played = play(song, &wall_s);
  wall_s -= start_up_s;
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  recorder->stop();
  server.stop();

  EXPECT_EQ(played.exit_code, 0) << played.err;
  EXPECT_EQ(played.out, kZarnikBanner + "Starting to play [" + song + "]\nDone.\n");
  EXPECT_EQ(played.err, "");

  const std::vector<uint32_t> expected = render_frames(song);
  ASSERT_EQ(expected.size(), static_cast<size_t>(kLogMs) * 44100 / 1000);
  const Comparison result = compare(as_frames(read_file(recording)), expected);
  ASSERT_TRUE(result.matched) << result.trouble;

  const double dropped_share = static_cast<double>(result.dropped) / result.reached;
  std::string silences;
  for (size_t run : result.silences) silences += " " + std::to_string(run);
  std::printf(
      "live play of %d ms: wall time %.3f s%s; %zu of %zu expected frames reached the "
      "speaker end (%zu ms never played at the stop), %zu dropped in %zu runs "
      "(%.4f %%); %zu frames of silence inserted after the first sound (%s)\n",
      kLogMs, wall_s, windows ? " (less one start-up)" : "",
      result.reached - result.dropped, expected.size(),
      (expected.size() - result.reached) * 1000 / 44100, result.dropped, result.drop_runs,
      100.0 * dropped_share, result.silence,
      silences.empty() ? "none" : silences.c_str());
  // A healthy engine keeps the ring ahead of the device: drops are a few
  // frames each time the ring fills (about 0.02 % here), and silence comes
  // after the first sound only when the processor is too busy to fill the
  // ring at the start (two buffers with both cores loaded, none otherwise).
  // Six buffers of silence are the whole device queue.
  EXPECT_LT(dropped_share, 0.01);
  // Wine's wave output copies the queued buffers into its own stream in
  // periods of 5 ms, from a thread of the player's process at normal
  // priority; with the processor busy that thread is sometimes late and the
  // server fills the gap with silence of a few of its periods. The frames
  // around such a gap are still exact and in order, and it is counted in the
  // total below, but it is not a whole buffer of the engine's.
  if (!windows) {
    for (size_t run : result.silences) EXPECT_EQ(run % kBufferFrames, 0u) << run;
  }
  EXPECT_LE(result.silence, 6 * kBufferFrames);
  // The stop comes when the chip is done, while up to 487 ms of sound still
  // wait in the ring and the device.
  EXPECT_GE(result.reached, expected.size() - 23000);
  // Measured: 4.0 s idle, up to 4.25 s with both cores loaded. Unpaced play
  // would take a fraction of a second, pacing at half speed twice as long.
  EXPECT_GT(wall_s, kLogMs / 1000.0 - 0.8);
  EXPECT_LT(wall_s, kLogMs / 1000.0 + 0.8);
}

TEST(LivePlay, ThroughASoundServerTheRecordingIsTheEmulatorsFramesInOrder) {
  play_through_a_sound_server({ZARNIK_EXE}, false);
}

// The Windows build under wine: its wave output reaches the same server
// through wine's PulseAudio driver. The Windows stage of CI names the
// executable and the wine loader; elsewhere there is nothing to run.
TEST(LivePlay, UnderWineTheWaveOutputPlaysTheSameFrames) {
  const char* exe = std::getenv("ZARNIK_TEST_WINDOWS_EXE");
  const char* wine = std::getenv("WINELOADER");
  if (exe == nullptr || wine == nullptr) {
    GTEST_SKIP()
        << "set ZARNIK_TEST_WINDOWS_EXE and WINELOADER to play zarnik.exe under wine";
  }
  play_through_a_sound_server({wine, exe}, true);
}

}  // namespace
