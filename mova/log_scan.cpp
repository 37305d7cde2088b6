#include "mova/log_scan.h"

#include <cerrno>
#include <cstring>
#include <optional>
#include <string_view>

#include "common/files.h"
#include "common/messages.h"
#include "mova/report.h"

namespace {

// Formats a finding's reason.
template <typename... Args>
std::string format_reason(const char* format, Args... args) {
  char text[384];
  std::snprintf(text, sizeof text, format, args...);
  return text;
}

Finding make_finding(FindingKind kind, uint64_t line, uint64_t offset,
                     std::string reason) {
  Finding finding;
  finding.kind = kind;
  finding.line = line;
  finding.offset = offset;
  finding.reason = std::move(reason);
  return finding;
}

// Whether only white space is left, from this line to the end of the file:
// a trailing blank line ends the log where the file ends anyway.
bool only_blanks_left(const char* line, int length, FILE* stream) {
  const auto blank = [](int c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
  };
  for (int i = 0; i < length; ++i) {
    if (!blank(static_cast<unsigned char>(line[i]))) return false;
  }
  for (int c = read_byte(stream); c != EOF; c = read_byte(stream)) {
    if (!blank(c)) return false;
  }
  return true;
}

const char* text_line_failure(TextLineStatus status) {
  switch (status) {
    case TextLineStatus::Ok: break;
    case TextLineStatus::NoTimeColon: return "no ':' after a time field";
    case TextLineStatus::NoRegisterColon: return "no ':' after the register field";
    case TextLineStatus::BadRegister: return "the register field is not two hex digits";
    case TextLineStatus::BadValue:
      return "the value field is not two hex digits followed by the line end";
  }
  return "";
}

// The value of a time field of plain decimal digits, if it fits 64 bits.
std::optional<uint64_t> exact_time(std::string_view field, bool* plain) {
  *plain =
      !field.empty() && field.find_first_not_of("0123456789") == std::string_view::npos;
  if (!*plain || field.size() > 19) return std::nullopt;
  uint64_t value = 0;
  for (const char c : field) value = value * 10 + static_cast<uint64_t>(c - '0');
  return value;
}

struct TextScan {
  FILE* stream;
  LogScanSink& sink;
  ScanSummary& summary;
  int32_t previous_field = 0;              // as the reader keeps it
  std::optional<uint64_t> previous_exact;  // the same, when plain digits
};

// Reports what is suspicious about the time of an event that reads.
void check_time(TextScan& scan, uint64_t number, std::string_view field, int32_t time,
                uint32_t delay) {
  bool plain = false;
  const std::optional<uint64_t> exact = exact_time(field, &plain);
  if (!plain) {
    scan.sink.finding(make_finding(
        FindingKind::TimeNotPlain, number, 0,
        format_reason("time field \"%s\" is not plain decimal digits: read as %ld",
                      printable(field, 40).c_str(), static_cast<long>(time))));
  }
  if (scan.summary.events != 0) {
    const bool back = exact && scan.previous_exact ? *exact < *scan.previous_exact
                                                   : static_cast<int32_t>(delay) < 0;
    const uint64_t pause =
        exact && scan.previous_exact ? *exact - *scan.previous_exact : delay;
    if (back) {
      scan.sink.finding(make_finding(
          FindingKind::TimeGoesBack, number, 0,
          format_reason("time earlier than the line before: read as a pause of %lu us "
                        "(%s)",
                        static_cast<unsigned long>(delay),
                        duration_text(delay).c_str())));
    } else if (pause > UINT32_MAX) {
      scan.sink.finding(
          make_finding(FindingKind::PauseTooLong, number, 0,
                       format_reason("a pause of %llu us is read modulo 2^32, as %lu us",
                                     static_cast<unsigned long long>(pause),
                                     static_cast<unsigned long>(delay))));
    } else if (pause > kMaxBinaryDelay) {
      scan.sink.finding(make_finding(
          FindingKind::PauseTooLong, number, 0,
          format_reason("a pause of %llu us is too long for a binary record (at most "
                        "268435455)",
                        static_cast<unsigned long long>(pause))));
    }
  }
  scan.previous_exact = exact;
}

// Reads one line as the reader does. Returns false where the log ends.
bool scan_text_line(TextScan& scan, const char* line, int length, uint64_t number) {
  char fields[kMaxTextLine + 1];
  std::memcpy(fields, line, static_cast<size_t>(length) + 1);
  int32_t time = 0;
  bool have_time = false;
  uint8_t reg = 0;
  uint8_t value = 0;
  const TextLineStatus status = parse_text_line(fields, &time, &have_time, &reg, &value);
  if (status != TextLineStatus::Ok) {
    if (only_blanks_left(line, length, scan.stream)) return false;
    scan.summary.ended_early = true;
    scan.sink.finding(make_finding(
        FindingKind::EndsEarly, number, 0,
        format_reason(
            "the log ends here: %s: \"%s\"", text_line_failure(status),
            printable(std::string_view(line, static_cast<size_t>(length))).c_str())));
    return false;
  }
  const uint32_t delay =
      scan.summary.events == 0
          ? 0
          : static_cast<uint32_t>(time) - static_cast<uint32_t>(scan.previous_field);
  check_time(scan, number, std::string_view(line, std::strcspn(line, ":")), time, delay);
  if (scan.summary.events == 0) {
    scan.summary.first_time =
        scan.previous_exact ? static_cast<int64_t>(*scan.previous_exact) : time;
  }
  scan.previous_field = time;
  const size_t parsed = std::strlen(line);
  if (parsed < static_cast<size_t>(length)) {
    scan.sink.finding(make_finding(
        FindingKind::TextAfterValue, number, 0,
        format_reason(
            "text after the value, behind a NUL byte, which the reader ignores: "
            "\"%s\"",
            printable(std::string_view(line + parsed, length - parsed)).c_str())));
  }
  if (reg > 15) {
    scan.sink.finding(make_finding(
        FindingKind::RegisterAbove15, number, 0,
        format_reason("a write to register %02X: the chip has registers 00 to 0F", reg)));
  }
  scan.summary.total_time += delay;
  ++scan.summary.events;
  scan.sink.event(ScannedEvent{scan.summary.total_time, reg, value});
  return true;
}

bool more_bytes(FILE* stream) {
  const int c = read_byte(stream);
  if (c == EOF) return false;
  ungetc(c, stream);
  return true;
}

void scan_text(FILE* stream, LogScanSink& sink, ScanSummary& summary) {
  TextScan scan{stream, sink, summary, 0, std::nullopt};
  uint64_t next_line = 2;  // the magic is line 1
  bool continues_line = false;
  char line[kMaxTextLine + 1];
  for (;;) {
    const int length = read_log_line(stream, line, kMaxTextLine);
    if (length == 0) break;
    const uint64_t number = next_line;
    const bool ends_line = line[length - 1] == '\n';
    if (ends_line) ++next_line;
    if (!ends_line && !continues_line && more_bytes(stream)) {
      sink.finding(make_finding(FindingKind::LineTooLong, number, 0,
                                "a line longer than 126 characters and its line end: "
                                "the reader splits it in two"));
    }
    continues_line = !ends_line;
    if (!scan_text_line(scan, line, length, number)) break;
  }
}

// The length of the shortest form of a delay, as the converter writes it.
int shortest_delay_bytes(uint32_t delay) {
  int bytes = 1;
  while (delay >= 128) {
    delay >>= 7;
    ++bytes;
  }
  return bytes;
}

// Reports what about a binary record that reads is suspicious, or not in the
// converter's form.
void check_record(LogScanSink& sink, const ScanSummary& summary, uint64_t start,
                  uint32_t delay, int delay_bytes, uint8_t reg) {
  if (summary.events == 0 && delay != 0) {
    sink.finding(make_finding(
        FindingKind::FirstDelayNotZero, 0, start,
        format_reason("the first record's delay is %lu; the converter writes 0",
                      static_cast<unsigned long>(delay))));
  }
  if (delay_bytes != shortest_delay_bytes(delay)) {
    sink.finding(make_finding(
        FindingKind::NotConverterForm, 0, start,
        format_reason("the delay %lu takes %d bytes; the converter writes %d",
                      static_cast<unsigned long>(delay), delay_bytes,
                      shortest_delay_bytes(delay))));
  }
  if (reg > 15) {
    sink.finding(make_finding(
        FindingKind::RegisterAbove15, 0, start,
        format_reason("a write to register %02X: the chip has registers 00 to 0F", reg)));
  }
}

void scan_binary(FILE* stream, bool crlf, LogScanSink& sink, ScanSummary& summary) {
  // With a CR LF magic line the LF at offset 9 was handed back to the stream:
  // the records start there either way.
  uint64_t offset = kMagicLength;
  if (crlf) {
    sink.finding(make_finding(FindingKind::MagicCrLf, 0, kMagicLength - 1,
                              "the magic line ends in CR LF: its LF is read as the first "
                              "record's delay"));
  }
  const auto next_byte = [&] {
    const int c = read_byte(stream);
    if (c != EOF) ++offset;
    return c;
  };
  for (;;) {
    const uint64_t start = offset;
    uint32_t delay = 0;
    int delay_bytes = 0;
    uint8_t reg = 0;
    uint8_t value = 0;
    const BinaryRecordStatus status =
        decode_binary_record(next_byte, &delay, &reg, &value, &delay_bytes);
    if (status == BinaryRecordStatus::End) break;
    if (status != BinaryRecordStatus::Ok) {
      while (next_byte() != EOF) {
      }
      summary.ended_early = true;
      sink.finding(
          make_finding(FindingKind::EndsEarly, 0, start,
                       format_reason("the log ends here: %s (%llu bytes left unread)",
                                     status == BinaryRecordStatus::CutShort
                                         ? "a record cut short by the end of the file"
                                         : "a delay longer than four bytes",
                                     static_cast<unsigned long long>(offset - start))));
      break;
    }
    check_record(sink, summary, start, delay, delay_bytes, reg);
    if (summary.events == 0) {
      summary.first_time = delay;
    } else {
      summary.total_time += delay;
    }
    ++summary.events;
    sink.event(ScannedEvent{summary.total_time, reg, value});
  }
}

}  // namespace

