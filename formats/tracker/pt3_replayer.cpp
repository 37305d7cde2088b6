#include "formats/tracker/pt3_replayer.h"

#include "formats/importers.h"

namespace {

// The first version whose playback uses the rounded volume table: the
// tracker's own 3.3 playback does.
constexpr int kFirstRoundedVersion = 3;

// The built-in empty sample line: tone and noise off, amplitude 0.
constexpr std::array<uint8_t, 4> kEmptyLine = {0x00, 0x90, 0x00, 0x00};

std::string at_offset(const char* what, size_t offset) {
  return std::string(what) + " at offset " + hex(offset) + " lies outside the module";
}

}  // namespace

Pt3Replayer::Pt3Replayer(const Pt3Module& module)
    : module_(module),
      tones_(pt3_tone_table(module.tone_table(), module.version())),
      volumes_(module.version() >= kFirstRoundedVersion),
      speed_(static_cast<uint8_t>(module.speed())) {
  if (!start_position(0)) return;
  if (module_.loop_position() == 0) loop_frame_ = 0;
}

bool Pt3Replayer::fail(const char* what, size_t offset) {
  if (error_.empty()) error_ = at_offset(what, offset);
  ended_ = true;
  return false;
}

bool Pt3Replayer::read_pattern_byte(Channel& channel, uint8_t& value) {
  if (!module_.holds(channel.stream, 1)) return fail("pattern data", channel.stream);
  value = module_.byte(channel.stream++);
  return true;
}

bool Pt3Replayer::start_position(int position) {
  position_ = position;
  const int pattern = module_.pattern_at(position);
  for (int index = 0; index < 3; ++index) {
    size_t offset = 0;
    if (!module_.channel_stream(pattern, index, offset))
      return fail("pattern table entry", static_cast<size_t>(pattern) * 6);
    channels_[index].stream = offset;
  }
  noise_base_ = 0;
  return true;
}

bool Pt3Replayer::next_frame(TrackerFrame& frame) {
  if (ended_) return false;
  mixer_ = 0;
  envelope_add_ = 0;
  envelope_restart_ = false;
  if (--speed_counter_ == 0) {
    if (!decode_rows()) return false;
    speed_counter_ = speed_;
  }
  for (int index = 0; index < 3; ++index)
    if (!channel_registers(channels_[index], index)) return false;
  finish_frame();
  frame.regs = regs_;
  frame.envelope_restart = envelope_restart_;
  ++frame_;
  return true;
}

// A new row on each channel whose note skip has run out. Channel A's stream
// ending (a byte 0) moves the song to its next position, or ends the pass at
// the last one.
bool Pt3Replayer::decode_rows() {
  Channel& a = channels_[0];
  if (--a.skip_counter == 0) {
    if (!module_.holds(a.stream, 1)) return fail("pattern data", a.stream);
    if (module_.byte(a.stream) == 0) {
      if (position_ + 1 >= module_.positions()) {
        ended_ = true;
        return false;
      }
      if (!start_position(position_ + 1)) return false;
      if (position_ == module_.loop_position() && loop_frame_ < 0)
        loop_frame_ = static_cast<int64_t>(frame_);
    }
    if (!decode_row(a)) return false;
  }
  for (int index = 1; index < 3; ++index) {
    Channel& channel = channels_[index];
    if (--channel.skip_counter == 0 && !decode_row(channel)) return false;
  }
  return true;
}

bool Pt3Replayer::decode_row(Channel& channel) {
  channel.previous_note = channel.note;
  channel.previous_slide = channel.tone_slide;
  uint8_t commands[16];
  int command_count = 0;
  for (bool row_done = false; !row_done;) {
    uint8_t code = 0;
    if (!read_pattern_byte(channel, code)) return false;
    if (!decode_byte(channel, code, row_done, commands, command_count)) return false;
  }
  channel.skip_counter = channel.skip;
  // The routine runs the row's effects last named first, each reading its
  // parameters from the stream after the row's note.
  while (command_count > 0)
    if (!run_command(channel, commands[--command_count])) return false;
  return true;
}

