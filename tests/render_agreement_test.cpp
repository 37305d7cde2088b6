// The built player and the library in-process render random logs to the same
// bytes: the main flow adds nothing and loses nothing on the way.
#include <gtest/gtest.h>

#include "audio/rig.h"
#include "common/messages.h"
#include "common/register_log.h"
#include "tests/support/process.h"
#include "tests/support/random_log.h"
#include "tests/support/temp_dir.h"

namespace {

std::string render_in_process(const std::string& log_path, const std::string& wav_path) {
  ExactRig rig(EngineKind::Stretches);
  RegisterLog log;
  set_program_name("Zarnik");
  if (!open_register_log(log, log_path.c_str(), LogOpenRules::Player)) return "";
  testing::internal::CaptureStdout();
  const int code = rig.render(log, log_path.c_str(), wav_path.c_str());
  testing::internal::GetCapturedStdout();
  log.close();
  return code == 0 ? read_file(wav_path) : "";
}

TEST(RenderAgreement, ExecutableAndLibraryWriteTheSameFiles) {
  for (uint32_t seed = 1; seed <= 40; ++seed) {
    TempDir dir;
    write_file(dir.file("song.txt"), random_text_log(seed, 300));
    const ProcessResult r =
        run_program(ZARNIK_EXE, {dir.file("song.txt"), "-o", dir.file("exe.wav")});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const std::string library =
        render_in_process(dir.file("song.txt"), dir.file("lib.wav"));
    const std::string executable = read_file(dir.file("exe.wav"));
    ASSERT_FALSE(library.empty()) << "seed " << seed;
    EXPECT_TRUE(executable == library) << "seed " << seed;
  }
}

}  // namespace
