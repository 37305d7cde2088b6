// A read that fails is an error, not the end of the log: both programs stop
// with "Can't read [...]" and code 2, wherever in the log it happens. The
// renderer leaves its output as it was; the converter keeps what it converted.
#include <gtest/gtest.h>

#include <string>

#include "audio/wav_renderer.h"
#include "common/messages.h"
#include "converter/converter.h"
#include "tests/support/faulty_input.h"
#include "tests/support/logs.h"
#include "tests/support/temp_dir.h"

namespace {

// A log of many 64-byte reads: `lines` writes 1000 ticks apart.
std::string long_text_log(int lines) {
  std::string log = kTextHeader;
  for (int i = 0; i < lines; ++i) log += std::to_string(i * 1000) + ":08:0F\n";
  return log;
}

struct Outcome {
  int code;
  std::string err;
  std::string output;
};

Outcome render(const TempDir& dir, InputFiles& input) {
  const std::string in = dir.file("song.log");
  const std::string out = dir.file("out.wav");
  set_program_name("Zarnik");
  testing::internal::CaptureStderr();
  testing::internal::CaptureStdout();
  Outcome outcome{2, "", ""};
  RegisterLog log;
  if (open_register_log(log, in.c_str(), LogOpenRules::Player, input)) {
    SampleRing ring;
    Chip chip(ring);
    chip.install_volume_table(kFullLevels);
    WavRenderer renderer(chip, ring);
    outcome.code = renderer.render(log, in.c_str(), out.c_str());
    log.close();
  }
  testing::internal::GetCapturedStdout();
  outcome.err = testing::internal::GetCapturedStderr();
  outcome.output = read_file(out);
  return outcome;
}

Outcome convert(const TempDir& dir, InputFiles& input) {
  const std::string in = dir.file("song.log");
  const std::string out = dir.file("out.bin");
  set_program_name("Tubrel");
  testing::internal::CaptureStderr();
  Outcome outcome{};
  outcome.code =
      convert_register_log(in.c_str(), out.c_str(), stdio_output_files(), input);
  outcome.err = testing::internal::GetCapturedStderr();
  outcome.output = read_file(out);
  return outcome;
}

TEST(ReadErrors, AFailedReadAnywhereStopsBothProgramsWithCodeTwo) {
  TempDir dir;
  const std::string text = long_text_log(400);
  std::string binary = kBinaryHeader;
  for (int i = 0; i < 400; ++i) binary += std::string("\x87\x68\x08\x0F", 4);
  struct Case {
    const char* what;
    Outcome (*run)(const TempDir&, InputFiles&);
    const std::string* log;
  };
  const Case cases[] = {
      {"render a text log", render, &text},
      {"render a binary log", render, &binary},
      {"convert", convert, &text},
  };
  for (const Case& c : cases) {
    write_file(dir.file("song.log"), *c.log);
    FaultyInput clean;
    write_file(dir.file("out.wav"), "old");
    const Outcome whole = c.run(dir, clean);
    ASSERT_EQ(whole.code, 0) << c.what << whole.err;
    const int last_read = clean.reads;
    // The magic line, the first event, the middle, and the read that finds
    // the end: a failure there may have hidden more of the log.
    for (const int fail_at : {1, 2, last_read / 2, last_read}) {
      write_file(dir.file("out.wav"), "old");
      std::remove(dir.file("out.bin").c_str());
      FaultyInput input;
      input.fail_at = fail_at;
      const Outcome broken = c.run(dir, input);
      const std::string where = std::string(c.what) + ", read " + std::to_string(fail_at);
      EXPECT_EQ(broken.code, 2) << where;
      EXPECT_EQ(broken.err, std::string(c.run == render ? "Zarnik" : "Tubrel") +
                                ": Can't read [" + dir.file("song.log") + "]\n")
          << where;
      if (c.run == render) {
        EXPECT_EQ(broken.output, "old") << where;
      } else if (fail_at > 1) {
        // What was converted before the failure, in order.
        EXPECT_EQ(whole.output.compare(0, broken.output.size(), broken.output), 0);
        EXPECT_GE(broken.output.size(), kBinaryHeader.size()) << where;
      }
    }
    EXPECT_EQ(list_folder(dir.path()).size(), c.run == render ? 2u : 3u) << c.what;
  }
}

}  // namespace