bool Pt3Replayer::decode_byte(Channel& channel, uint8_t code, bool& row_done,
                              uint8_t* commands, int& command_count) {
  uint8_t value = 0;
  if (code >= 0xF0) {  // ornament, envelope off, sample
    channel.envelope = false;
    if (!set_ornament(channel, code - 0xF0) || !read_pattern_byte(channel, value))
      return false;
    return set_sample(channel, value >> 1);
  }
  if (code >= 0xD1) return set_sample(channel, code - 0xD0);
  if (code == 0xD0) {  // empty row
    row_done = true;
    return true;
  }
  if (code >= 0xC1) {
    channel.volume = static_cast<uint8_t>(code - 0xC0);
    return true;
  }
  if (code == 0xC0 || (code >= 0x50 && code <= 0xAF)) {  // note off or note
    restart_note(channel);
    channel.enabled = code != 0xC0;
    if (channel.enabled) channel.note = static_cast<uint8_t>(code - 0x50);
    row_done = true;
    return true;
  }
  if (code >= 0xB2) return set_envelope(channel, static_cast<uint8_t>(code - 0xB1));
  if (code == 0xB1) return read_pattern_byte(channel, channel.skip);
  if (code == 0xB0 || code == 0x10) {
    channel.envelope = false;
    channel.ornament_position = 0;
    if (code == 0xB0) return true;
  }
  if (code >= 0x40 && code <= 0x4F) return set_ornament(channel, code - 0x40);
  if (code >= 0x20 && code <= 0x3F) {
    noise_base_ = static_cast<uint8_t>(code - 0x20);
    return true;
  }
  if (code >= 0x10 && code <= 0x1F) {  // envelope (or none) and sample
    if (code != 0x10 && !set_envelope(channel, static_cast<uint8_t>(code - 0x10)))
      return false;
    return read_pattern_byte(channel, value) && set_sample(channel, value >> 1);
  }
  if (code >= 0x01 && code <= 0x0F) {
    if (command_count < 16) commands[command_count++] = code;
    return true;
  }
  // A byte 0 outside channel A's row start: the row ends, the stream stays.
  --channel.stream;
  row_done = true;
  return true;
}

bool Pt3Replayer::set_sample(Channel& channel, int sample) {
  size_t offset = 0;
  if (!module_.sample_offset(sample, offset)) return fail("sample", offset);
  channel.sample = offset;
  return true;
}

bool Pt3Replayer::set_ornament(Channel& channel, int ornament) {
  size_t offset = 0;
  if (!module_.ornament_offset(ornament, offset)) return fail("ornament", offset);
  channel.ornament = offset;
  channel.ornament_position = 0;
  return true;
}

bool Pt3Replayer::set_envelope(Channel& channel, uint8_t shape) {
  uint8_t high = 0, low = 0;
  if (!read_pattern_byte(channel, high) || !read_pattern_byte(channel, low)) return false;
  channel.envelope = true;
  channel.ornament_position = 0;
  regs_[13] = shape;
  envelope_restart_ = true;
  envelope_base_ = static_cast<uint16_t>(high << 8 | low);
  envelope_delay_counter_ = 0;
  envelope_slide_ = 0;
  return true;
}

void Pt3Replayer::restart_note(Channel& channel) {
  channel.sample_position = channel.ornament_position = 0;
  channel.amplitude_slide = 0;
  channel.noise_slide = channel.envelope_slide = 0;
  channel.slide_counter = 0;
  channel.tone_slide = channel.tone_accumulator = 0;
  channel.toggle_counter = 0;
}

