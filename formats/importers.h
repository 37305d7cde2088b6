// What the importers of formats/ share among themselves: the entry point of
// each format, the unpackers, and small helpers for reading bounded binary
// data and writing the one-line errors. Not for use outside formats/.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "formats/song.h"

// Largest file an archive or a gzip stream may unpack to. A YM file of an hour
// holds under 3 MB of registers; the bound keeps a hostile archive from
// filling memory.
inline constexpr size_t kMaxUnpackedBytes = size_t{64} << 20;

// Each format's importer: bytes that start with the format's magic in,
// writes and description out (status Malformed with a one-line error when the
// bytes are not a sound file of that format).
ImportResult import_ym(std::span<const uint8_t> bytes, const ImportOptions& options);
ImportResult import_psg(std::span<const uint8_t> bytes, const ImportOptions& options);
ImportResult import_vgm(std::span<const uint8_t> bytes, const ImportOptions& options);
ImportResult import_vtx(std::span<const uint8_t> bytes, const ImportOptions& options);
ImportResult import_pt3(std::span<const uint8_t> bytes, const ImportOptions& options);

// True when the first bytes name a VTX file's chip ("ay" or "ym", either
// case). A VTX file whose chip is "YM" starts like a YM file: the caller tries
// the YM magics first, and "YM" counts as VTX only before a stereo byte 0..6.
bool looks_like_vtx(std::span<const uint8_t> bytes);

// Unpacks a raw -lh5- stream (no archive header) of `unpacked_size` bytes
// into out. Returns an empty string on success, else the reason.
std::string unpack_lh5(std::span<const uint8_t> bytes, size_t unpacked_size,
                       std::vector<uint8_t>& out);

// Unpacks the first file of an LHA archive (any method liblhasa knows) into
// out. Returns an empty string on success, else the reason; method receives
// the archive's method, e.g. "-lh5-".
std::string unpack_lha(std::span<const uint8_t> bytes, std::vector<uint8_t>& out,
                       std::string& method);

// Inflates a gzip stream into out, at most kMaxUnpackedBytes. Returns an empty
// string on success, else the reason.
std::string unpack_gzip(std::span<const uint8_t> bytes, std::vector<uint8_t>& out);

// A failed import with its one-line error.
ImportResult malformed(std::string error);

// A count with thousands separators: 98304 -> "98,304".
std::string with_commas(uint64_t value);

// The text with every control character (a line end, a NUL, an escape) made a
// space, so that a title stays on its line.
std::string printable(std::string text);

// "0x1A" for a byte or an offset.
std::string hex(uint64_t value);

// Fixed-width unsigned integers at an offset the caller has checked.
inline uint32_t read_be32(const uint8_t* p) {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}
inline uint16_t read_be16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] << 8 | p[1]);
}
inline uint32_t read_le32(const uint8_t* p) {
  return uint32_t{p[3]} << 24 | uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | p[0];
}
inline uint16_t read_le16(const uint8_t* p) {
  return static_cast<uint16_t>(p[1] << 8 | p[0]);
}

// Checks a song's clock and frame rate after the command line's overrides.
// Returns an empty string when both are usable, else the reason.
std::string check_clock_and_rate(uint32_t clock_hz, double rate_hz);
