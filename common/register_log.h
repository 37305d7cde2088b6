// Register logs: timed writes to the PSG's registers, in a text form and a
// compact binary form, and the readers that turn them into events.
//
// Text form: the line "MOVA-TXT", then one line per write,
//   TIME:RR:VV
// with TIME the absolute time in microseconds (decimal) and RR, VV the
// register and value as exactly two hex digits each; lines of at most 127
// characters. CR LF line ends read like LF.
//
// Binary form: the 9 bytes "MOVA-BIN\n", then one record per write: the delay
// since the previous write in 1 to 4 bytes of base-128 groups, most
// significant first, bit 7 set on every byte but the last (so at most
// 268435455 ticks), then the register byte and the value byte.
//
// How a driver reads a log:
//   1. Call event_reader once with no delay. If it returns false the log holds
//      no event: report "Can't find data in [%s]\n" with the input path.
//   2. Reset the chip and apply this first write at once, at chip time 0,
//      whatever its time or delay says.
//   3. Call event_reader with a delay; while it returns true, run that many
//      chip ticks and then apply the write.
//   4. When it returns false the log has ended (its end, or a line or record
//      that does not parse, which is not an error): a normal end, unless
//      report_read_error() finds that the stream failed (exit code 2).
// The readers never look at the stream's error state themselves: a read error
// looks like the end of the file to them, and is told apart only there, once.
//
// A log is a source of timed writes (common/write_source.h): first_write()
// and next_write() are steps 1 and 3 in that shape.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>

#include "common/files.h"
#include "common/input_file.h"
#include "common/timed_write.h"
#include "common/write_source.h"

inline constexpr char kTextMagic[] = "MOVA-TXT\n";
inline constexpr char kBinaryMagic[] = "MOVA-BIN\n";
inline constexpr int kMagicLength = 9;

// Longest text line, its line end included; longer lines are split.
inline constexpr int kMaxTextLine = 127;

// Largest delay that a binary record can hold: four groups of 7 bits.
inline constexpr uint32_t kMaxBinaryDelay = 0x0FFFFFFF;

enum class LogForm : uint8_t { Text, Binary };

// Which forms the opener accepts: the player reads both, the converter text
// only.
enum class LogOpenRules { Player, Converter };

// Read-ahead for a text log on disk: lines are cut from blocks read in one
// go rather than a byte at a time from the stream.
struct TextReadAhead {
  // One line as read_log_line() gives it (without telling of CR LF ends).
  int read_line(FILE* stream, char* buffer, int max_chars);
  // Takes the next line straight from the block when it is written as logs
  // are written, "DIGITS:HH:HH" and LF, whole in the block and no longer
  // than a line may be: the time, register and value it holds, as cutting
  // and parsing it would give them. False (nothing taken) for any other line.
  bool take_plain_line(int32_t* time, uint8_t* reg, uint8_t* value);
  // Reads the next block; false when nothing was left.
  bool refill(FILE* stream);
  // Forgets the block, as for a stream not yet read.
  void empty() {
    next = end = 0;
    bytes[0] = '\0';
  }

  bool used = false;  // whether the stream is read ahead at all
  size_t next = 0;    // the block's unread bytes: [next, end)
  size_t end = 0;
  char bytes[16384 + 1] = {};  // and a NUL after them, where a scan stops
};

struct RegisterLog final : WriteSource {
  FILE* stream = nullptr;
  LogForm form = LogForm::Text;
  // The time field of the last text line read. Only differences between
  // successive lines matter, so the first line's time is simply recorded.
  int32_t previous_time = 0;
  // The text form's read-ahead.
  TextReadAhead ahead;

  // Reads one event. With a null delay the event's delay is not delivered
  // (the text reader still records its time). Returns false at the end of the
  // log or at the first line or record that does not parse.
  bool event_reader(uint32_t* delay, uint8_t* reg, uint8_t* value);

  // The same, as a source of timed writes.
  bool first_write(uint8_t* reg, uint8_t* value) override {
    return event_reader(nullptr, reg, value);
  }
  bool next_write(uint64_t* delay, uint8_t* reg, uint8_t* value) override {
    uint32_t ticks = 0;
    const bool read = event_reader(&ticks, reg, value);
    *delay = ticks;
    return read;
  }

  // The offset in the file of the first byte no event has read yet (the
  // stream itself may have read further ahead); -1 when it cannot be told.
  long position() const;

  // Whether a read from the stream failed (rather than found its end).
  bool read_failed() const override {
    return stream != nullptr && std::ferror(stream) != 0;
  }

  // Closes the stream if it is open.
  void close();
};

// After a reader returned false: when the cause was a failed read, logs
// "Can't read [%s]\n" with input_path and returns true.
bool report_read_error(const WriteSource& log, const char* input_path);

// Opens input_path, recognises its form by the magic line and positions the
// stream at the first event. On failure logs "Can't open [%s]\n" or
// "Unknown format [%s]\n" with input_path ("Can't read [%s]\n" when reading
// the magic line failed), leaves nothing open and returns false.
bool open_register_log(RegisterLog& log, const char* input_path, LogOpenRules rules,
                       InputFiles& files = stdio_input_files());

