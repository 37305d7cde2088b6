// The log writers: one text line or one binary record at a time, and whole
// logs from timed writes. The converter and mova write through these, so both
// forms have one encoder each.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>

#include "common/output_file.h"
#include "common/register_log.h"
#include "common/timed_write.h"

// Longest text line the writer produces: 20 digits of time, two fields, LF.
inline constexpr int kMaxWrittenTextLine = 28;

// Appends one binary record (delay, register, value) to stream. Returns false
// after logging "Delay too long (%lu). Can't encode.\n" when the delay does not
// fit in 28 bits (nothing is written), and silently when the write fell short.
bool write_binary_event(uint32_t delay, uint8_t reg, uint8_t value, FILE* stream,
                        OutputFiles& files = stdio_output_files());

// Formats one text line "TIME:RR:VV\n" (decimal time, upper-case hex) into
// buffer, which holds kMaxWrittenTextLine characters; returns its length.
int format_text_event(char* buffer, uint64_t time, uint8_t reg, uint8_t value);

// Appends one text line to stream; false when the write fell short.
bool write_text_event(uint64_t time, uint8_t reg, uint8_t value, FILE* stream,
                      OutputFiles& files = stdio_output_files());

// The index of the first write that a log of the given form cannot carry, or
// writes.size() when it carries them all. A text log reads the time between
// two lines modulo 2^32, so a write earlier than the one before or 2^32 µs or
// more after it cannot be carried; the binary form, which the converter makes
// from that text log, carries at most kMaxBinaryDelay between two writes.
size_t first_unwritable_write(std::span<const TimedWrite> writes, LogForm form);

// Writes the magic and one line or record per write. The text form carries
// each write's full time; the binary form is what the converter writes from
// that text form: the first delay 0, then the delays the text reader reads.
// Call first_unwritable_write first. Returns false when a write fell short.
bool write_log(std::span<const TimedWrite> writes, LogForm form, FILE* stream,
               OutputFiles& files = stdio_output_files());
