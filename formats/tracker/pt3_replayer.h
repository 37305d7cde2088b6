// The Pro Tracker 3 replay routine, one 50 Hz interrupt at a time.
//
// It keeps the routine's state (per channel: pattern stream, sample and
// ornament with their positions, note, volume, slides, vibrato; and the
// shared speed, noise and envelope bases and envelope slide) and computes
// registers 0..13 with the routine's own 8- and 16-bit arithmetic, so that
// every frame equals the tracker's playback. Version-dependent rules: the
// volume table (rounded from 3.3 on: the tracker's own 3.3 playback rounds,
// though older notes on the format give 3.5), the tone tables (newer from
// 3.4), the
// portamento's start (from 3.6 it keeps the slide in progress) and a tone
// slide of delay 0 (from 3.7 it steps once).
//
// Hostile modules: every read goes through Pt3Module's bounds, and one
// outside the module stops the song with an error. What the routine does
// with odd but readable data is done as it does it: speed 0 and a note skip
// of 0 count 256 (the routine's 8-bit counters wrap); a sample or ornament of
// length 0 plays its first line and then its loop line, as the routine's
// "position >= length" test makes it; a loop line past the length reads on
// into the bytes that follow, as far as the module reaches. A pattern whose
// channel A stream is empty moves on at once to the next position; a byte 0
// in channel B or C ends that channel's row without moving its stream.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "formats/tracker/pt3_module.h"
#include "formats/tracker/pt3_tables.h"
#include "formats/tracker/tracker_frames.h"

class Pt3Replayer final : public TrackerFrameSource {
 public:
  // The module must outlive the replayer.
  explicit Pt3Replayer(const Pt3Module& module);

  bool next_frame(TrackerFrame& frame) override;
  const std::string& error() const override { return error_; }
  int64_t loop_frame() const override { return loop_frame_; }

 private:
  // The sample and ornament a channel uses, or the routine's built-in empty
  // one (offset kEmpty) before the module names any.
  static constexpr size_t kEmpty = ~size_t{0};

  struct Channel {
    size_t stream = 0;  // next byte of the channel's pattern stream
    size_t sample = kEmpty, ornament = kEmpty;
    uint8_t sample_position = 0, ornament_position = 0;
    uint8_t note = 0, slide_target = 0, volume = 15;
    uint8_t skip = 0, skip_counter = 1;
    bool enabled = false, envelope = false, simple_glide = false;
    uint16_t tone_accumulator = 0, tone_slide = 0, slide_step = 0, slide_delta = 0;
    uint8_t slide_delay = 0, slide_counter = 0;
    int8_t amplitude_slide = 0;
    uint8_t noise_slide = 0, envelope_slide = 0;
    uint8_t on_delay = 0, off_delay = 0, toggle_counter = 0;
    uint8_t previous_note = 0;  // at the start of the row, for portamento
    uint16_t previous_slide = 0;
  };

  bool fail(const char* what, size_t offset);
  bool read_pattern_byte(Channel& channel, uint8_t& value);
  bool start_position(int position);
  bool decode_rows();
  bool decode_row(Channel& channel);
  // Applies one byte of a row; sets `row_done` at the byte that ends it.
  bool decode_byte(Channel& channel, uint8_t code, bool& row_done, uint8_t* commands,
                   int& command_count);
  bool set_sample(Channel& channel, int sample);
  bool set_ornament(Channel& channel, int ornament);
  bool set_envelope(Channel& channel, uint8_t shape);
  void restart_note(Channel& channel);
  bool run_command(Channel& channel, uint8_t command);
  bool run_portamento(Channel& channel);
  bool channel_registers(Channel& channel, int index);
  bool read_sample_line(const Channel& channel, std::array<uint8_t, 4>& line,
                        uint8_t& loop, uint8_t& length);
  bool read_ornament_step(const Channel& channel, int8_t& offset, uint8_t& loop,
                          uint8_t& length);
  void slide_tone(Channel& channel);
  void apply_envelope_and_noise(Channel& channel, uint8_t b0, uint8_t b1);
  void finish_frame();

  const Pt3Module& module_;
  const Pt3ToneTable& tones_;
  Pt3VolumeTable volumes_;
  std::array<Channel, 3> channels_{};
  std::array<uint8_t, 14> regs_{};
  bool envelope_restart_ = false;
  int position_ = 0;
  uint8_t speed_ = 0, speed_counter_ = 1;
  uint8_t noise_base_ = 0, noise_add_ = 0;
  uint8_t envelope_add_ = 0;  // this frame's channel offsets, 8-bit
  uint16_t envelope_base_ = 0, envelope_slide_ = 0, envelope_slide_step_ = 0;
  uint8_t envelope_delay_ = 0, envelope_delay_counter_ = 0;
  uint8_t mixer_ = 0;
  bool ended_ = false;
  uint64_t frame_ = 0;
  int64_t loop_frame_ = -1;
  std::string error_;
};
