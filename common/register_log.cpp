#include "common/register_log.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "common/files.h"
#include "common/messages.h"

namespace {

// Cuts one line from a source of bytes (get() gives the next or EOF, unget()
// puts back the one just got), as read_log_line() describes.
template <typename Source>
int cut_line(Source& source, char* buffer, int max_chars, bool* ended_with_crlf) {
  int count = 0;
  if (ended_with_crlf != nullptr) *ended_with_crlf = false;
  while (count < max_chars) {
    int c = source.get();
    if (c == EOF) break;
    if (c == '\r') {
      // A CR LF pair is one line end, as a Windows text stream reads it.
      int next = source.get();
      if (next == '\n') {
        c = '\n';
        if (ended_with_crlf != nullptr) *ended_with_crlf = true;
      } else if (next != EOF) {
        source.unget(next);
      }
    }
    buffer[count++] = static_cast<char>(c);
    if (c == '\n') break;
  }
  buffer[count] = '\0';
  return count;
}

struct StreamBytes {
  int get() { return read_byte(stream); }
  void unget(int c) { ungetc(c, stream); }
  FILE* stream;
};

struct AheadBytes {
  int get() {
    if (ahead.next == ahead.end && !ahead.refill(stream)) return EOF;
    return static_cast<unsigned char>(ahead.bytes[ahead.next++]);
  }
  // Only ever the byte just got, which is still in the block.
  void unget(int /*c*/) { --ahead.next; }
  TextReadAhead& ahead;
  FILE* stream;
};

// The value of a hex digit, -1 for any other byte.
constexpr std::array<int8_t, 256> kHexDigits = [] {
  std::array<int8_t, 256> digits{};
  for (int c = 0; c < 256; ++c) {
    digits[static_cast<size_t>(c)] = static_cast<int8_t>(-1);
    if (c >= '0' && c <= '9')
      digits[static_cast<size_t>(c)] = static_cast<int8_t>(c - '0');
    if (c >= 'A' && c <= 'F')
      digits[static_cast<size_t>(c)] = static_cast<int8_t>(c - 'A' + 10);
    if (c >= 'a' && c <= 'f')
      digits[static_cast<size_t>(c)] = static_cast<int8_t>(c - 'a' + 10);
  }
  return digits;
}();

int hex_digit(char c) {
  return kHexDigits[static_cast<unsigned char>(c)];
}

}  // namespace

int read_log_line(FILE* stream, char* buffer, int max_chars, bool* ended_with_crlf) {
  StreamBytes bytes{stream};
  return cut_line(bytes, buffer, max_chars, ended_with_crlf);
}

bool TextReadAhead::refill(FILE* stream) {
  next = 0;
  end = std::fread(bytes, 1, sizeof bytes - 1, stream);
  bytes[end] = '\0';
  return end != 0;
}

int TextReadAhead::read_line(FILE* stream, char* buffer, int max_chars) {
  // Most lines lie whole in the block with no CR: copied as they are, which
  // is what cutting them byte by byte would give.
  const char* line = bytes + next;
  const size_t room = std::min(end - next, static_cast<size_t>(max_chars));
  const void* lf = std::memchr(line, '\n', room);
  if (lf != nullptr) {
    const size_t length = static_cast<size_t>(static_cast<const char*>(lf) - line) + 1;
    if (std::memchr(line, '\r', length) == nullptr) {
      std::memcpy(buffer, line, length);
      buffer[length] = '\0';
      next += length;
      return static_cast<int>(length);
    }
  }
  AheadBytes source{*this, stream};
  return cut_line(source, buffer, max_chars, nullptr);
}