bool Pt3Replayer::run_command(Channel& channel, uint8_t command) {
  uint8_t a = 0, b = 0;
  switch (command) {
    case 1:  // tone slide: delay, 16-bit step
      if (!read_pattern_byte(channel, a) || !read_pattern_byte(channel, b)) return false;
      channel.simple_glide = true;
      channel.slide_delay = a;
      channel.slide_counter = a == 0 && module_.version() >= 7 ? 1 : a;
      channel.slide_step = b;
      if (!read_pattern_byte(channel, b)) return false;
      channel.slide_step = static_cast<uint16_t>(channel.slide_step | b << 8);
      channel.toggle_counter = 0;
      return true;
    case 2: return run_portamento(channel);
    case 3: return read_pattern_byte(channel, channel.sample_position);
    case 4: return read_pattern_byte(channel, channel.ornament_position);
    case 5:  // vibrato: on and off times
      if (!read_pattern_byte(channel, channel.on_delay) ||
          !read_pattern_byte(channel, channel.off_delay))
        return false;
      channel.toggle_counter = channel.on_delay;
      channel.slide_counter = 0;
      channel.tone_slide = 0;
      return true;
    case 8:  // envelope slide: delay, 16-bit step
      if (!read_pattern_byte(channel, envelope_delay_) ||
          !read_pattern_byte(channel, a) || !read_pattern_byte(channel, b))
        return false;
      envelope_delay_counter_ = envelope_delay_;
      envelope_slide_step_ = static_cast<uint16_t>(a | b << 8);
      return true;
    case 9: return read_pattern_byte(channel, speed_);
    default: return true;  // no effect of the routine's: no parameters
  }
}

// Portamento: delay, two bytes the routine skips, 16-bit step; it glides
// from the previous row's note to this row's.
bool Pt3Replayer::run_portamento(Channel& channel) {
  uint8_t bytes[5];
  for (uint8_t& byte : bytes)
    if (!read_pattern_byte(channel, byte)) return false;
  channel.simple_glide = false;
  channel.toggle_counter = 0;
  channel.slide_delay = channel.slide_counter = bytes[0];
  int16_t step = static_cast<int16_t>(bytes[3] | bytes[4] << 8);
  if (step < 0) step = static_cast<int16_t>(-step);
  channel.slide_delta =
      static_cast<uint16_t>(tones_[channel.note] - tones_[channel.previous_note]);
  channel.slide_target = channel.note;
  channel.note = channel.previous_note;
  if (module_.version() >= 6) channel.tone_slide = channel.previous_slide;
  const auto distance = static_cast<int16_t>(channel.slide_delta - channel.tone_slide);
  channel.slide_step = static_cast<uint16_t>(distance < 0 ? -step : step);
  return true;
}

bool Pt3Replayer::read_sample_line(const Channel& channel, std::array<uint8_t, 4>& line,
                                   uint8_t& loop, uint8_t& length) {
  if (channel.sample == kEmpty) {
    line = kEmptyLine;
    loop = 0;
    length = 1;
    return true;
  }
  loop = module_.byte(channel.sample);
  length = module_.byte(channel.sample + 1);
  const size_t at = channel.sample + 2 + size_t{channel.sample_position} * 4;
  if (!module_.holds(at, 4)) return fail("sample line", at);
  for (size_t i = 0; i < 4; ++i) line[i] = module_.byte(at + i);
  return true;
}

bool Pt3Replayer::read_ornament_step(const Channel& channel, int8_t& offset,
                                     uint8_t& loop, uint8_t& length) {
  if (channel.ornament == kEmpty) {
    offset = 0;
    loop = 0;
    length = 1;
    return true;
  }
  loop = module_.byte(channel.ornament);
  length = module_.byte(channel.ornament + 1);
  const size_t at = channel.ornament + 2 + channel.ornament_position;
  if (!module_.holds(at, 1)) return fail("ornament line", at);
  offset = static_cast<int8_t>(module_.byte(at));
  return true;
}

// One step of a tone slide; a portamento stops on its target note once the
// slide has gone as far as the notes are apart (compared the routine's way:
// by the step's high byte, not its sign).
void Pt3Replayer::slide_tone(Channel& channel) {
  if (channel.slide_counter == 0 || --channel.slide_counter != 0) return;
  channel.slide_counter = channel.slide_delay;
  channel.tone_slide = static_cast<uint16_t>(channel.tone_slide + channel.slide_step);
  if (channel.simple_glide) return;
  const uint16_t left =
      (channel.slide_step >> 8) == 0
          ? static_cast<uint16_t>(channel.tone_slide - channel.slide_delta)
          : static_cast<uint16_t>(channel.slide_delta - channel.tone_slide);
  if (left & 0x8000) return;
  channel.note = channel.slide_target;
  channel.slide_counter = 0;
  channel.tone_slide = 0;
}

