#include "common/log_writer.h"

#include <charconv>

#include "common/messages.h"

bool write_binary_event(uint32_t delay, uint8_t reg, uint8_t value, FILE* stream,
                        OutputFiles& files) {
  if (delay > kMaxBinaryDelay) {
    log_error("Delay too long (%lu). Can't encode.\n", static_cast<unsigned long>(delay));
    return false;
  }
  // Delay groups fill the record from byte 3 backwards; the record starts at
  // the last group stored, so the delay always takes its shortest form.
  uint8_t record[6];
  int first = 3;
  record[3] = static_cast<uint8_t>(delay & 0x7F);
  delay >>= 7;
  while (delay != 0) {
    record[--first] = static_cast<uint8_t>(0x80 | (delay & 0x7F));
    delay >>= 7;
  }
  record[4] = reg;
  record[5] = value;
  const size_t length = static_cast<size_t>(6 - first);
  return files.write(stream, record + first, length) == length;
}

int format_text_event(char* buffer, uint64_t time, uint8_t reg, uint8_t value) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  char* end = std::to_chars(buffer, buffer + 20, time).ptr;
  *end++ = ':';
  *end++ = kHex[reg >> 4];
  *end++ = kHex[reg & 15];
  *end++ = ':';
  *end++ = kHex[value >> 4];
  *end++ = kHex[value & 15];
  *end++ = '\n';
  return static_cast<int>(end - buffer);
}

bool write_text_event(uint64_t time, uint8_t reg, uint8_t value, FILE* stream,
                      OutputFiles& files) {
  char line[kMaxWrittenTextLine];
  const size_t length = static_cast<size_t>(format_text_event(line, time, reg, value));
  return files.write(stream, line, length) == length;
}

size_t first_unwritable_write(std::span<const TimedWrite> writes, LogForm form) {
  const uint64_t limit = form == LogForm::Binary ? kMaxBinaryDelay : UINT32_MAX;
  for (size_t i = 1; i < writes.size(); ++i) {
    if (writes[i].time < writes[i - 1].time ||
        writes[i].time - writes[i - 1].time > limit) {
      return i;
    }
  }
  return writes.size();
}

bool write_log(std::span<const TimedWrite> writes, LogForm form, FILE* stream,
               OutputFiles& files) {
  const bool binary = form == LogForm::Binary;
  if (files.write(stream, binary ? kBinaryMagic : kTextMagic, kMagicLength) !=
      kMagicLength) {
    return false;
  }
  for (size_t i = 0; i < writes.size(); ++i) {
    const TimedWrite& w = writes[i];
    const bool written =
        binary ? write_binary_event(i == 0 ? 0 : text_delay(writes[i - 1].time, w.time),
                                    w.reg, w.value, stream, files)
               : write_text_event(w.time, w.reg, w.value, stream, files);
    if (!written) return false;
  }
  return true;
}
