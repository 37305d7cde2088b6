// The WAV header for a pipe reads, field by field, as a WAV reader reads it.
#include "audio/wav_header.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

uint32_t le32(const uint8_t* bytes) {
  return bytes[0] | bytes[1] << 8 | bytes[2] << 16 | uint32_t{bytes[3]} << 24;
}
uint16_t le16(const uint8_t* bytes) {
  return static_cast<uint16_t>(bytes[0] | bytes[1] << 8);
}

TEST(WavHeader, StreamingHeaderSaysUpToTheEnd) {
  const WavHeader header = make_streaming_wav_header();
  uint8_t bytes[44];
  std::memcpy(bytes, &header, 44);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(bytes), 4), "RIFF");
  EXPECT_EQ(le32(bytes + 4), 0xFFFFFFFFu);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(bytes + 8), 8), "WAVEfmt ");
  EXPECT_EQ(le32(bytes + 16), 16u);
  EXPECT_EQ(le16(bytes + 20), 1u);  // PCM
  EXPECT_EQ(le16(bytes + 22), 2u);
  EXPECT_EQ(le32(bytes + 24), 44100u);
  EXPECT_EQ(le32(bytes + 28), 44100u * 4);
  EXPECT_EQ(le16(bytes + 32), 4u);
  EXPECT_EQ(le16(bytes + 34), 16u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(bytes + 36), 4), "data");
  EXPECT_EQ(le32(bytes + 40), 0xFFFFFFFFu);
}

}  // namespace
