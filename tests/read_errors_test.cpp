// A read that fails is an error, not the end of the log: both programs stop
// with "Can't read [...]" and code 2, wherever in the log it happens. The
// renderer leaves its output as it was; the converter keeps what it converted.
#include <gtest/gtest.h>

#include <string>

#include "audio/rig.h"
#include "common/messages.h"
#include "common/register_log.h"
#include "converter/converter.h"
#include "tests/support/faulty_input.h"
#include "tests/support/logs.h"
#include "tests/support/temp_dir.h"

namespace {

// Renders or converts dir/song.log into dir/out through input; the code, as
// the program would exit with it.
int run(const TempDir& dir, bool render, InputFiles& input) {
  const std::string in = dir.file("song.log");
  const std::string out = dir.file("out");
  if (!render) {
    return convert_register_log(in.c_str(), out.c_str(), stdio_output_files(), input);
  }
  RegisterLog log;
  if (!open_register_log(log, in.c_str(), LogOpenRules::Player, input)) return 2;
  ExactRig rig(EngineKind::Stretches);
  const int code = rig.render(log, in.c_str(), out.c_str());
  log.close();
  return code;
}

TEST(ReadErrors, AFailedReadAnywhereStopsBothProgramsWithCodeTwo) {
  TempDir dir;
  std::string text = kTextHeader;
  std::string binary = kBinaryHeader;
  for (int i = 0; i < 400; ++i) {
    text += std::to_string(i * 1000) + ":08:0F\n";
    binary += std::string("\x87\x68\x08\x0F", 4);  // 1000 ticks
  }
  for (const auto& [render, log] :
       {std::pair{true, &text}, std::pair{true, &binary}, std::pair{false, &text}}) {
    set_program_name(render ? "Zarnik" : "Tubrel");
    write_file(dir.file("song.log"), *log);
    FaultyInput clean;
    ASSERT_EQ(run(dir, render, clean), 0);
    const std::string whole = read_file(dir.file("out"));
    // The magic line, the first event, the middle, and the read that finds
    // the end: a failure there may have hidden more of the log.
    for (const int fail_at : {1, 2, clean.reads / 2, clean.reads}) {
      const std::string where =
          (render ? "render " : "convert ") + std::to_string(fail_at);
      write_file(dir.file("out"), "old");
      FaultyInput input;
      input.fail_at = fail_at;
      testing::internal::CaptureStderr();
      testing::internal::CaptureStdout();
      EXPECT_EQ(run(dir, render, input), 2) << where;
      testing::internal::GetCapturedStdout();
      EXPECT_EQ(
          testing::internal::GetCapturedStderr(),
          program_name() + std::string(": Can't read [") + dir.file("song.log") + "]\n")
          << where;
      const std::string out = read_file(dir.file("out"));
      if (render || fail_at == 1) {
        EXPECT_EQ(out, "old") << where;
      } else {
        // What was converted before the failure, in order.
        EXPECT_EQ(whole.compare(0, out.size(), out), 0) << where;
        EXPECT_GE(out.size(), kBinaryHeader.size()) << where;
      }
      EXPECT_EQ(list_folder(dir.path()).size(), 2u) << where;
    }
  }
}

}  // namespace
