// A render over an existing output while one call fails: a read of the log,
// or an open, write, seek, close, sync or rename of the output, chosen by the
// input's first two bytes (the rest is the log). Whatever fails and wherever,
// the output name holds either a complete WAV file (code 0) or exactly what
// it held before, no temporary file remains, and the code is 2 exactly when
// the failing read happened.
#include <memory>
#include <string>

#include "audio/rig.h"
#include "common/messages.h"
#include "fuzz/fuzz_support.h"
#include "fuzz/render_support.h"
#include "tests/support/faulty_files.h"
#include "tests/support/faulty_input.h"

namespace {

constexpr FaultyFiles::Kind kKinds[] = {FaultyFiles::Kind::None,  FaultyFiles::Kind::Open,
                                        FaultyFiles::Kind::Write, FaultyFiles::Kind::Seek,
                                        FaultyFiles::Kind::Close, FaultyFiles::Kind::Sync,
                                        FaultyFiles::Kind::Rename};
constexpr int kReadFails = sizeof kKinds / sizeof kKinds[0];

const std::string kOld = "old contents";

// The folder holds the log, the output name when count is 2, nothing else.
bool folder_holds(int count) {
  for (const auto& entry : std::filesystem::directory_iterator(scratch_folder())) {
    const std::string name = entry.path().filename().string();
    if (name != "song.log" && name != "out.wav") return false;
    --count;
  }
  return count == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  set_program_name("Zarnik");
  const int choice = data[0] % (kReadFails + 1);
  const int fail_at = 1 + data[1] % 64;
  data += 2;
  size -= 2;
  const std::string input = scratch_folder() + "/song.log";
  const std::string output = scratch_folder() + "/out.wav";
  write_whole_file(input, data, size);
  uint64_t ticks = 0;
  size_t keep = 0;
  if (!measure(input, size, &ticks, &keep)) return 0;
  if (keep < size) write_whole_file(input, data, keep);
  write_whole_file(output, reinterpret_cast<const uint8_t*>(kOld.data()), kOld.size());

  FaultyFiles files;
  FaultyInput reads;
  if (choice == kReadFails) {
    reads.fail_at = fail_at;
  } else {
    files.fail_kind = kKinds[choice];
    files.fail_at = fail_at;
  }
  auto rig = std::make_unique<ExactRig>(EngineKind::Stretches);
  RegisterLog log;
  int code = kRenderCantRead;  // what the player returns when the open fails
  if (open_register_log(log, input.c_str(), LogOpenRules::Player, reads)) {
    code = rig->render(log, input.c_str(), output.c_str(), files);
    log.close();
  }

  // When the temporary file cannot be created nothing is written at all:
  // the output keeps what it held, as after any other failure.
  const std::string wav = read_whole_file(output);
  FUZZ_REQUIRE((code == kRenderCantRead) ==
               (reads.fail_at != 0 && reads.reads >= fail_at));
  FUZZ_REQUIRE(folder_holds(2));
  if (code != kRenderOk) {
    FUZZ_REQUIRE(wav == kOld);
    return 0;
  }
  FUZZ_REQUIRE(wav.size() == 44 + 4 * (44100 * ticks / 1000000));
  FUZZ_REQUIRE(le32(wav, 4) == wav.size() - 8 && le32(wav, 40) == wav.size() - 44);
  return 0;
}
