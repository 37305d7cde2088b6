#include "formats/tracker_song.h"

#include "formats/importers.h"
#include "formats/register_stream.h"

void import_tracker_frames(TrackerFrameSource& source, uint32_t clock_hz, double rate_hz,
                           uint64_t max_frames, bool source_chip, ImportResult& result) {
  RegisterStream stream(clock_hz, result.writes, source_chip);
  TrackerFrame frame;
  uint64_t frames = 0;
  bool ended = false;
  while (frames < max_frames) {
    if (!source.next_frame(frame)) {
      ended = true;
      break;
    }
    for (uint8_t reg = 0; reg < 13; ++reg) stream.set(reg, frame.regs[reg]);
    if (frame.envelope_restart) stream.set(13, frame.regs[13]);
    if (!stream.flush(frame_time_us(frames, rate_hz))) {
      result = malformed("more than " + with_commas(kMaxWrites) + " writes");
      return;
    }
    ++frames;
  }
  if (ended && !source.error().empty()) {
    const std::string error = source.error();
    result = malformed(error);
    return;
  }
  if (frames == 0) {
    result = malformed("the module plays no frame");
    return;
  }
  stream.finish(frame_time_us(frames, rate_hz));
  SongInfo& info = result.info;
  if (!ended)
    info.notes.push_back("cut after " + with_commas(max_frames) +
                         " frames: the module had not reached its end");
  info.frames = frames;
  info.loop_frame = source.loop_frame();
  info.duration_us = frame_time_us(frames, rate_hz);
  // Where the song repeats from, for --loops and --fade.
  if (info.loop_frame >= 0 && static_cast<uint64_t>(info.loop_frame) < frames) {
    info.loop_time_us = static_cast<int64_t>(
        frame_time_us(static_cast<uint64_t>(info.loop_frame), rate_hz));
  }
  stream.report(info);
}

bool count_tracker_frames(TrackerFrameSource& source, uint64_t max_frames,
                          uint64_t& frames) {
  TrackerFrame frame;
  frames = 0;
  while (frames < max_frames && source.next_frame(frame)) ++frames;
  return source.error().empty();
}
