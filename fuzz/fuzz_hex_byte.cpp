// The two field converters of the text log against plain definitions: two hex
// digits and an optional LF; an atol-like time kept modulo 2^32.
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/register_log.h"
#include "fuzz/fuzz_support.h"

namespace {

bool is_hex(char c) {
  return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}

void check_hex(const char* text) {
  const size_t length = std::strlen(text);
  const bool expected_ok = (length == 2 || (length == 3 && text[2] == '\n')) &&
                           is_hex(text[0]) && is_hex(text[1]);
  uint8_t result = 0xA5;
  const bool ok = parse_hex_byte(text, &result);
  FUZZ_REQUIRE(ok == expected_ok);
  if (ok) {
    const std::string digits(text, 2);
    FUZZ_REQUIRE(result == std::strtoul(digits.c_str(), nullptr, 16));
  }
}

void check_time(const char* text) {
  // strtoll agrees with the modulo-2^32 conversion while the digits cannot
  // overflow it.
  const char* p = text;
  while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
  if (*p == '+' || *p == '-') ++p;
  size_t digits = 0;
  while (p[digits] >= '0' && p[digits] <= '9') ++digits;
  if (digits > 18) return;
  const long long wide = std::strtoll(text, nullptr, 10);
  FUZZ_REQUIRE(parse_time_field(text) ==
               static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(wide))));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // A C string, as the reader hands the fields over: it ends at the first NUL.
  const std::string text(reinterpret_cast<const char*>(data), size);
  check_hex(text.c_str());
  check_time(text.c_str());
  return 0;
}
