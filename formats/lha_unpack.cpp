// The first file of an LHA archive, and a raw -lh5- stream (VTX files), unpacked
// from memory with liblhasa, or a clear error where the build has no liblhasa.
#include <algorithm>
#include <cstring>

#include "formats/importers.h"

#if ZARNIK_LHA
extern "C" {
#include <lhasa.h>
}

namespace {

// The archive's bytes as liblhasa's input stream.
struct MemoryInput {
  std::span<const uint8_t> bytes;
  size_t at = 0;

  static int read(void* handle, void* buffer, size_t length) {
    auto* input = static_cast<MemoryInput*>(handle);
    const size_t count = std::min(length, input->bytes.size() - input->at);
    std::memcpy(buffer, input->bytes.data() + input->at, count);
    input->at += count;
    return static_cast<int>(count);
  }
  static int skip(void* handle, size_t length) {
    auto* input = static_cast<MemoryInput*>(handle);
    if (length > input->bytes.size() - input->at) return 0;
    input->at += length;
    return 1;
  }
  static void close(void*) {}
  // The decoder's callback: packed bytes on demand.
  static size_t feed(void* buffer, size_t length, void* handle) {
    return static_cast<size_t>(read(handle, buffer, length));
  }
};

// The CRC-16 that LHA stores for each file (polynomial 0xA001, reflected).
uint16_t lha_crc(const std::vector<uint8_t>& data) {
  uint16_t crc = 0;
  for (uint8_t byte : data) {
    crc ^= byte;
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
  }
  return crc;
}

std::string read_current(LHAReader* reader, const LHAFileHeader& header,
                         std::vector<uint8_t>& out) {
  if (header.length > kMaxUnpackedBytes)
    return "LHA archive holds a file of " + with_commas(header.length) +
           " bytes, more than a song can be (" + with_commas(kMaxUnpackedBytes) + ")";
  std::vector<uint8_t> chunk(65536);
  for (;;) {
    const size_t got = lha_reader_read(reader, chunk.data(), chunk.size());
    if (got == 0) break;
    if (out.size() + got > header.length)
      return "LHA data unpacks to more than its header says";
    out.insert(out.end(), chunk.begin(), chunk.begin() + static_cast<long>(got));
  }
  if (out.size() != header.length)
    return "LHA data cut short: " + with_commas(out.size()) + " of " +
           with_commas(header.length) + " bytes";
  if (lha_crc(out) != header.crc) return "LHA data is corrupt (CRC mismatch)";
  return {};
}

}  // namespace

std::string unpack_lha(std::span<const uint8_t> bytes, std::vector<uint8_t>& out,
                       std::string& method) {
  MemoryInput input{bytes};
  static const LHAInputStreamType kType = {&MemoryInput::read, &MemoryInput::skip,
                                           &MemoryInput::close};
  LHAInputStream* stream = lha_input_stream_new(&kType, &input);
  if (stream == nullptr) return "out of memory opening the LHA archive";
  LHAReader* reader = lha_reader_new(stream);
  std::string error;
  const LHAFileHeader* header =
      reader == nullptr ? nullptr : lha_reader_next_file(reader);
  // Folders come first in some archives: the song is the first file.
  while (header != nullptr &&
         std::strcmp(header->compress_method, LHA_COMPRESS_TYPE_DIR) == 0)
    header = lha_reader_next_file(reader);
  if (header == nullptr) {
    error = "LHA archive cut short or damaged: no file header";
  } else {
    method.assign(header->compress_method, strnlen(header->compress_method, 5));
    // liblhasa reads nothing of a method it has no decoder for, which would
    // show as a CRC mismatch of an empty file.
    char name[6] = {};
    method.copy(name, 5);
    if (lha_decoder_for_name(name) == nullptr) {
      error = "LHA archive packed with the method " + method +
              ", which this build cannot unpack";
    } else {
      error = read_current(reader, *header, out);
    }
  }
  if (reader != nullptr) lha_reader_free(reader);
  lha_input_stream_free(stream);
  return error;
}

std::string unpack_lh5(std::span<const uint8_t> bytes, size_t unpacked_size,
                       std::vector<uint8_t>& out) {
  if (unpacked_size > kMaxUnpackedBytes)
    return "packed data claims " + with_commas(unpacked_size) +
           " bytes, more than a song can be (" + with_commas(kMaxUnpackedBytes) + ")";
  char name[] = "-lh5-";
  LHADecoderType* type = lha_decoder_for_name(name);
  MemoryInput input{bytes};
  LHADecoder* decoder =
      type == nullptr ? nullptr
                      : lha_decoder_new(type, &MemoryInput::feed, &input, unpacked_size);
  if (decoder == nullptr) return "out of memory opening the -lh5- decoder";
  out.resize(unpacked_size);
  size_t have = 0;
  while (have < unpacked_size) {
    const size_t got = lha_decoder_read(decoder, out.data() + have, unpacked_size - have);
    if (got == 0) break;
    have += got;
  }
  lha_decoder_free(decoder);
  if (have != unpacked_size) {
    out.clear();
    return "packed data cut short or damaged: " + with_commas(have) + " of " +
           with_commas(unpacked_size) + " bytes";
  }
  return {};
}

#else

std::string unpack_lha(std::span<const uint8_t>, std::vector<uint8_t>&, std::string&) {
  return "LHA-packed song, and this build has no LHA support (unpack it first)";
}

std::string unpack_lh5(std::span<const uint8_t>, size_t, std::vector<uint8_t>&) {
  return "VTX file, and this build has no LHA support for its packed data";
}

#endif
