// The binary log reader on arbitrary bytes, against a decoder written from the
// record layout, and every record it reads re-encoded by the converter's
// encoder: the shortest form, read back, gives the same event.
#include <string>

#include "common/register_log.h"
#include "converter/converter.h"
#include "fuzz/fuzz_support.h"

namespace {

// Collects what the encoder writes.
class MemoryFiles final : public OutputFiles {
 public:
  std::string bytes;
  FILE* open(const char*) override { return nullptr; }
  size_t write(FILE*, const void* data, size_t size) override {
    bytes.append(static_cast<const char*>(data), size);
    return size;
  }
  bool seek(FILE*, long) override { return false; }
  bool close(FILE*) override { return true; }
};

struct Record {
  bool ok = false;
  size_t length = 0;
  uint32_t delay = 0;
  uint8_t reg = 0;
  uint8_t value = 0;
};

// Decodes the record at data[at]: up to four delay bytes, the last with bit 7
// clear, then the register and the value.
Record decode(const uint8_t* data, size_t size, size_t at) {
  Record record;
  size_t i = at;
  for (int groups = 0;; ++groups) {
    if (groups == 4 || i == size) return record;
    const uint8_t byte = data[i++];
    record.delay = record.delay << 7 | (byte & 0x7Fu);
    if ((byte & 0x80) == 0) break;
  }
  if (size - i < 2) return record;
  record.reg = data[i];
  record.value = data[i + 1];
  record.length = i + 2 - at;
  record.ok = true;
  return record;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  InputStream in(data, size);
  size_t at = 0;
  for (;;) {
    uint32_t delay = 0;
    uint8_t reg = 0;
    uint8_t value = 0;
    const bool ok = read_binary_event(in.get(), &delay, &reg, &value);
    const Record expected = decode(data, size, at);
    FUZZ_REQUIRE(ok == expected.ok);
    if (!ok) break;
    FUZZ_REQUIRE(delay == expected.delay && reg == expected.reg &&
                 value == expected.value);
    FUZZ_REQUIRE(delay <= kMaxBinaryDelay);
    FUZZ_REQUIRE(expected.length >= 3 && expected.length <= 6);
    FUZZ_REQUIRE(std::ftell(in.get()) == static_cast<long>(at + expected.length));

    MemoryFiles encoded;
    FUZZ_REQUIRE(write_binary_event(delay, reg, value, nullptr, encoded));
    const std::string original(reinterpret_cast<const char*>(data) + at, expected.length);
    // The record read is the shortest form unless it was padded with leading
    // empty groups (0x80), which the reader accepts and the encoder never
    // writes.
    if (original.size() > 3 && static_cast<uint8_t>(original[0]) == 0x80) {
      FUZZ_REQUIRE(encoded.bytes.size() < original.size());
    } else {
      FUZZ_REQUIRE(encoded.bytes == original);
    }
    const Record again = decode(reinterpret_cast<const uint8_t*>(encoded.bytes.data()),
                                encoded.bytes.size(), 0);
    FUZZ_REQUIRE(again.ok && again.length == encoded.bytes.size());
    FUZZ_REQUIRE(again.delay == delay && again.reg == reg && again.value == value);
    at += expected.length;
  }
  return 0;
}