// Reads the first line of a stream and tells which magic it holds: true with
// *form set when it is one that the rules accept, leaving the stream at the
// first event. *crlf tells whether the magic line ended in CR LF (a binary
// log's LF then already belongs to the first record).
bool read_log_magic(FILE* stream, LogOpenRules rules, LogForm* form, bool* crlf);

// Reads one line of at most max_chars characters into buffer (which holds
// max_chars + 1), stopping after a LF, folding every CR LF pair into one LF as
// a Windows text stream does (a lone CR stays). NUL-terminates and returns the
// number of characters stored; 0 when nothing was left. ended_with_crlf, when
// given, tells whether the line's LF was folded from a CR LF pair.
int read_log_line(FILE* stream, char* buffer, int max_chars,
                  bool* ended_with_crlf = nullptr);

// Converts exactly two hex digits, optionally followed by one LF, into *result.
// Returns false for anything else.
bool parse_hex_byte(const char* text, uint8_t* result);

// Converts a time field like the C library's atol (leading blanks, one sign,
// digits up to the first non-digit, none giving 0), keeping the value modulo
// 2^32 as a signed 32-bit time so that long digit strings stay defined.
int32_t parse_time_field(const char* text);

// Why a text line does not parse; Ok when it does.
enum class TextLineStatus : uint8_t {
  Ok,
  NoTimeColon,      // no ':' after the time field (a blank line, a comment)
  NoRegisterColon,  // no second ':'
  BadRegister,      // the register field is not two hex digits
  BadValue,         // the value field is not two hex digits and a line end
};

// Splits a line as read_log_line returns it into its fields, writing NULs over
// the two colons. *have_time tells whether *time was set: the time field is
// known as soon as the first colon is found, even on a line that fails later.
TextLineStatus parse_text_line(char* line, int32_t* time, bool* have_time, uint8_t* reg,
                               uint8_t* value);

// The same, field by field by the rules above; parse_text_line() takes a line
// as logs are written ("DIGITS:HH:HH") in one pass and gives what this would.
TextLineStatus parse_text_line_by_rules(char* line, int32_t* time, bool* have_time,
                                        uint8_t* reg, uint8_t* value);

// The delay between two text times as the readers deliver it: their
// difference modulo 2^32, so only the low 32 bits of either time matter.
inline uint32_t text_delay(uint64_t previous_time, uint64_t time) {
  return static_cast<uint32_t>(time) - static_cast<uint32_t>(previous_time);
}

// The player's text reader: delivers the time since the previous line (32-bit
// wrap-around) and records this line's time in previous_time.
bool read_text_event(FILE* stream, int32_t& previous_time, uint32_t* delay, uint8_t* reg,
                     uint8_t* value, TextReadAhead* ahead = nullptr);

// The converter's text reader: delivers the line's absolute time.
bool read_text_event_time(FILE* stream, int32_t* time, uint8_t* reg, uint8_t* value);

// How reading one binary record went.
enum class BinaryRecordStatus : uint8_t {
  Ok,
  End,           // no byte left where a record would start
  CutShort,      // the file ends inside the record
  DelayTooLong,  // a fourth delay byte with bit 7 set
};

// Decodes one binary record from next_byte(), a callable returning the next
// byte or EOF. *delay_bytes, when given, receives the number of delay bytes
// read. The delay is delivered only once it is complete.
template <typename NextByte>
inline BinaryRecordStatus decode_binary_record(NextByte&& next_byte, uint32_t* delay,
                                               uint8_t* reg, uint8_t* value,
                                               int* delay_bytes = nullptr) {
  uint32_t accumulated = 0;
  int continuation_bytes = 0;
  for (;;) {
    const int c = next_byte();
    if (c == EOF) {
      return continuation_bytes == 0 ? BinaryRecordStatus::End
                                     : BinaryRecordStatus::CutShort;
    }
    accumulated = (accumulated << 7) + (static_cast<uint32_t>(c) & 0x7F);
    if ((c & 0x80) == 0) break;
    // A fourth delay byte must end the delay.
    if (++continuation_bytes == 4) return BinaryRecordStatus::DelayTooLong;
  }
  if (delay != nullptr) *delay = accumulated;
  if (delay_bytes != nullptr) *delay_bytes = continuation_bytes + 1;
  const int r = next_byte();
  if (r == EOF) return BinaryRecordStatus::CutShort;
  const int v = next_byte();
  if (v == EOF) return BinaryRecordStatus::CutShort;
  *reg = static_cast<uint8_t>(r);
  *value = static_cast<uint8_t>(v);
  return BinaryRecordStatus::Ok;
}

// The binary reader.
inline bool read_binary_event(FILE* stream, uint32_t* delay, uint8_t* reg,
                              uint8_t* value) {
  return decode_binary_record([stream] { return read_byte(stream); }, delay, reg,
                              value) == BinaryRecordStatus::Ok;
}
