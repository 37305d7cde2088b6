// The YM importer (every variant, and LHA archives around it) on any bytes.
#include "fuzz/fuzz_song_import.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // An LHA archive names its method at offset 2.
  if (size >= 7 && data[2] == '-' && data[3] == 'l') {
    check_import(data, size);
    return 0;
  }
  check_import_as(data, size, "YM6!", {"YM2!", "YM3!", "YM3b", "YM5!", "YM6!"});
  return 0;
}
