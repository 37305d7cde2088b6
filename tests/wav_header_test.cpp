// The WAV header for a pipe is the file header with both sizes "to the end".
#include "audio/wav_header.h"

#include <gtest/gtest.h>

#include <cstring>

TEST(WavHeader, StreamingHeaderSaysUpToTheEnd) {
  for (uint32_t rate : {44100u, 48000u}) {
    const WavHeader streaming = make_streaming_wav_header(rate);
    WavHeader expected = make_wav_header_template(rate);
    std::memset(reinterpret_cast<uint8_t*>(&expected) + kWavRiffSizeOffset, 0xFF, 4);
    std::memset(reinterpret_cast<uint8_t*>(&expected) + kWavDataSizeOffset, 0xFF, 4);
    EXPECT_EQ(std::memcmp(&streaming, &expected, sizeof expected), 0) << rate;
  }
}
