// Recognition of a song file by its first bytes, and the unpacking of LHA
// archives and gzip streams around it.
#include <cmath>
#include <cstdio>
#include <cstring>

#include "formats/importers.h"
#include "formats/tracker/pt3_module.h"

namespace {

bool starts_with(std::span<const uint8_t> bytes, const char* magic) {
  const size_t length = std::strlen(magic);
  return bytes.size() >= length && std::memcmp(bytes.data(), magic, length) == 0;
}

// An LHA header of any level names its method, "-lh5-" or the like, at
// offset 2.
bool is_lha(std::span<const uint8_t> bytes) {
  return bytes.size() >= 7 && bytes[2] == '-' && bytes[3] == 'l' &&
         (bytes[4] == 'h' || bytes[4] == 'z') && bytes[6] == '-';
}

constexpr const char* kYmMagics[] = {"YM2!", "YM3!", "YM3b", "YM5!", "YM6!"};

bool is_gzip(std::span<const uint8_t> bytes) {
  return bytes.size() >= 2 && bytes[0] == 0x1F && bytes[1] == 0x8B;
}

ImportResult import_plain(std::span<const uint8_t> bytes, const ImportOptions& options) {
  for (const char* magic : kYmMagics)
    if (starts_with(bytes, magic)) return import_ym(bytes, options);
  if (starts_with(bytes, "PSG\x1A")) return import_psg(bytes, options);
  if (starts_with(bytes, "Vgm ")) return import_vgm(bytes, options);
  if (looks_like_pt3(bytes)) return import_pt3(bytes, options);
  // After the YM magics: a VTX file of a YM chip starts with "YM" too.
  if (looks_like_vtx(bytes)) return import_vtx(bytes, options);
  ImportResult result;
  result.status = ImportStatus::UnknownFormat;
  if (bytes.size() >= 4 && starts_with(bytes, "YM")) {
    // Appended piece by piece: one expression trips a false warning of the
    // mingw compiler (-Wrestrict).
    result.error = "YM variant ";
    result.error.append(bytes.begin(), bytes.begin() + 4);
    result.error += " is not supported (YM2!, YM3!, YM3b, YM5!, YM6! are)";
  } else {
    result.error =
        "not a song file (no YM, VTX, PSG, VGM, VGZ, LHA or Pro Tracker 3 header)";
  }
  return result;
}

ImportResult import_lha(std::span<const uint8_t> bytes, const ImportOptions& options) {
  std::vector<uint8_t> unpacked;
  std::string method;
  const std::string error = unpack_lha(bytes, unpacked, method);
  if (!error.empty()) return malformed(error);
  if (is_lha(unpacked) || is_gzip(unpacked))
    return malformed("LHA archive holds another archive, not a song");
  ImportResult result = import_plain(unpacked, options);
  if (result.status == ImportStatus::UnknownFormat) {
    result.status = ImportStatus::Malformed;
    result.error = "LHA archive holds no song: " + result.error;
  }
  result.info.notes.push_back("unpacked from an LHA archive (" + method + ")");
  return result;
}

ImportResult import_gzip(std::span<const uint8_t> bytes, const ImportOptions& options) {
  std::vector<uint8_t> unpacked;
  const std::string error = unpack_gzip(bytes, unpacked);
  if (!error.empty()) return malformed(error);
  if (!starts_with(unpacked, "Vgm ")) return malformed("gzip data is not a VGM file");
  ImportResult result = import_vgm(unpacked, options);
  if (result.info.format.starts_with("VGM")) result.info.format.replace(0, 3, "VGZ");
  return result;
}

}  // namespace

ImportResult import_song(std::span<const uint8_t> bytes, const ImportOptions& options) {
  ImportResult result = is_lha(bytes)    ? import_lha(bytes, options)
                        : is_gzip(bytes) ? import_gzip(bytes, options)
                                         : import_plain(bytes, options);
  // Only a TurboSound file has a second chip to import.
  if (options.second_chip && result.status == ImportStatus::Ok &&
      result.info.chips.size() < 2)
    return malformed("not a TurboSound file: there is no second chip");
  return result;
}

bool looks_like_song(std::span<const uint8_t> head) {
  if (is_lha(head) || is_gzip(head)) return true;
  for (const char* magic : kYmMagics)
    if (starts_with(head, magic)) return true;
  return starts_with(head, "PSG\x1A") || starts_with(head, "Vgm ") ||
         looks_like_pt3(head) || looks_like_vtx(head);
}

ImportResult malformed(std::string error) {
  ImportResult result;
  result.status = ImportStatus::Malformed;
  result.error = std::move(error);
  return result;
}

std::string with_commas(uint64_t value) {
  const std::string digits = std::to_string(value);
  std::string text;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i != 0 && (digits.size() - i) % 3 == 0) text += ',';
    text += digits[i];
  }
  return text;
}

std::string printable(std::string text) {
  for (char& c : text)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
  return text;
}

std::string hex(uint64_t value) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string text;
  do {
    text.insert(text.begin(), kDigits[value & 15]);
    value >>= 4;
  } while (value != 0);
  if (text.size() % 2 != 0) text.insert(text.begin(), '0');
  return "0x" + text;
}

std::string check_clock_and_rate(uint32_t clock_hz, double rate_hz) {
  // A clock far from any real machine's makes every period clamp; a frame
  // rate outside this range is not a player's interrupt.
  if (clock_hz < 100000 || clock_hz > 100000000)
    return "chip clock " + with_commas(clock_hz) +
           " Hz is out of range (100,000..100,000,000)";
  if (!std::isfinite(rate_hz) || rate_hz < 1 || rate_hz > 10000) {
    char text[80];
    std::snprintf(text, sizeof text, "frame rate %g Hz is out of range (1..10,000)",
                  rate_hz);
    return text;
  }
  return {};
}
