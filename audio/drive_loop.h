// The one loop that joins a source of timed writes to a synthesis engine:
// the first write at once, at chip time 0; then for every further write its
// delay's ticks, in runs, and the write. A policy stands between the runs:
// the render policy empties the ring into a file whenever it wants emptying,
// the live policies pace the chip against real time and take commands.
//
// Use:
//   DriveLoop loop(source, engine);
//   if (!loop.read_first()) ... the source holds no write
//   loop.start();                 // engine reset, first write applied
//   loop.run(policy);             // to the end of the source, or a stop
#pragma once

#include <cstdint>

#include "common/write_source.h"
#include "psg/synthesis_engine.h"

// What stands between the runs of one drive.
class DrivePolicy {
 public:
  virtual ~DrivePolicy() = default;
  // Before each run: how many of the `due` ticks (at least 1) before the
  // next write to run now, from 1 to due; 0 stops the drive here.
  virtual uint32_t before_run(uint32_t due) = 0;
  // After each run, with the ticks it ran.
  virtual void after_run(uint32_t /*ran*/) {}
};

enum class DriveEnd : uint8_t {
  SourceEnded,  // every write was applied
  Stopped,      // the policy stopped it; run() again goes on from there
};

class DriveLoop {
 public:
  DriveLoop(WriteSource& source, SynthesisEngine& engine)
      : source_(source), engine_(engine) {}

  // Reads the first write; false when the source holds none.
  bool read_first();
  // Resets the engine and applies the first write at chip time 0.
  void start();
  // Runs the engine over the rest of the source, asking the policy before
  // every run.
  DriveEnd run(DrivePolicy& policy);

  // Brings the engine to `ticks` after the first write without making
  // frames: the song replayed from its start, every delay advanced over.
  // Only for a source that can rewind; false (nothing changed) otherwise.
  // The next run() goes on from there.
  bool seek(uint64_t ticks);

  // Chip ticks since the first write.
  uint64_t now() const { return now_; }

 private:
  WriteSource& source_;
  SynthesisEngine& engine_;
  uint64_t now_ = 0;
  // The write read and not yet applied, and the ticks still due before it.
  bool pending_ = false;
  uint64_t due_ = 0;
  uint8_t reg_ = 0;
  uint8_t value_ = 0;
};
