// The PSG importer on any bytes.
#include "fuzz/fuzz_song_import.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  check_import_as(data, size, "PSG\x1A", {"PSG\x1A"});
  return 0;
}
