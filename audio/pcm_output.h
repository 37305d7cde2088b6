// Where a render's frames go, whatever the file format: a WAV file, a WAV
// stream on a pipe, a FLAC file. Frames are 16-bit stereo, little-endian,
// left then right, as they lie in the sample ring.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class PcmOutput {
 public:
  virtual ~PcmOutput() = default;
  // Appends `bytes` bytes of whole frames. False on failure, with why().
  virtual bool write(const uint8_t* frames, size_t bytes) = 0;
  // Completes the output (sizes, the rename into place). False on failure:
  // the output's name then holds what it held before.
  virtual bool finish() = 0;
  // Gives the output up: nothing of it is left under its name.
  virtual void abandon() = 0;
  // What went wrong, in a few words with the system's reason.
  const std::string& why() const { return why_; }

 protected:
  std::string why_;
};
