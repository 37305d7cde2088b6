// The Pro Tracker 3 replayer on any bytes (behind the module header when the
// input has none): a bounded number of frames, each of registers within the
// chip's widths; then the whole import, TurboSound footer and all, when the
// module ends within those frames.
#include "formats/tracker/pt3_module.h"
#include "formats/tracker/pt3_replayer.h"
#include "fuzz/fuzz_song_import.h"

namespace {

constexpr uint64_t kFrames = 20000;

void check_replay(const std::vector<uint8_t>& input) {
  Pt3Module module;
  if (!module.parse(input).empty()) return;
  Pt3Replayer replayer(module);
  TrackerFrame frame;
  uint64_t frames = 0;
  for (; frames < kFrames && replayer.next_frame(frame); ++frames) {
    for (int reg : {1, 3, 5}) FUZZ_REQUIRE(frame.regs[reg] <= 0x0F);
    FUZZ_REQUIRE(frame.regs[6] <= 0x1F);
    FUZZ_REQUIRE(frame.regs[7] <= 0x3F);
    for (int reg : {8, 9, 10}) FUZZ_REQUIRE(frame.regs[reg] <= 0x1F);
    FUZZ_REQUIRE(frame.regs[13] <= 0x0F);
  }
  FUZZ_REQUIRE(replayer.error().find('\n') == std::string::npos);
  if (frames < kFrames) check_import(input.data(), input.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> input(data, data + size);
  if (!looks_like_pt3(input)) {
    const char* header = "ProTracker 3.";
    input.insert(input.begin(), header, header + 13);
  }
  check_replay(input);
  return 0;
}
