#include "common/register_log.h"

#include <cstring>

#include "common/files.h"
#include "common/messages.h"

int read_log_line(FILE* stream, char* buffer, int max_chars, bool* ended_with_crlf) {
  int count = 0;
  if (ended_with_crlf != nullptr) *ended_with_crlf = false;
  while (count < max_chars) {
    int c = read_byte(stream);
    if (c == EOF) break;
    if (c == '\r') {
      // A CR LF pair is one line end, as a Windows text stream reads it.
      int next = read_byte(stream);
      if (next == '\n') {
        c = '\n';
        if (ended_with_crlf != nullptr) *ended_with_crlf = true;
      } else if (next != EOF) {
        ungetc(next, stream);
      }
    }
    buffer[count++] = static_cast<char>(c);
    if (c == '\n') break;
  }
  buffer[count] = '\0';
  return count;
}

bool parse_hex_byte(const char* text, uint8_t* result) {
  unsigned value = 0;
  for (int i = 0; i < 2; ++i) {
    const char c = text[i];
    unsigned digit = 0;
    if (c >= '0' && c <= '9') {
      digit = static_cast<unsigned>(c - '0');
    } else if (c >= 'A' && c <= 'F') {
      digit = static_cast<unsigned>(c - 'A' + 10);
    } else if (c >= 'a' && c <= 'f') {
      digit = static_cast<unsigned>(c - 'a' + 10);
    } else {
      *result = static_cast<uint8_t>(value);
      return false;
    }
    value = value * 16 + digit;
  }
  *result = static_cast<uint8_t>(value);
  return text[2] == '\0' || (text[2] == '\n' && text[3] == '\0');
}

int32_t parse_time_field(const char* text) {
  const char* p = text;
  while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\v' || *p == '\f' ||
         *p == '\r') {
    ++p;
  }
  bool negative = false;
  if (*p == '+' || *p == '-') {
    negative = *p == '-';
    ++p;
  }
  // Unsigned arithmetic wraps instead of overflowing, which keeps every
  // difference between successive lines right.
  uint32_t value = 0;
  while (*p >= '0' && *p <= '9') {
    value = value * 10u + static_cast<uint32_t>(*p - '0');
    ++p;
  }
  if (negative) value = 0u - value;
  return static_cast<int32_t>(value);
}

TextLineStatus parse_text_line(char* line, int32_t* time, bool* have_time, uint8_t* reg,
                               uint8_t* value) {
  *have_time = false;
  char* first_colon = std::strchr(line, ':');
  if (first_colon == nullptr) return TextLineStatus::NoTimeColon;
  *first_colon = '\0';
  *time = parse_time_field(line);
  *have_time = true;

  char* second_colon = std::strchr(first_colon + 1, ':');
  if (second_colon == nullptr) return TextLineStatus::NoRegisterColon;
  *second_colon = '\0';
  if (!parse_hex_byte(first_colon + 1, reg)) return TextLineStatus::BadRegister;
  if (!parse_hex_byte(second_colon + 1, value)) return TextLineStatus::BadValue;
  return TextLineStatus::Ok;
}

namespace {

// Reads one text line and splits it. Returns false when nothing was left or
// the line does not parse; *time is set as soon as the time field is known,
// since the player records it even for a line that fails later.
bool split_text_line(FILE* stream, int32_t* time, bool* have_time, uint8_t* reg,
                     uint8_t* value) {
  char line[kMaxTextLine + 1];
  *have_time = false;
  if (read_log_line(stream, line, kMaxTextLine) == 0) return false;
  return parse_text_line(line, time, have_time, reg, value) == TextLineStatus::Ok;
}

// The writes form: the delay is what the text reader would read from the
// writes' text log, whose time fields carry the full times.
bool read_write_event(RegisterLog& log, uint32_t* delay, uint8_t* reg, uint8_t* value) {
  if (log.next_write == log.end_write) return false;
  const TimedWrite& write = *log.next_write++;
  if (delay != nullptr) {
    *delay = text_delay(static_cast<uint32_t>(log.previous_time), write.time);
  }
  log.previous_time = static_cast<int32_t>(static_cast<uint32_t>(write.time));
  *reg = write.reg;
  *value = write.value;
  return true;
}

}  // namespace

