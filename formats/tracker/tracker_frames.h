// What every tracker module's replayer gives the importer: one frame of the
// chip's registers per player interrupt, until the song has played once.
//
// A tracker module is a program for a replay routine, not a register dump:
// the replayer of each format (Pro Tracker 3 here; Pro Tracker 2, Sound
// Tracker, ASC and the other 50 Hz formats of the same family fit the same
// mould) runs that routine one interrupt at a time. The importer around it
// (formats/tracker_song.cpp) only needs this interface: frames of registers
// 0..13 at the module's own clock, where the song loops, and why it stopped.
#pragma once

#include <array>
#include <cstdint>
#include <string>

struct TrackerFrame {
  std::array<uint8_t, 14> regs{};  // registers 0..13 as the routine left them
  bool envelope_restart = false;   // register 13 written in this frame
};

class TrackerFrameSource {
 public:
  virtual ~TrackerFrameSource() = default;

  // Runs one interrupt. Returns false once the song has played through its
  // last position (frame left untouched) or the module turned out unreadable
  // (error() says why).
  virtual bool next_frame(TrackerFrame& frame) = 0;

  // Empty while the module reads well, else a one-line reason.
  virtual const std::string& error() const = 0;

  // The frame (counted from 0) where the song's loop position started, or -1
  // while it has not been reached.
  virtual int64_t loop_frame() const = 0;
};
