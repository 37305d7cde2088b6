#include "audio/wav_header.h"

#include <cstring>

namespace {

void store_le16(uint8_t* bytes, uint16_t value) {
  bytes[0] = static_cast<uint8_t>(value);
  bytes[1] = static_cast<uint8_t>(value >> 8);
}

}  // namespace

void store_le32(uint8_t* bytes, uint32_t value) {
  bytes[0] = static_cast<uint8_t>(value);
  bytes[1] = static_cast<uint8_t>(value >> 8);
  bytes[2] = static_cast<uint8_t>(value >> 16);
  bytes[3] = static_cast<uint8_t>(value >> 24);
}

WavHeader make_wav_header_template(uint32_t frame_rate) {
  WavHeader header{};
  std::memcpy(header.riff, "RIFFxxxxWAVEfmt xxxx", 20);
  store_le32(header.riff + 16, 16);               // format chunk size
  store_le16(header.format + 0, 1);               // PCM
  store_le16(header.format + 2, 2);               // channels
  store_le32(header.format + 4, frame_rate);      // frames per second
  store_le32(header.format + 8, frame_rate * 4);  // bytes per second
  store_le16(header.format + 12, 4);              // bytes per frame
  store_le16(header.format + 14, 16);             // bits per sample
  std::memcpy(header.data, "dataxxxx", 8);
  return header;
}

WavHeader make_streaming_wav_header(uint32_t frame_rate) {
  WavHeader header = make_wav_header_template(frame_rate);
  store_le32(header.riff + kWavRiffSizeOffset, 0xFFFFFFFFu);
  store_le32(header.data + (kWavDataSizeOffset - 36), 0xFFFFFFFFu);
  return header;
}