ScanResult open_log(const char* path, InputFiles& inputs, OpenLog& log,
                    std::string* why) {
  errno = 0;
  FILE* stream = inputs.open(path);
  if (stream == nullptr || stream_is_directory(stream)) {
    *why = stream != nullptr ? "a folder"
           : errno != 0      ? std::strerror(errno)
                             : "can't open";
    if (stream != nullptr) std::fclose(stream);
    return ScanResult::CantOpen;
  }
  errno = 0;
  if (!read_log_magic(stream, LogOpenRules::Player, &log.form, &log.crlf)) {
    // A read that fails on the first line tells nothing of what the file is.
    const bool failed = std::ferror(stream) != 0;
    const int error = errno != 0 ? errno : EIO;
    std::fclose(stream);
    if (failed) {
      *why = std::string("can't read: ") + std::strerror(error);
      return ScanResult::CantOpen;
    }
    *why = "not a register log (its first line is neither MOVA-TXT nor MOVA-BIN)";
    return ScanResult::NotALog;
  }
  log.stream = stream;
  return ScanResult::Ok;
}

void scan_open_log(OpenLog& log, LogScanSink& sink, ScanSummary& summary) {
  summary.form = log.form;
  if (log.form == LogForm::Binary) {
    scan_binary(log.stream, log.crlf, sink, summary);
  } else {
    scan_text(log.stream, sink, summary);
  }
  // The readers take a failed read for the end of the file; only here is it
  // told apart.
  summary.read_failed = std::ferror(log.stream) != 0;
  if (summary.read_failed) summary.read_error = errno != 0 ? errno : EIO;
  std::fclose(log.stream);
  log.stream = nullptr;
  if (summary.read_failed) return;
  if (summary.events == 0) {
    const bool text = summary.form == LogForm::Text;
    sink.finding(make_finding(FindingKind::NoEvent, text ? 2 : 0, text ? 0 : kMagicLength,
                              "no event can be read: the player refuses the log"));
  }
}

ScanResult scan_log(const char* path, InputFiles& inputs, LogScanSink& sink,
                    ScanSummary& summary, std::string* why) {
  OpenLog log;
  const ScanResult opened = open_log(path, inputs, log, why);
  if (opened == ScanResult::Ok) scan_open_log(log, sink, summary);
  return opened;
}

std::string finding_text(const char* path, LogForm form, const Finding& finding) {
  char place[32];
  if (form == LogForm::Binary) {
    std::snprintf(place, sizeof place,
                  ":@%llu: ", static_cast<unsigned long long>(finding.offset));
  } else {
    std::snprintf(place, sizeof place,
                  ":%llu: ", static_cast<unsigned long long>(finding.line));
  }
  std::string text = one_line(path);
  text += place;
  text += finding.reason;
  return text;
}