bool read_text_event(FILE* stream, int32_t& previous_time, uint32_t* delay, uint8_t* reg,
                     uint8_t* value) {
  int32_t time = 0;
  bool have_time = false;
  const bool ok = split_text_line(stream, &time, &have_time, reg, value);
  if (have_time) {
    if (delay != nullptr) {
      *delay = static_cast<uint32_t>(time) - static_cast<uint32_t>(previous_time);
    }
    previous_time = time;
  }
  return ok;
}

bool read_text_event_time(FILE* stream, int32_t* time, uint8_t* reg, uint8_t* value) {
  bool have_time = false;
  return split_text_line(stream, time, &have_time, reg, value);
}

bool RegisterLog::event_reader(uint32_t* delay, uint8_t* reg, uint8_t* value) {
  switch (form) {
    case LogForm::Binary: return read_binary_event(stream, delay, reg, value);
    case LogForm::Text: return read_text_event(stream, previous_time, delay, reg, value);
    case LogForm::Writes: break;
  }
  return read_write_event(*this, delay, reg, value);
}

void RegisterLog::close() {
  if (stream != nullptr) std::fclose(stream);
  stream = nullptr;
}

bool report_read_error(const RegisterLog& log, const char* input_path) {
  if (!log.read_failed()) return false;
  log_error("Can't read [%s]\n", input_path);
  return true;
}

bool open_register_log(RegisterLog& log, const char* input_path, LogOpenRules rules,
                       InputFiles& files) {
  // Binary mode everywhere: line ends are folded by read_log_line, so a log
  // reads the same on every platform.
  FILE* stream = files.open(input_path);
  if (stream == nullptr || stream_is_directory(stream)) {
    if (stream != nullptr) std::fclose(stream);
    log_error("Can't open [%s]\n", input_path);
    return false;
  }

  LogForm form = LogForm::Text;
  bool crlf = false;
  if (!read_log_magic(stream, rules, &form, &crlf)) {
    if (std::ferror(stream) != 0) {
      log_error("Can't read [%s]\n", input_path);
    } else {
      log_error("Unknown format [%s]\n", input_path);
    }
    std::fclose(stream);
    return false;
  }
  log.stream = stream;
  log.form = form;
  return true;
}

bool read_log_magic(FILE* stream, LogOpenRules rules, LogForm* form, bool* crlf) {
  // The first line, at most nine characters, must be one of the magic lines
  // exactly: a longer or shorter first line is neither.
  char first_line[kMagicLength + 1];
  bool ended_with_crlf = false;
  const int length = read_log_line(stream, first_line, kMagicLength, &ended_with_crlf);
  const bool is_text =
      length == kMagicLength && std::memcmp(first_line, kTextMagic, kMagicLength) == 0;
  const bool is_binary = rules == LogOpenRules::Player && length == kMagicLength &&
                         std::memcmp(first_line, kBinaryMagic, kMagicLength) == 0;
  if (!is_text && !is_binary) return false;
  // Binary records start right after the 9 raw bytes of the magic. A magic
  // line ending in CR LF was folded on the way in and took 10 raw bytes: its
  // LF then already belongs to the records.
  if (is_binary && ended_with_crlf) ungetc('\n', stream);
  *form = is_text ? LogForm::Text : LogForm::Binary;
  *crlf = ended_with_crlf;
  return true;
}

void open_register_log(RegisterLog& log, std::span<const TimedWrite> writes) {
  log.stream = nullptr;
  log.form = LogForm::Writes;
  log.previous_time = 0;
  log.next_write = writes.data();
  log.end_write = writes.data() + writes.size();
}