// The sample line's 5-bit field: an envelope offset (signed) when the line
// masks noise, else a noise offset; either may accumulate.
void Pt3Replayer::apply_envelope_and_noise(Channel& channel, uint8_t b0, uint8_t b1) {
  const bool accumulate = (b1 & 0x20) != 0;
  if (b1 & 0x80) {
    uint8_t offset = static_cast<uint8_t>((b0 >> 1) & 0x1F);
    if (offset & 0x10) offset |= 0xE0;
    const auto value = static_cast<uint8_t>(offset + channel.envelope_slide);
    if (accumulate) channel.envelope_slide = value;
    envelope_add_ = static_cast<uint8_t>(envelope_add_ + value);
  } else {
    noise_add_ = static_cast<uint8_t>((b0 >> 1) + channel.noise_slide);
    if (accumulate) channel.noise_slide = noise_add_;
  }
}

bool Pt3Replayer::channel_registers(Channel& channel, int index) {
  uint8_t amplitude = 0, bits = 0;
  if (channel.enabled) {
    std::array<uint8_t, 4> line{};
    uint8_t sample_loop = 0, sample_length = 0, ornament_loop = 0, ornament_length = 0;
    int8_t note_offset = 0;
    if (!read_sample_line(channel, line, sample_loop, sample_length) ||
        !read_ornament_step(channel, note_offset, ornament_loop, ornament_length))
      return false;
    const uint8_t b0 = line[0], b1 = line[1];
    uint16_t tone =
        static_cast<uint16_t>((line[2] | line[3] << 8) + channel.tone_accumulator);
    if (b1 & 0x40) channel.tone_accumulator = tone;
    // The routine takes a sum with bit 7 set as below note 0.
    uint8_t note = static_cast<uint8_t>(channel.note + note_offset);
    if (note & 0x80) note = 0;
    if (note > 95) note = 95;
    tone = static_cast<uint16_t>((tone + channel.tone_slide + tones_[note]) & 0xFFF);
    regs_[index * 2] = static_cast<uint8_t>(tone & 0xFF);
    regs_[index * 2 + 1] = static_cast<uint8_t>(tone >> 8);
    slide_tone(channel);
    if (b0 & 0x80) {
      if (b0 & 0x40) {
        if (channel.amplitude_slide < 15) ++channel.amplitude_slide;
      } else if (channel.amplitude_slide > -15) {
        --channel.amplitude_slide;
      }
    }
    int level = (b1 & 0x0F) + channel.amplitude_slide;
    level = level < 0 ? 0 : level > 15 ? 15 : level;
    amplitude = volumes_.at(channel.volume, level);
    if ((b0 & 1) == 0 && channel.envelope) amplitude |= 0x10;
    apply_envelope_and_noise(channel, b0, b1);
    bits = static_cast<uint8_t>((b1 >> 1) & 0x48);
    if (++channel.sample_position >= sample_length) channel.sample_position = sample_loop;
    if (++channel.ornament_position >= ornament_length)
      channel.ornament_position = ornament_loop;
  }
  regs_[8 + index] = amplitude;
  mixer_ = static_cast<uint8_t>((mixer_ | bits) >> 1);
  if (channel.toggle_counter != 0 && --channel.toggle_counter == 0) {
    channel.enabled = !channel.enabled;
    channel.toggle_counter = channel.enabled ? channel.on_delay : channel.off_delay;
  }
  return true;
}

void Pt3Replayer::finish_frame() {
  regs_[7] = mixer_;
  regs_[6] = static_cast<uint8_t>((noise_base_ + noise_add_) & 0x1F);
  const auto offset = static_cast<int8_t>(envelope_add_);
  const auto envelope = static_cast<uint16_t>(envelope_base_ + offset + envelope_slide_);
  regs_[11] = static_cast<uint8_t>(envelope & 0xFF);
  regs_[12] = static_cast<uint8_t>(envelope >> 8);
  if (envelope_delay_counter_ != 0 && --envelope_delay_counter_ == 0) {
    envelope_delay_counter_ = envelope_delay_;
    envelope_slide_ = static_cast<uint16_t>(envelope_slide_ + envelope_slide_step_);
  }
}
