// Live play's driver and its pacing, on a scripted device and a fake clock:
// the exit paths, when pacing is called, and how long each call waits.
#include "audio/play_loop.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "common/messages.h"
#include "common/register_log.h"
#include "tests/support/fake_audio.h"
#include "tests/support/temp_dir.h"

namespace {

// A play loop with its chip and engine on the scripted device and fake clock.
struct FakeLiveRig {
  SampleRing ring;
  TickEngine exact{ring};
  Chip& chip = exact.chip();
  FakeThreads threads;
  ScriptedSink sink{threads};
  AudioEngine engine{ring, sink, threads};
  FakeClock clock;
  PlayLoop loop{exact, engine, clock};
};

class PlayLoopTest : public testing::Test, protected FakeLiveRig {
 protected:
  PlayLoopTest() {
    set_program_name("Zarnik");
    exact.install_volume_table(kFullLevels);
  }

  // Plays a text log whose lines follow the magic; returns the exit code and
  // keeps what was printed.
  int play(const std::string& lines) {
    const std::string path = dir.file("song.txt");
    write_file(path, "MOVA-TXT\n" + lines);
    RegisterLog log;
    if (!open_register_log(log, path.c_str(), LogOpenRules::Player)) return -1;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    const int code = loop.play(log, "song.txt");
    out = testing::internal::GetCapturedStdout();
    err = testing::internal::GetCapturedStderr();
    log.close();
    return code;
  }

