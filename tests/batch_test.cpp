// Batch rendering: names decided up front, every job run once whatever the
// threads, the exit code the highest of the jobs', a stop that starts no more.
#include "mova/batch.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

namespace {

TEST(Batch, NamesAreDistinctAndDecidedByTheListAlone) {
  struct Case {
    std::vector<std::string> sources;
    const char* extension;
    std::vector<std::string> names;
  };
  const Case cases[] = {
      {{"a/song.ym", "b/song.vgz", "song.ym"},
       "wav",
       {"song.wav", "song-2.wav", "song-3.wav"}},
      {{"x/Tune.YM", "y/tune.psg"}, "flac", {"Tune.flac", "tune-2.flac"}},
      {{"song-2.ym", "song.ym", "other/song.ym"},
       "wav",
       {"song-2.wav", "song.wav", "song-3.wav"}},
      {{"music/log.txt", "noext", "dir/.hidden.ym"},
       "wav",
       {"log.wav", "noext.wav", ".hidden.wav"}},
  };
  for (const Case& c : cases) {
    const std::vector<std::string> names = output_names(c.sources, "out", c.extension);
    ASSERT_EQ(names.size(), c.names.size());
    for (size_t i = 0; i < names.size(); ++i)
      EXPECT_EQ(names[i], (std::filesystem::path("out") / c.names[i]).string());
  }
}

TEST(Batch, RunsEveryJobOnceAndGivesTheHighestCode) {
  struct Case {
    std::vector<int> codes;
    int exit_code;
    size_t failures;
  };
  const Case cases[] = {{{0, 0, 0}, 0, 0},
                        {{0, 9, 2, 0}, 9, 2},
                        {{2}, 2, 1},
                        {{}, 0, 0},
                        {{10, 3, 0, 9}, 10, 3}};
  for (const Case& c : cases) {
    for (unsigned threads : {1u, 2u, 4u, 0u}) {
      SCOPED_TRACE(testing::Message() << c.codes.size() << " jobs on " << threads);
      std::vector<std::atomic<int>> runs(c.codes.size());
      std::vector<BatchJob> jobs;
      for (size_t i = 0; i < c.codes.size(); ++i)
        jobs.push_back([&, i](const std::atomic<bool>&) {
          ++runs[i];
          std::this_thread::sleep_for(std::chrono::milliseconds(2));
          return JobResult{c.codes[i], 1000000};
        });
      std::atomic<bool> stop{false};
      size_t calls = 0, last_done = 0;
      bool in_order = true;
      const BatchResult result =
          run_batch(jobs, threads, stop, [&](const BatchProgress& p) {
            ++calls;
            in_order = in_order && p.done == last_done + 1;
            last_done = p.done;
          });
      EXPECT_EQ(result.exit_code, c.exit_code);
      EXPECT_EQ(result.progress.failures, c.failures);
      EXPECT_EQ(result.progress.done, c.codes.size());
      EXPECT_EQ(result.progress.audio_us, c.codes.size() * 1000000);
      EXPECT_EQ(calls, c.codes.size());
      EXPECT_TRUE(in_order);
      for (const std::atomic<int>& count : runs) EXPECT_EQ(count.load(), 1);
    }
  }
}

TEST(Batch, StopStartsNoFurtherJob) {
  std::atomic<bool> stop{false};
  std::vector<BatchJob> jobs;
  for (int i = 0; i < 10; ++i)
    jobs.push_back([&, i](const std::atomic<bool>& flag) {
      if (i == 3) stop = true;  // Ctrl-C while this one renders
      return JobResult{flag.load() ? 130 : 0, 0};
    });
  const BatchResult result = run_batch(jobs, 1, stop, nullptr);
  EXPECT_EQ(result.progress.done, 4u);
  EXPECT_EQ(result.progress.not_started, 6u);
  EXPECT_EQ(result.exit_code, 130);
  EXPECT_NE(summary_line(result.progress).find("6 not started"), std::string::npos);
}

TEST(Batch, LinesReadAsShown) {
  BatchProgress progress;
  progress.done = 5;
  progress.total = 20;
  progress.failures = 1;
  progress.audio_us = 3723000000;
  progress.wall_s = 45.25;
  EXPECT_EQ(progress_line(progress),
            "5/20 songs  1:02:03 of audio  82.3x real time  2:15 left");
  EXPECT_EQ(summary_line(progress),
            "5 songs, 1 failed, 1:02:03 of audio in 0:45.2, 82.3x real time");
}

}  // namespace
