// The converter's whole flow on arbitrary input files: whatever it accepts,
// its output read back by the binary reader gives exactly the events that the
// text reader read, with the differences of the times as delays, up to the
// first delay that cannot be encoded.
#include <string>
#include <vector>

#include "common/messages.h"
#include "common/register_log.h"
#include "converter/converter.h"
#include "fuzz/fuzz_support.h"

namespace {

struct Event {
  uint32_t delay;
  uint8_t reg;
  uint8_t value;
  bool operator==(const Event&) const = default;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  set_program_name("Tubrel");
  const std::string input = scratch_folder() + "/in.txt";
  const std::string output = scratch_folder() + "/out.bin";
  write_whole_file(input, data, size);
  std::remove(output.c_str());

  const int code = convert_register_log(input.c_str(), output.c_str());
  if (code == kConvertCantOpenInput) {
    FUZZ_REQUIRE(!path_exists(output));
    return 0;
  }
  // Nothing else can fail on a working disk.
  FUZZ_REQUIRE(code == kConvertOk || code == kConvertNoData ||
               code == kConvertCantWriteRecord);

  // What the text reader reads, as delays, up to the first that cannot be
  // encoded.
  std::vector<Event> expected;
  bool too_long = false;
  RegisterLog text;
  FUZZ_REQUIRE(open_register_log(text, input.c_str(), LogOpenRules::Converter));
  int32_t time = 0;
  int32_t previous = 0;
  Event event{};
  for (bool first = true;
       read_text_event_time(text.stream, &time, &event.reg, &event.value);
       first = false) {
    event.delay =
        first ? 0 : static_cast<uint32_t>(time) - static_cast<uint32_t>(previous);
    previous = time;
    if (event.delay > kMaxBinaryDelay) {
      too_long = true;
      break;
    }
    expected.push_back(event);
  }
  text.close();
  FUZZ_REQUIRE(code == (expected.empty() ? kConvertNoData
                        : too_long       ? kConvertCantWriteRecord
                                         : kConvertOk));

  // The output, read back record by record, to its last byte.
  const std::string bytes = read_whole_file(output);
  FUZZ_REQUIRE(bytes.size() >= kMagicLength &&
               bytes.compare(0, kMagicLength, kBinaryMagic) == 0);
  InputStream binary(reinterpret_cast<const uint8_t*>(bytes.data()) + kMagicLength,
                     bytes.size() - kMagicLength);
  std::vector<Event> read_back;
  while (read_binary_event(binary.get(), &event.delay, &event.reg, &event.value)) {
    read_back.push_back(event);
  }
  FUZZ_REQUIRE(std::ftell(binary.get()) ==
               static_cast<long>(bytes.size() - kMagicLength));
  FUZZ_REQUIRE(read_back == expected);
  return 0;
}