  TempDir dir;
  std::string out;
  std::string err;
};

TEST_F(PlayLoopTest, ADeviceThatWontOpenEndsPlayWithCodeThreeAndNothingToStop) {
  sink.fail_open = true;
  EXPECT_EQ(play("0:08:0F\n100:08:00\n"), kPlayNoEngine);
  EXPECT_EQ(out, "Starting to play [song.txt]\n");
  EXPECT_EQ(err, "Zarnik: Can't start sound engine\n");
  EXPECT_EQ(sink.count("close"), 0);
  // The levels stay the full ones: only an open device gets the quartered.
  EXPECT_EQ(chip.volume_table, kFullLevels);
}

TEST_F(PlayLoopTest, ALogWithoutEventsStopsTheEngineAndEndsWithCodeFour) {
  EXPECT_EQ(play("not an event\n"), kPlayNoData);
  EXPECT_EQ(out, "Starting to play [song.txt]\n");
  EXPECT_EQ(err, "Zarnik: Can't find data in [song.txt]\n");
  EXPECT_TRUE(engine.stopping());
  EXPECT_EQ(sink.count("close"), 1);
}

TEST_F(PlayLoopTest, NoCounterStopsTheEngineAndEndsWithCodeFive) {
  clock.has_counter = false;
  EXPECT_EQ(play("0:08:0F\n100:08:00\n"), kPlayNoClock);
  EXPECT_EQ(err, "Zarnik: Can't synchronize speed\n");
  EXPECT_TRUE(engine.stopping());
  EXPECT_EQ(sink.count("close"), 1);
}

TEST_F(PlayLoopTest, PlaysEveryTickAtTheQuarteredLevelsThenStops) {
  // Channel A: tone off, volume 15, so it holds -2730 from the first tick; a
  // broken line ends the log like its end.
  EXPECT_EQ(play("0:07:3F\n0:08:0F\n1000:08:0F\n2000:08:0F\nbroken\n5000:08:00\n"),
            kPlayOk);
  EXPECT_EQ(out, "Starting to play [song.txt]\n");
  EXPECT_EQ(err, "");
  EXPECT_EQ(loop.pacing.tick_count, 2000u);
  // 2000 ticks at 44100 frames per second: 88 frames, all at the quarter level.
  EXPECT_EQ(ring.fill_level(), 88u * 4u);
  int16_t frame[2];
  bool wrapped = false;
  ring.copy_out(reinterpret_cast<uint8_t*>(frame), 4, &wrapped);
  EXPECT_EQ(frame[0], -2730);
  EXPECT_EQ(chip.volume_table, quartered_levels());
  EXPECT_EQ(chip.registers[8], 0x0F);
  EXPECT_TRUE(engine.stopping());
  EXPECT_EQ(sink.count("close"), 1);
}

TEST_F(PlayLoopTest, ALogOfOneEventAppliesItAndStopsAtOnce) {
  EXPECT_EQ(play("123:08:0F\n"), kPlayOk);
  EXPECT_EQ(chip.registers[8], 0x0F);
  EXPECT_EQ(loop.pacing.tick_count, 0u);
  EXPECT_EQ(sink.count("close"), 1);
}

TEST_F(PlayLoopTest, PacesOnlyWhileTheDriftCorrectionIsOutsideFiftyEitherWay) {
  struct Case {
    int16_t drift;
    bool paced;
  };
  for (const Case c : {Case{50, false}, Case{-50, false}, Case{51, true}, Case{-51, true},
                       Case{0, false}, Case{100, true}}) {
    SCOPED_TRACE(c.drift);
    ring.set_drift_correction(c.drift);
    EXPECT_EQ(play("0:08:0F\n10:08:0E\n"), kPlayOk);
    // Every pacing call moves the reference up to the ticks run before it:
    // the last one comes before the tenth tick.
    EXPECT_EQ(loop.pacing.ticks_at_reference, c.paced ? 9u : 0u);
  }
}

// Pacing on its own: the fake counter runs at 1 GHz and moves one microsecond
// per yield and to the deadline of a sleep, so the reference a call ends with
// shows exactly where the wait stopped.
class PacingTest : public testing::Test, protected FakeLiveRig {
 protected:
  // Sets the state as if the last call ended at time 0 after `since` ticks
  // and `real_us` microseconds have passed since.
  void prepare(uint32_t ticks_at_reference, uint32_t since, int64_t real_us) {
    loop.pacing.frequency = clock.counts_per_second_;
    loop.pacing.reference = 0;
    loop.pacing.reading = 0;
    loop.pacing.ticks_at_reference = ticks_at_reference;
    loop.pacing.ticks_at_reading = ticks_at_reference;
    loop.pacing.tick_count = ticks_at_reference + since;
    loop.pacing.counter_ok = true;
    clock.time = real_us * 1000;
  }
  // Where the call ended, in microseconds after the old reference.
  int64_t ended_at_us() const { return loop.pacing.reference / 1000; }
};

TEST_F(PacingTest, WaitsForTheChipTimeShiftedByTheDriftCorrection) {
  struct Case {
    int16_t drift;
    uint32_t ticks;
    int64_t real_us;
    int64_t ends_at_us;
  };
  const Case cases[] = {
      {60, 1, 0, 61},  // one tick: 1 + 60 us after the last call
      {51, 1, 0, 52},
      {-60, 1, 0, 0},  // |D| covers the tick: no wait at all
      {-60, 60, 0, 0},
      {-60, 61, 0, 1},
      {60, 300000, 100000, 300060},
      {-60, 300000, 100000, 299940},
      {60, 3000, 5000, 5000},  // already late: no wait, and the present counts
      {60, 1, 500, 61},        // within the margin: the clock is not even read
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.drift << " " << c.ticks << " " << c.real_us);
    ring.set_drift_correction(c.drift);
    prepare(1000, c.ticks, c.real_us);
    loop.pace();
    EXPECT_EQ(ended_at_us(), c.ends_at_us);
    EXPECT_EQ(loop.pacing.ticks_at_reference, loop.pacing.tick_count);
    EXPECT_TRUE(loop.pacing.counter_ok);
  }
}

TEST_F(PacingTest, TickDifferencesStayRightWhenTheTickCountWraps) {
  ring.set_drift_correction(60);
  prepare(0xFFFFFFFEu, 7, 0);  // the count wraps to 5
  EXPECT_EQ(loop.pacing.tick_count, 5u);
  loop.pace();
  EXPECT_EQ(ended_at_us(), 67);
}

TEST_F(PacingTest, ACounterBelowTheReferenceKeepsWaiting) {
  ring.set_drift_correction(60);
  prepare(0, 3000, 0);
  clock.time = -5000;  // 5 us before the reference
  loop.pace();
  EXPECT_EQ(ended_at_us(), 3060);
  // One sleep to shortly before the due time; checks for the rest.
  EXPECT_EQ(clock.sleeps, 1);
  EXPECT_EQ(clock.yields, PlayLoop::kSleepEarlyUs);
}

TEST_F(PacingTest, ElapsedTimeStaysRightFarFromTheReference) {
  // 10000 s after the reference: the plain product of counts and 1000000
  // would overflow 64 bits, look negative and wait for ever. Already past
  // any 32-bit target, the call must not wait.
  ring.set_drift_correction(100);
  prepare(0, 0xFFFFFF00u, 10000LL * 1000000);
  loop.pace();
  EXPECT_EQ(clock.yields, 0);
}

