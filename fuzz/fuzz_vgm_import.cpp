// The VGM importer, and gzip (VGZ) around it, on any bytes.
#include "fuzz/fuzz_song_import.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  check_import_as(data, size, "Vgm ", {"Vgm ", "\x1F\x8B"});
  return 0;
}
