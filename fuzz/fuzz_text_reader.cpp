// The text log reader on arbitrary bytes: the line splitter gives back every
// byte it was given, and the player's and the converter's readers agree on
// every event, the player's delay being the difference of the times.
#include <string>

#include "common/register_log.h"
#include "fuzz/fuzz_support.h"

namespace {

void check_lines(const uint8_t* data, size_t size) {
  InputStream in(data, size);
  std::string rebuilt;
  char line[kMaxTextLine + 1];
  bool crlf = false;
  bool ended_short = false;
  for (;;) {
    const int count = read_log_line(in.get(), line, kMaxTextLine, &crlf);
    if (count == 0) break;
    // Only the last line may stop short of both a line end and the limit.
    FUZZ_REQUIRE(!ended_short);
    FUZZ_REQUIRE(count > 0 && count <= kMaxTextLine);
    FUZZ_REQUIRE(line[count] == '\0');
    if (line[count - 1] != '\n' && count < kMaxTextLine) ended_short = true;
    if (crlf) {
      FUZZ_REQUIRE(line[count - 1] == '\n');
      rebuilt.append(line, static_cast<size_t>(count - 1));
      rebuilt += "\r\n";
    } else {
      rebuilt.append(line, static_cast<size_t>(count));
    }
  }
  FUZZ_REQUIRE(rebuilt == std::string(reinterpret_cast<const char*>(data), size));
}

void check_readers_agree(const uint8_t* data, size_t size) {
  InputStream player(data, size);
  InputStream converter(data, size);
  int32_t previous_time = 0;
  for (bool first = true;; first = false) {
    const int32_t time_before = previous_time;
    uint32_t delay = 0xDEADBEEF;
    uint8_t reg[2] = {};
    uint8_t value[2] = {};
    int32_t time = 0;
    const bool played = read_text_event(player.get(), previous_time,
                                        first ? nullptr : &delay, &reg[0], &value[0]);
    const bool converted =
        read_text_event_time(converter.get(), &time, &reg[1], &value[1]);
    FUZZ_REQUIRE(played == converted);
    FUZZ_REQUIRE(std::ftell(player.get()) == std::ftell(converter.get()));
    if (!played) break;
    FUZZ_REQUIRE(reg[0] == reg[1] && value[0] == value[1]);
    FUZZ_REQUIRE(previous_time == time);
    if (!first) {
      FUZZ_REQUIRE(delay ==
                   static_cast<uint32_t>(time) - static_cast<uint32_t>(time_before));
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  check_lines(data, size);
  check_readers_agree(data, size);
  return 0;
}