TEST_F(PacingTest, AFailedCounterQueryOnlyCancelsTheWaitInProgress) {
  ring.set_drift_correction(60);

  // The flag already clear: no wait, but the reference is taken again and
  // pacing works from the next call on.
  prepare(0, 1000, 0);
  loop.pacing.counter_ok = false;
  loop.pace();
  EXPECT_EQ(clock.yields + clock.sleeps, 0);
  EXPECT_TRUE(loop.pacing.counter_ok);
  EXPECT_EQ(loop.pacing.ticks_at_reference, 1000u);

  // The fifth query fails while checking after the sleep: the wait ends
  // there and a fresh reading starts pacing again.
  prepare(0, 3000, 0);
  clock.queries = 0;
  clock.failing_query = 5;
  loop.pace();
  EXPECT_EQ(clock.yields, 3);
  EXPECT_TRUE(loop.pacing.counter_ok);
  EXPECT_EQ(ended_at_us(), 3013);

  // The first query fails: no wait; the next call does not wait either, and
  // its reading restores pacing.
  prepare(0, 3000, 0);
  clock.queries = 0;
  clock.yields = 0;
  clock.sleeps = 0;
  clock.failing_query = 1;
  loop.pace();
  EXPECT_FALSE(loop.pacing.counter_ok);
  loop.pacing.tick_count += 3000;
  loop.pace();
  EXPECT_EQ(clock.yields + clock.sleeps, 0);
  EXPECT_TRUE(loop.pacing.counter_ok);
}

// Tick after tick, as the play loop calls it: each tick is due 1 + D us after
// the one before (D > 0), and the chip may run ahead of that by the margin
// only. It must sleep rather than spin, at most about once per margin of real
// time, and, when the clock jumps ahead, take up from the present instead of
// racing to catch up (the ticks run before the next reading notices the jump
// count as late: up to one more margin).
TEST_F(PacingTest, TickByTickTheChipStaysWithinTheMarginAndSleepsRarely) {
  struct Case {
    int16_t drift;
    int64_t oversleep_us;
    int64_t jump_us;  // real time that passes unseen halfway through
  };
  for (const Case c : {Case{60, 0, 0}, Case{100, 80, 0}, Case{51, 0, 7000}}) {
    SCOPED_TRACE(testing::Message()
                 << c.drift << " " << c.oversleep_us << " " << c.jump_us);
    ring.set_drift_correction(c.drift);
    prepare(0, 0, 0);
    clock.sleeps = 0;
    clock.yields = 0;
    clock.oversleep = c.oversleep_us * 1000;
    constexpr uint32_t kTicks = 200000;
    int64_t due_us = 0;  // when the ticks run so far are due at the earliest
    for (uint32_t tick = 0; tick < kTicks; ++tick) {
      if (tick == kTicks / 2) {
        clock.time += c.jump_us * 1000;
        due_us = std::max(due_us, clock.time / 1000);
      }
      loop.pace();
      due_us += 1 + c.drift;
      const int64_t margin_us = PlayLoop::kMarginUs * (c.jump_us != 0 ? 2 : 1);
      ASSERT_LE(due_us, clock.time / 1000 + margin_us + 1 + c.drift) << tick;
      ++loop.pacing.tick_count;
    }
    const int64_t real_us = clock.time / 1000;
    // Held back no longer than needed: the oversleeps of each wait at most.
    EXPECT_LE(real_us, due_us + c.oversleep_us * clock.sleeps);
    EXPECT_GE(clock.sleeps, 1);
    EXPECT_LE(clock.sleeps, real_us / PlayLoop::kMarginUs + 1);
    EXPECT_LE(clock.yields, clock.sleeps * (PlayLoop::kSleepEarlyUs + 1));
  }
  // Running dry (D < 0 covering every tick): no wait at all, and the counter
  // is read only once in a while.
  ring.set_drift_correction(-60);
  prepare(0, 0, 0);
  clock.queries = 0;
  clock.sleeps = 0;
  for (uint32_t tick = 0; tick < 100000; ++tick) {
    loop.pace();
    ++loop.pacing.tick_count;
  }
  EXPECT_EQ(clock.sleeps, 0);
  EXPECT_LE(clock.queries, 100000 / PlayLoop::kTicksPerReading + 1);
}

}  // namespace
