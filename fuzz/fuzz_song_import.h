// What every song importer must hold to on any bytes: a failure is one line
// and no writes; a success is writes in time order, to registers 0..13 only,
// with no spare bit set (effect flags cleared), ending with the end write at
// the song's duration.
#pragma once

#include <algorithm>
#include <cstring>
#include <vector>

#include "formats/song.h"
#include "fuzz/fuzz_support.h"

inline void check_import(const uint8_t* data, size_t size) {
  const ImportResult result = import_song({data, size}, ImportOptions{});
  if (result.status != ImportStatus::Ok) {
    FUZZ_REQUIRE(!result.error.empty());
    FUZZ_REQUIRE(result.error.find('\n') == std::string::npos);
    FUZZ_REQUIRE(result.writes.empty());
    return;
  }
  static constexpr uint8_t kMask[14] = {0xFF, 0x0F, 0xFF, 0x0F, 0xFF, 0x0F, 0x1F,
                                        0xFF, 0x1F, 0x1F, 0x1F, 0xFF, 0xFF, 0x0F};
  FUZZ_REQUIRE(!result.writes.empty());
  FUZZ_REQUIRE(result.info.writes == result.writes.size());
  uint64_t previous = 0;
  for (const TimedWrite& write : result.writes) {
    FUZZ_REQUIRE(write.time >= previous);
    FUZZ_REQUIRE(write.reg <= 13);
    FUZZ_REQUIRE((write.value & ~kMask[write.reg]) == 0);
    previous = write.time;
  }
  FUZZ_REQUIRE(result.writes.back().reg == 7);
  FUZZ_REQUIRE(result.writes.back().time == result.info.duration_us);
}

// Runs the checks on the input, and on it behind `magic` when it does not
// start with one of `accepted`, so that mutations of the first bytes still
// reach the importer.
inline void check_import_as(const uint8_t* data, size_t size, const char* magic,
                            std::initializer_list<const char*> accepted) {
  for (const char* prefix : accepted)
    if (size >= std::strlen(prefix) &&
        std::memcmp(data, prefix, std::strlen(prefix)) == 0)
      return check_import(data, size);
  std::vector<uint8_t> input(magic, magic + std::strlen(magic));
  input.insert(input.end(), data, data + size);
  check_import(input.data(), input.size());
}
