// Tracker modules into timed writes: a replayer's frames through the
// RegisterStream, as a register dump's frames go through it. Shared by the
// tracker formats; not for use outside formats/.
#pragma once

#include <cstdint>

#include "formats/song.h"
#include "formats/tracker/tracker_frames.h"

// Most frames one pass of a module is played for: an hour at 50 Hz. A module
// that has not reached its end by then (a hostile one, or one that loops on
// an empty pattern) is cut there, with a note.
inline constexpr uint64_t kMaxTrackerFrames = 180000;

// Plays `source` once through (at most `max_frames` frames) at `rate_hz`,
// rescaling from `clock_hz`, into result.writes; fills frames, loop frame,
// duration and the stream's figures into result.info (whose format, title
// and the like the caller sets). Malformed with the source's error when the
// module turned out unreadable.
// With source_chip, the writes stay the source chip's (see ImportOptions).
void import_tracker_frames(TrackerFrameSource& source, uint32_t clock_hz, double rate_hz,
                           uint64_t max_frames, bool source_chip, ImportResult& result);

// Counts the frames of one pass (at most `max_frames`) without writing;
// false with the source's error when the module is unreadable.
bool count_tracker_frames(TrackerFrameSource& source, uint64_t max_frames,
                          uint64_t& frames);
