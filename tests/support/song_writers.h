// Song files written from the formats' descriptions, for tests: YM (every
// variant, raw or in a stored -lh0- LHA archive), PSG, VGM and gzip (VGZ).
#pragma once

#include <zlib.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;
using YmFrame = std::array<uint8_t, 16>;

inline void put_be(Bytes& out, uint32_t value, int bytes) {
  for (int i = bytes - 1; i >= 0; --i)
    out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}
inline void put_le(Bytes& out, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

struct YmRecipe {
  std::string magic;  // YM2!, YM3!, YM3b, YM5!, YM6!
  bool interleaved;   // YM5!/YM6! only: YM2!/YM3! always are
  uint32_t clock;
  uint16_t rate;
  uint32_t loop;
  std::vector<Bytes> drums;
  uint32_t attributes;        // besides the interleave bit
  std::string title, author;  // YM5!/YM6! only
};

inline YmRecipe ym_recipe(const char* magic, bool interleaved = true, uint16_t rate = 50,
                          uint32_t loop = 0) {
  return {magic, interleaved, 2000000, rate, loop, {}, 0, "Title", "Author"};
}

inline Bytes ym_file(const YmRecipe& recipe, const std::vector<YmFrame>& frames) {
  Bytes out(recipe.magic.begin(), recipe.magic.end());
  const bool is_new = recipe.magic == "YM5!" || recipe.magic == "YM6!";
  const int registers = is_new ? 16 : 14;
  const bool interleaved = !is_new || recipe.interleaved;
  if (is_new) {
    out.insert(out.end(), {'L', 'e', 'O', 'n', 'A', 'r', 'D', '!'});
    put_be(out, static_cast<uint32_t>(frames.size()), 4);
    put_be(out, recipe.attributes | (interleaved ? 1 : 0), 4);
    put_be(out, static_cast<uint32_t>(recipe.drums.size()), 2);
    put_be(out, recipe.clock, 4);
    put_be(out, recipe.rate, 2);
    put_be(out, recipe.loop, 4);
    put_be(out, 0, 2);
    for (const Bytes& drum : recipe.drums) {
      put_be(out, static_cast<uint32_t>(drum.size()), 4);
      out.insert(out.end(), drum.begin(), drum.end());
    }
    for (const std::string& text : {recipe.title, recipe.author, std::string("Comment")})
      out.insert(out.end(), text.c_str(), text.c_str() + text.size() + 1);
  }
  for (int outer = 0; outer < (interleaved ? registers : static_cast<int>(frames.size()));
       ++outer)
    for (int inner = 0;
         inner < (interleaved ? static_cast<int>(frames.size()) : registers); ++inner)
      out.push_back(interleaved ? frames[inner][outer] : frames[outer][inner]);
  if (recipe.magic == "YM3b") put_be(out, recipe.loop, 4);
  if (is_new) out.insert(out.end(), {'E', 'n', 'd', '!'});
  return out;
}

// A level-0 LHA archive holding `file` stored (-lh0-).
inline Bytes lh0_archive(const Bytes& file, const char* method = "-lh0-") {
  uint16_t crc = 0;
  for (uint8_t byte : file) {
    crc ^= byte;
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
  }
  const std::string name = "song.ym";
  Bytes header(method, method + 5);
  put_le(header, static_cast<uint32_t>(file.size()), 4);
  put_le(header, static_cast<uint32_t>(file.size()), 4);
  put_le(header, 0x21000000, 4);  // DOS time and date
  header.insert(header.end(), {0x20, 0x00, static_cast<uint8_t>(name.size())});
  header.insert(header.end(), name.begin(), name.end());
  put_le(header, crc, 2);
  uint8_t sum = 0;
  for (uint8_t byte : header) sum = static_cast<uint8_t>(sum + byte);
  Bytes out = {static_cast<uint8_t>(header.size()), sum};
  out.insert(out.end(), header.begin(), header.end());
  out.insert(out.end(), file.begin(), file.end());
  out.push_back(0);  // end of archive
  return out;
}

// A VGM file (1.71 unless `version` says otherwise) with a 256-byte header:
// AY clock, and an SN76489 and a YM2612 said present; `commands` follow the
// header.
inline Bytes vgm_file(const Bytes& commands, uint32_t ay_clock = 1789772,
                      uint32_t version = 0x171) {
  Bytes out(0x100 + commands.size(), 0);
  const auto set = [&](size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) out[at + i] = static_cast<uint8_t>(value >> (8 * i));
  };
  out[0] = 'V', out[1] = 'g', out[2] = 'm', out[3] = ' ';
  set(0x04, static_cast<uint32_t>(0x100 + commands.size() - 4));
  set(0x08, version);
  set(0x0C, 3579545);
  set(0x2C, 7670453);
  set(0x34, 0x100 - 0x34);
  set(0x74, ay_clock);
  std::copy(commands.begin(), commands.end(), out.begin() + 0x100);
  return out;
}

inline Bytes gzip(const Bytes& data) {
  z_stream stream{};
  deflateInit2(&stream, 9, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
  Bytes out(deflateBound(&stream, data.size()) + 32);
  stream.next_in = const_cast<Bytef*>(data.data());
  stream.avail_in = static_cast<uInt>(data.size());
  stream.next_out = out.data();
  stream.avail_out = static_cast<uInt>(out.size());
  deflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  return out;
}
