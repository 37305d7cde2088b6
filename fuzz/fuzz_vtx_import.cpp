// The VTX importer (header, -lh5- stream through liblhasa) on any bytes.
#include "fuzz/fuzz_song_import.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  check_import_as(data, size, "ay", {"ay", "AY", "ym", "yM", "Ym", "Ay", "aY"});
  return 0;
}
