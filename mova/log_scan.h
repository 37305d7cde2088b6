// A walk over a register log file that sees what the player's readers see,
// through their own parsing functions, and also where each event sits in the
// file and what about it is suspicious. dump, info and check are built on it.
//
// Cases a scan tells apart:
//   - the log reads to the end of its file (a trailing blank line included);
//   - the log ends early at a line or record that does not parse: EndsEarly,
//     with the reason, and for the text form the line's text;
//   - events that read but are suspicious: the other kinds below;
//   - binary records that read but that the converter would write otherwise
//     (FirstDelayNotZero, NotConverterForm): the text form cannot give them
//     back byte for byte.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "common/input_file.h"
#include "common/register_log.h"

// One event as the player reads it, with its place in the file.
struct ScannedEvent {
  uint64_t time = 0;  // chip time at which the player applies it (the first: 0)
  uint8_t reg = 0;
  uint8_t value = 0;
};

enum class FindingKind : uint8_t {
  EndsEarly,          // the log ends before the end of its file
  NoEvent,            // not one event can be read
  TimeGoesBack,       // read as a 32-bit wrap: a pause of about 71 minutes
  TimeNotPlain,       // a time field that is not plain decimal digits
  TextAfterValue,     // text behind a NUL after the value, which the reader ignores
  LineTooLong,        // a physical line the reader splits in two
  PauseTooLong,       // too long for a binary record, or misread modulo 2^32
  RegisterAbove15,    // a write to a register the chip does not have
  MagicCrLf,          // a binary magic line ending in CR LF: its LF starts the records
  FirstDelayNotZero,  // the first binary record's delay, which the converter writes 0
  NotConverterForm,   // a binary delay not in its shortest form
};

// Whether a log with this finding turns into a text log that the converter
// does not turn back into the same bytes.
inline bool breaks_inverse(FindingKind kind) {
  return kind == FindingKind::EndsEarly || kind == FindingKind::MagicCrLf ||
         kind == FindingKind::FirstDelayNotZero || kind == FindingKind::NotConverterForm;
}

// Whether a finding tells only how the converter would write a record, which
// check does not count as a problem.
inline bool only_form(FindingKind kind) {
  return kind == FindingKind::FirstDelayNotZero || kind == FindingKind::NotConverterForm;
}

struct Finding {
  FindingKind kind = FindingKind::EndsEarly;
  uint64_t line = 0;    // text form: physical line number, from 1
  uint64_t offset = 0;  // binary form: byte offset in the file
  std::string reason;
};

// Receives a scan's events and findings, in file order.
class LogScanSink {
 public:
  virtual ~LogScanSink() = default;
  virtual void event(const ScannedEvent&) {}
  virtual void finding(const Finding&) {}
};

struct ScanSummary {
  LogForm form = LogForm::Text;
  uint64_t events = 0;
  uint64_t total_time = 0;   // chip time of the last event
  int64_t first_time = 0;    // the first event's time as stored (text: its
                             // time field; binary: its delay)
  bool ended_early = false;  // the log ends before the end of its file
  bool read_failed = false;  // a read failed: the scan stopped there
  int read_error = 0;        // then the system's error number
};

enum class ScanResult : uint8_t { Ok, CantOpen, NotALog };

// A log opened for a scan, its magic line read.
struct OpenLog {
  FILE* stream = nullptr;
  LogForm form = LogForm::Text;
  bool crlf = false;  // the magic line ended in CR LF
};

// Opens the log at path and reads its magic line. Returns CantOpen or
// NotALog (with *why set, nothing left open) or Ok.
ScanResult open_log(const char* path, InputFiles& inputs, OpenLog& log, std::string* why);

// Scans an opened log to its end, then closes it.
void scan_open_log(OpenLog& log, LogScanSink& sink, ScanSummary& summary);

// open_log, then scan_open_log. Returns CantOpen or NotALog (with *why set)
// before anything reaches the sink.
ScanResult scan_log(const char* path, InputFiles& inputs, LogScanSink& sink,
                    ScanSummary& summary, std::string* why);

// "FILE:LINE: reason" for the text form, "FILE:@OFFSET: reason" for the binary.
std::string finding_text(const char* path, LogForm form, const Finding& finding);
