// The 44-byte header of a 16-bit stereo PCM WAV file (44100 Hz unless told).
#pragma once

#include <cstdint>

struct WavHeader {
  // Bytes 0..19: "RIFF", RIFF size, "WAVE", "fmt ", format chunk size. The
  // RIFF size keeps its "xxxx" placeholder until the render has completed.
  uint8_t riff[20];
  // Bytes 20..35: the PCM format block.
  uint8_t format[16];
  // Bytes 36..43: "data" and the data size, also a placeholder until the end.
  uint8_t data[8];
};

static_assert(sizeof(WavHeader) == 44);

inline constexpr uint32_t kWavRiffSizeOffset = 4;
inline constexpr uint32_t kWavDataSizeOffset = 40;
// The RIFF size counts the 36 header bytes after it besides the data.
inline constexpr uint32_t kWavRiffOverhead = 36;
// The largest data size that keeps the RIFF size within 32 bits, in whole
// frames.
inline constexpr uint32_t kWavMaxDataBytes = (0xFFFFFFFFu - kWavRiffOverhead) & ~3u;

// The header as first written: the format filled in, both sizes "xxxx".
WavHeader make_wav_header_template(uint32_t frame_rate = 44100);

// The header for an output that cannot seek back (a pipe): written once,
// before the samples, with 0xFFFFFFFF for the RIFF and data sizes, which
// means "up to the end of the stream" to readers that take WAV from a pipe
// (aplay, sox, ffmpeg).
WavHeader make_streaming_wav_header(uint32_t frame_rate = 44100);

// Stores value little-endian in four bytes.
void store_le32(uint8_t* bytes, uint32_t value);