bool parse_hex_byte(const char* text, uint8_t* result) {
  unsigned value = 0;
  for (int i = 0; i < 2; ++i) {
    const int digit = hex_digit(text[i]);
    if (digit < 0) {
      *result = static_cast<uint8_t>(value);
      return false;
    }
    value = value * 16 + static_cast<unsigned>(digit);
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

namespace {

// The fields of a line as logs are written, "DIGITS:HH:HH", in one pass:
// where the bytes after them start, or null when the line holds anything
// else. Each test reads one byte further only after the one before it found
// a byte other than NUL, so a scan never passes the NUL that ends the text.
const char* parse_plain_fields(const char* p, int32_t* time, uint8_t* reg,
                               uint8_t* value) {
  uint32_t digits = 0;
  for (; *p >= '0' && *p <= '9'; ++p)
    digits = digits * 10u + static_cast<uint32_t>(*p - '0');
  if (p[0] != ':' || hex_digit(p[1]) < 0 || hex_digit(p[2]) < 0 || p[3] != ':' ||
      hex_digit(p[4]) < 0 || hex_digit(p[5]) < 0) {
    return nullptr;
  }
  *time = static_cast<int32_t>(digits);
  *reg = static_cast<uint8_t>(hex_digit(p[1]) * 16 + hex_digit(p[2]));
  *value = static_cast<uint8_t>(hex_digit(p[4]) * 16 + hex_digit(p[5]));
  return p + 6;
}

// A whole line as logs are written, the fields and at most a line end: false
// for any other line, which the general rules then take. It gives what they
// would, splitting the line at its colons as they do.
bool parse_plain_line(char* line, int32_t* time, uint8_t* reg, uint8_t* value) {
  int32_t fields_time = 0;
  uint8_t fields_reg = 0;
  uint8_t fields_value = 0;
  const char* after = parse_plain_fields(line, &fields_time, &fields_reg, &fields_value);
  if (after == nullptr || (after[0] != '\0' && (after[0] != '\n' || after[1] != '\0'))) {
    return false;
  }
  char* colon = line + (after - line) - 6;
  colon[0] = '\0';
  colon[3] = '\0';
  *time = fields_time;
  *reg = fields_reg;
  *value = fields_value;
  return true;
}

}  // namespace

bool TextReadAhead::take_plain_line(int32_t* time, uint8_t* reg, uint8_t* value) {
  const char* line = bytes + next;
  int32_t line_time = 0;
  uint8_t line_reg = 0;
  uint8_t line_value = 0;
  const char* after = parse_plain_fields(line, &line_time, &line_reg, &line_value);
  if (after == nullptr || *after != '\n' || after + 1 - line > kMaxTextLine) return false;
  next = static_cast<size_t>(after + 1 - bytes);
  *time = line_time;
  *reg = line_reg;
  *value = line_value;
  return true;
}

TextLineStatus parse_text_line(char* line, int32_t* time, bool* have_time, uint8_t* reg,
                               uint8_t* value) {
  *have_time = parse_plain_line(line, time, reg, value);
  if (*have_time) return TextLineStatus::Ok;
  return parse_text_line_by_rules(line, time, have_time, reg, value);
}

TextLineStatus parse_text_line_by_rules(char* line, int32_t* time, bool* have_time,
                                        uint8_t* reg, uint8_t* value) {
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
                     uint8_t* value, TextReadAhead* ahead = nullptr) {
  char line[kMaxTextLine + 1];
  *have_time = false;
  const int length = ahead != nullptr ? ahead->read_line(stream, line, kMaxTextLine)
                                      : read_log_line(stream, line, kMaxTextLine);
  if (length == 0) return false;
  return parse_text_line(line, time, have_time, reg, value) == TextLineStatus::Ok;
}

}  // namespace

bool read_text_event(FILE* stream, int32_t& previous_time, uint32_t* delay, uint8_t* reg,
                     uint8_t* value, TextReadAhead* ahead) {
  int32_t time = 0;
  bool have_time = false;
  bool ok = false;
  if (ahead != nullptr && ahead->take_plain_line(&time, reg, value)) {
    ok = have_time = true;
  } else {
    ok = split_text_line(stream, &time, &have_time, reg, value, ahead);
  }
  if (have_time) {
    if (delay != nullptr) {
      *delay =
          text_delay(static_cast<uint32_t>(previous_time), static_cast<uint32_t>(time));
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
    case LogForm::Text: break;
  }
  return read_text_event(stream, previous_time, delay, reg, value,
                         ahead.used ? &ahead : nullptr);
}

long RegisterLog::position() const {
  const long read = std::ftell(stream);
  if (read < 0 || !ahead.used) return read;
  return read - static_cast<long>(ahead.end - ahead.next);
}

void RegisterLog::close() {
  if (stream != nullptr) std::fclose(stream);
  stream = nullptr;
  ahead.used = false;
}

bool report_read_error(const WriteSource& log, const char* input_path) {
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
  // A pipe or a device is read as its bytes come: a block read ahead would
  // wait for bytes that its writer may send only much later.
  log.ahead.used = form == LogForm::Text && stream_is_disk_file(stream);
  log.ahead.empty();
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
