// The WAV renderer on arbitrary logs of either form. Each input is cut after
// the last event that keeps the chip time within a bound, so every run stays
// short; the file then holds exactly the frames that chip time yields, behind
// a header whose sizes match the file.
#include <memory>
#include <string>

#include "audio/rig.h"
#include "common/messages.h"
#include "fuzz/fuzz_support.h"
#include "fuzz/render_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  set_program_name("Zarnik");
  const std::string input = scratch_folder() + "/song.log";
  const std::string output = scratch_folder() + "/song.wav";
  write_whole_file(input, data, size);
  uint64_t ticks = 0;
  size_t keep = 0;
  if (!measure(input, size, &ticks, &keep)) return 0;
  if (keep < size) write_whole_file(input, data, keep);

  auto rig = std::make_unique<ExactRig>(EngineKind::Stretches);
  RegisterLog log;
  FUZZ_REQUIRE(open_register_log(log, input.c_str(), LogOpenRules::Player));
  const int code = rig->render(log, input.c_str(), output.c_str());
  log.close();

  const std::string wav = read_whole_file(output);
  std::remove(output.c_str());
  if (code == kRenderNoData) {
    FUZZ_REQUIRE(wav.empty());
    return 0;
  }
  FUZZ_REQUIRE(code == kRenderOk);
  const uint64_t frames = 44100 * ticks / 1000000;
  FUZZ_REQUIRE(wav.size() == 44 + 4 * frames);
  const WavHeader header = make_wav_header_template();
  FUZZ_REQUIRE(wav.compare(0, 4, "RIFF") == 0);
  FUZZ_REQUIRE(le32(wav, 4) == wav.size() - 8);
  FUZZ_REQUIRE(wav.compare(8, sizeof header.riff - 8,
                           reinterpret_cast<const char*>(header.riff) + 8,
                           sizeof header.riff - 8) == 0);
  FUZZ_REQUIRE(wav.compare(20, sizeof header.format,
                           reinterpret_cast<const char*>(header.format),
                           sizeof header.format) == 0);
  FUZZ_REQUIRE(wav.compare(36, 4, "data") == 0);
  FUZZ_REQUIRE(le32(wav, 40) == wav.size() - 44);
  return 0;
}
