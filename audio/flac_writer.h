// FLAC output: 16-bit stereo frames, losslessly packed with libFLAC, the
// song's title and author as Vorbis comments.
//
// The writer only encodes: the stream comes from AtomicOutput::begin(), and
// every byte goes through the same OutputFiles seam, so a FLAC output is as
// atomic as a WAV one (the caller commits or discards). On a stream that can
// seek (a file) the encoder goes back at the end to fill in the sample count
// and checksum; on a pipe it leaves them unset, as FLAC allows.
//
// Use:
//   FlacWriter flac(files);
//   if (!flac.begin(stream, 44100, {title, author}, seekable)) report flac.error();
//   while (...) if (!flac.write(frames)) { report flac.error(); discard; }
//   if (!flac.finish()) { report flac.error(); discard; } else commit;
// A build without libFLAC (ZARNIK_FLAC off) fails begin() with an error that
// says so.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <string>

#include "common/output_file.h"

struct FlacTags {
  std::string title, author;  // UTF-8; an empty one is left out
};

// Whether this build can write FLAC at all.
bool flac_supported();

class FlacWriter {
 public:
  explicit FlacWriter(OutputFiles& files = stdio_output_files());
  ~FlacWriter();
  FlacWriter(const FlacWriter&) = delete;
  FlacWriter& operator=(const FlacWriter&) = delete;

  // Starts the FLAC stream (its header and comments) on stream, at
  // sample_rate frames a second. False, with error() set, on any failure.
  bool begin(FILE* stream, uint32_t sample_rate, const FlacTags& tags, bool seekable);
  // Encodes interleaved stereo samples (left, right, ...; an even count).
  bool write(std::span<const int16_t> samples);
  // Encodes what is left and completes the stream's header; the stream
  // itself stays open for the caller to commit.
  bool finish();

  // Why the last call failed, one line.
  const std::string& error() const { return error_; }

  struct Encoder;  // libFLAC's state, with the seam's callbacks

 private:
  OutputFiles& files_;
  std::unique_ptr<Encoder> encoder_;
  std::string error_;
};
