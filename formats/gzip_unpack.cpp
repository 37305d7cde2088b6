// gzip streams (VGZ files) inflated from memory with zlib, to a bounded size.
#include <zlib.h>

#include "formats/importers.h"

std::string unpack_gzip(std::span<const uint8_t> bytes, std::vector<uint8_t>& out) {
  z_stream stream{};
  // 16 + the largest window: a gzip wrapper, checked (length and CRC-32).
  if (inflateInit2(&stream, 16 + MAX_WBITS) != Z_OK) return "zlib cannot start";
  stream.next_in = const_cast<Bytef*>(bytes.data());
  stream.avail_in = static_cast<uInt>(std::min<size_t>(bytes.size(), UINT32_MAX));
  std::vector<uint8_t> chunk(65536);
  std::string error;
  for (;;) {
    stream.next_out = chunk.data();
    stream.avail_out = static_cast<uInt>(chunk.size());
    const int status = inflate(&stream, Z_NO_FLUSH);
    const size_t got = chunk.size() - stream.avail_out;
    if (out.size() + got > kMaxUnpackedBytes) {
      error =
          "gzip data unpacks to more than " + with_commas(kMaxUnpackedBytes) + " bytes";
      break;
    }
    out.insert(out.end(), chunk.begin(), chunk.begin() + static_cast<long>(got));
    if (status == Z_STREAM_END) break;
    if (status == Z_OK) continue;
    if (status == Z_BUF_ERROR && stream.avail_in == 0) {
      error = "gzip data cut short after " + with_commas(out.size()) + " unpacked bytes";
    } else {
      error = std::string("gzip data is corrupt (") +
              (stream.msg != nullptr ? stream.msg : "zlib error") + ")";
    }
    break;
  }
  inflateEnd(&stream);
  return error;
}
