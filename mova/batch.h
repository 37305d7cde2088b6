// `mova render`'s batch: output names decided up front, jobs run on worker
// threads, progress and the summary line.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// The output file of every source in folder, in list order: the source's
// file name with its extension replaced by `extension` ("wav", "flac"):
// song.ym -> FOLDER/song.wav. A name already given (compared without regard
// to ASCII case, as Windows and macOS file systems compare) gets "-2", "-3",
// ... before the extension, the first number that is free. Decided from the
// list alone, so that any number of threads names alike.
std::vector<std::string> output_names(const std::vector<std::string>& sources,
                                      const std::string& folder,
                                      const std::string& extension);

struct JobResult {
  int exit_code = 0;      // 0: the file is complete
  uint64_t audio_us = 0;  // audio rendered
};

// One song's render. `stop` becomes true on Ctrl-C: the job may finish or
// abort (leaving no partial file) and return a non-zero code.
using BatchJob = std::function<JobResult(const std::atomic<bool>& stop)>;

struct BatchProgress {
  size_t done = 0, total = 0;  // songs finished (or failed) of all
  size_t failures = 0;         // songs whose code was not 0
  size_t not_started = 0;      // songs left out after a stop
  uint64_t audio_us = 0;       // audio rendered so far
  double wall_s = 0;           // seconds since the batch started
  double speed() const;        // audio time per wall time ("x real time")
  double left_s() const;       // wall time still to come, from the songs' pace
};

struct BatchResult {
  BatchProgress progress;  // as after the last song
  int exit_code = 0;       // the highest of the jobs' codes
};

// Runs every job once on `threads` worker threads (0: one per core,
// std::thread::hardware_concurrency()), taking jobs in list order. After each
// job `on_progress` is called, one call at a time. Once `stop` is true no
// further job starts; running ones see the flag.
BatchResult run_batch(const std::vector<BatchJob>& jobs, unsigned threads,
                      const std::atomic<bool>& stop,
                      const std::function<void(const BatchProgress&)>& on_progress);

// "7/20 songs  12:34 of audio  41.2x real time  0:15 left"
std::string progress_line(const BatchProgress& progress);
// "20 songs, 1 failed, 1:02:03 of audio in 0:45.2, 82.6x real time"
std::string summary_line(const BatchProgress& progress);
