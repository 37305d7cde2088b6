// Live play's driver and its pacing, on a scripted device and a fake clock:
// the exit paths, when pacing is called, and how long each call waits.
#include "audio/play_loop.h"

#include <gtest/gtest.h>

#include <string>

#include "common/messages.h"
#include "tests/support/fake_audio.h"
#include "tests/support/temp_dir.h"

namespace {

// A play loop with its chip and engine on the scripted device and fake clock.
struct LiveRig {
  SampleRing ring;
  Chip chip{ring};
  FakeThreads threads;
  ScriptedSink sink{threads};
  AudioEngine engine{chip, ring, sink, threads};
  FakeClock clock;
  PlayLoop loop{chip, ring, engine, clock};
};

class PlayLoopTest : public testing::Test, protected LiveRig {
 protected:
  PlayLoopTest() {
    set_program_name("Zarnik");
    chip.install_volume_table(kFullLevels);
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
    clock.queries = 0;
    EXPECT_EQ(play("0:08:0F\n10:08:0E\n"), kPlayOk);
    // One reading at play start; every pacing call reads at least twice.
    if (c.paced) {
      EXPECT_GE(clock.queries, 1 + 10 * 2);
    } else {
      EXPECT_EQ(clock.queries, 1);
    }
  }
}

// Pacing on its own: the fake counter runs at 1 GHz and moves one microsecond
// per yield, so the reference reading it ends with shows exactly where the
// wait stopped.
class PacingTest : public testing::Test, protected LiveRig {
 protected:
  // Sets the state as if the last call ended at time 0 after `since` ticks
  // and `real_us` microseconds have passed since.
  void prepare(uint32_t ticks_at_reference, uint32_t since, int64_t real_us) {
    loop.pacing.frequency = clock.counts_per_second_;
    loop.pacing.reference = 0;
    loop.pacing.ticks_at_reference = ticks_at_reference;
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
      {60, 1, 500, 500},  // already late: no wait
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
  prepare(0, 1, 0);
  clock.time = -5000;  // 5 us before the reference
  loop.pace();
  EXPECT_EQ(ended_at_us(), 61);
  EXPECT_EQ(clock.yields, 66);
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
  EXPECT_EQ(clock.yields, 0);
  EXPECT_TRUE(loop.pacing.counter_ok);
  EXPECT_EQ(loop.pacing.ticks_at_reference, 1000u);

  // The fifth query fails in the middle of the wait: the wait ends there.
  prepare(0, 1000, 0);
  clock.queries = 0;
  clock.yields = 0;
  clock.failing_query = 5;
  loop.pace();
  EXPECT_EQ(clock.yields, 4);
  EXPECT_TRUE(loop.pacing.counter_ok);  // the closing reading succeeded

  // The closing reading fails (1 query before the wait, 1060 in it): the
  // next call does not wait, and its own closing reading restores pacing.
  prepare(0, 1000, 0);
  clock.queries = 0;
  clock.yields = 0;
  clock.failing_query = 1 + 1060 + 1;
  loop.pace();
  EXPECT_EQ(clock.yields, 1060);
  EXPECT_FALSE(loop.pacing.counter_ok);
  loop.pacing.tick_count += 1000;
  clock.failing_query = 0;
  const int64_t yields_before = clock.yields;
  loop.pace();
  EXPECT_EQ(clock.yields, yields_before);
  EXPECT_TRUE(loop.pacing.counter_ok);
}

}  // namespace
