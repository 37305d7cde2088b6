// The player run as a user runs it: exact output, messages, exit codes and
// the WAV files it leaves behind.
#include <gtest/gtest.h>

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cstdint>
#include <string>

#include "tests/support/logs.h"
#include "tests/support/process.h"
#include "tests/support/program_test.h"
#include "tests/support/temp_dir.h"

namespace {

uint32_t le32(const std::string& bytes, size_t offset) {
  return static_cast<uint32_t>(static_cast<uint8_t>(bytes[offset])) |
         static_cast<uint32_t>(static_cast<uint8_t>(bytes[offset + 1])) << 8 |
         static_cast<uint32_t>(static_cast<uint8_t>(bytes[offset + 2])) << 16 |
         static_cast<uint32_t>(static_cast<uint8_t>(bytes[offset + 3])) << 24;
}

class Zarnik : public ProgramTest {
 protected:
  Zarnik() : ProgramTest(ZARNIK_EXE) {}
};

TEST_F(Zarnik, CommandLineErrorsPrintTheReasonThenTheUsageAndStillSayDone) {
  struct Case {
    std::vector<std::string> args;
    std::string reason;
  };
  const Case cases[] = {
      {{}, "No input file provided\n"},
      {{"song.txt", "-x"}, "Unknown option [-x]\n"},
      {{"-x", "song.txt"}, "Unknown option [-x]\n"},
      {{"song.txt", "-o"}, "-o must be followed by the output filename.\n"},
      {{"song.txt", "-o", "a.wav", "-o"},
       "-o must be followed by the output filename.\n"},
      {{"song.txt", "-o", "a.wav", "-o", "b.wav"}, "Only one output file allowed.\n"},
      {{"a.txt", "b.txt"}, "Only one input file allowed.\n"},
  };
  for (const Case& c : cases) {
    const ProcessResult r = run(c.args);
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err,
              "Zarnik: " + c.reason + "Zarnik: Usage: Zarnik inFile [-o outFile]\n");
    EXPECT_EQ(r.out, kZarnikBanner + "Done.\n");
  }
}

TEST_F(Zarnik, LogsThatCannotBeReadAreReportedTwice) {
  const ProcessResult missing = run({"missing.txt"});
  EXPECT_EQ(missing.exit_code, 2);
  EXPECT_EQ(missing.err,
            "Zarnik: Can't open [missing.txt]\nZarnik: Can't open [missing.txt]\n");
  EXPECT_EQ(missing.out, kZarnikBanner + "Done.\n");

  const std::string odd = write_log("odd.txt", "MOVA-TXT \n0:07:38\n");
  const ProcessResult unknown = run({odd, "-o", "out.wav"});
  EXPECT_EQ(unknown.exit_code, 2);
  EXPECT_EQ(unknown.err,
            "Zarnik: Unknown format [" + odd + "]\nZarnik: Can't open [" + odd + "]\n");
  EXPECT_FALSE(file_exists(dir_.file("out.wav")));
}

TEST_F(Zarnik, ALogWithoutEventsLeavesNoWavFile) {
  for (const std::string& log : {kTextHeader, kBinaryHeader}) {
    const std::string in = write_log("empty.log", log);
    const ProcessResult r = run({in, "-o", "out.wav"});
    EXPECT_EQ(r.exit_code, 5);
    EXPECT_EQ(r.out, kZarnikBanner + "Starting to save [out.wav]\nDone.\n");
    EXPECT_EQ(r.err, "Zarnik: Can't find data in [" + in + "]\n");
    EXPECT_FALSE(file_exists(dir_.file("out.wav")));
  }
}

TEST_F(Zarnik, FileSizeFollowsTheChipTimeBetweenFirstAndLastEvent) {
  struct Case {
    std::string log;
    uint32_t data_bytes;
  };
  const Case cases[] = {
      {"500:07:38\n", 0},                        // one event
      {"500:07:38\n500:08:0F\n500:09:0F\n", 0},  // delays of 0
      {"1000:07:38\n2000:08:0F\n", 44 * 4},      // 1000 ticks
      {"0:07:38\n1000000:08:0F\n", 44100 * 4},   // one second
      {"-5:07:38\n999995:08:0F\n", 44100 * 4},   // a negative origin
  };
  for (const Case& c : cases) {
    const std::string in = write_log("song.txt", kTextHeader + c.log);
    const ProcessResult r = run({in, "-o", "out.wav"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, kZarnikBanner + "Starting to save [out.wav]\nDone.\n");
    const std::string wav = read_file(dir_.file("out.wav"));
    ASSERT_EQ(wav.size(), 44 + c.data_bytes);
    EXPECT_EQ(le32(wav, 4), c.data_bytes + 36);
    EXPECT_EQ(le32(wav, 40), c.data_bytes);
  }
}

TEST_F(Zarnik, WritesAStandardPcmHeader) {
  const std::string in = write_log("song.txt", kTextHeader + "0:07:38\n1000000:08:0F\n");
  ASSERT_EQ(run({in, "-o", "out.wav"}).exit_code, 0);
  const std::string wav = read_file(dir_.file("out.wav"));
  ASSERT_EQ(wav.size(), 176444u);
  const std::string expected_header = std::string(
      "RIFF\x34\xB1\x02\x00WAVEfmt \x10\x00\x00\x00\x01\x00\x02\x00"
      "\x44\xAC\x00\x00\x10\xB1\x02\x00\x04\x00\x10\x00"
      "data\x10\xB1\x02\x00",
      44);
  EXPECT_EQ(wav.substr(0, 44), expected_header);
}

TEST_F(Zarnik, AnOutputThatCannotBeOpenedIsReportedBeforeAnythingIsSaid) {
  const std::string in = write_log("song.txt", kTextHeader + "0:07:38\n");
  const ProcessResult r = run({in, "-o", "no/such/dir/out.wav"});
  EXPECT_EQ(r.exit_code, 3);
  EXPECT_EQ(r.out, kZarnikBanner + "Done.\n");
  EXPECT_EQ(r.err, "Zarnik: Can't open output file [no/such/dir/out.wav]\n");
}

TEST_F(Zarnik, RenderingALogOntoItselfIsRefused) {
  const std::string text = kTextHeader + "0:07:38\n1000:08:0F\n";
  write_log("song.txt", text);
  const ProcessResult r = run({"song.txt", "-o", dir_.file("song.txt")});
  EXPECT_EQ(r.exit_code, 3);
  EXPECT_EQ(r.err, "Zarnik: Can't open output file [" + dir_.file("song.txt") + "]\n");
  EXPECT_EQ(read_file(dir_.file("song.txt")), text);
}

#if !defined(_WIN32)
// A full disk is simulated with RLIMIT_FSIZE, and the links and devices below
// are POSIX names; Windows has no per-process file size limit, and creating
// symbolic links there needs a privilege that a test run does not have. The
// failing writes are also covered through the OutputFiles seam in the unit
// tests, and the device rule by the Windows tests further down.
TEST_F(Zarnik, AFullDiskDuringTheFinalFlushIsReportedTwiceAndTheFileDeleted) {
  // 0.1 s of sound: fewer frames than a flush inside the loop needs.
  const std::string in = write_log("song.txt", kTextHeader + "0:08:0F\n100000:08:00\n");
  const ProcessResult r = run({in, "-o", "out.wav"}, 1000);
  EXPECT_EQ(r.exit_code, 6);
  EXPECT_EQ(r.err,
            "Zarnik: Can't write to output file.\nZarnik: Can't write to output file.\n");
  EXPECT_FALSE(file_exists(dir_.file("out.wav")));
}

TEST_F(Zarnik, AFullDiskDuringTheRenderIsReportedOnceAndTheFileDeleted) {
  const std::string in = write_log("song.txt", kTextHeader + "0:08:0F\n2000000:08:00\n");
  const ProcessResult r = run({in, "-o", "out.wav"}, 20000);
  EXPECT_EQ(r.exit_code, 6);
  EXPECT_EQ(r.err, "Zarnik: Can't write to output file.\n");
  EXPECT_FALSE(file_exists(dir_.file("out.wav")));
}

TEST_F(Zarnik, AFailedRenderNeverDeletesWhatIsNotARegularFile) {
  const std::string in = write_log("empty.txt", kTextHeader);
  ASSERT_EQ(symlink("/dev/null", dir_.file("null.wav").c_str()), 0);
  write_file(dir_.file("target.wav"), "keep");
  ASSERT_EQ(symlink("target.wav", dir_.file("link.wav").c_str()), 0);
  for (const char* output : {"null.wav", "link.wav"}) {
    EXPECT_EQ(run({in, "-o", output}).exit_code, 5);
    EXPECT_TRUE(file_exists(dir_.file(output))) << output;
  }
  EXPECT_TRUE(file_exists(dir_.file("target.wav")));
  struct stat status {};
  EXPECT_EQ(stat("/dev/null", &status), 0);
}

TEST_F(Zarnik, AnOutputThatCannotSeekFailsWithoutDeletingIt) {
  // A pipe cannot seek: the sizes cannot be patched.
  const std::string in = write_log("song.txt", kTextHeader + "0:08:0F\n1000:08:00\n");
  const ProcessResult r = run({in, "-o", "/dev/stdout"});
  EXPECT_EQ(r.exit_code, 7);
  EXPECT_EQ(r.err, "Zarnik: Can't write to output file.\n");
  struct stat status {};
  EXPECT_EQ(lstat("/dev/stdout", &status), 0);
}
#else
TEST_F(Zarnik, AFailedRenderNeverDeletesTheNulDevice) {
  const std::string in = write_log("empty.txt", kTextHeader);
  const ProcessResult r = run({in, "-o", "NUL"});
  EXPECT_EQ(r.exit_code, 5);
  EXPECT_EQ(r.err, "Zarnik: Can't find data in [" + in + "]\n");
}

// A named pipe stands for the POSIX test's /dev/stdout: it cannot seek, so
// the sizes cannot be patched, and it is no regular file, so the failed
// render must leave it alone.
TEST_F(Zarnik, AnOutputThatCannotSeekFailsWithoutDeletingIt) {
  const std::string pipe_name =
      "\\\\.\\pipe\\zarnik-test-" + std::to_string(GetCurrentProcessId());
  const HANDLE pipe =
      CreateNamedPipeA(pipe_name.c_str(), PIPE_ACCESS_INBOUND, PIPE_TYPE_BYTE | PIPE_WAIT,
                       1, 0, 1 << 20, 0, nullptr);
  ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
  const std::string in = write_log("song.txt", kTextHeader + "0:08:0F\n1000:08:00\n");
  const ProcessResult r = run({in, "-o", pipe_name});
  EXPECT_EQ(r.exit_code, 7);
  EXPECT_EQ(r.err, "Zarnik: Can't write to output file.\n");
  // What reached the pipe is the header and the frames, in one piece.
  char bytes[512];
  DWORD got = 0;
  EXPECT_TRUE(ReadFile(pipe, bytes, sizeof bytes, &got, nullptr));
  EXPECT_EQ(got, 44u + 44 * 4);
  CloseHandle(pipe);
}
#endif

TEST_F(Zarnik, WithoutAnOutputItPlaysLiveOrSaysWhyNot) {
  const std::string in = write_log("song.txt", kTextHeader + "0:07:38\n");
  const ProcessResult r = run({in});
  if (r.exit_code == 3) {
    EXPECT_EQ(r.out, kZarnikBanner + "Starting to play [" + in + "]\nDone.\n");
    EXPECT_EQ(r.err, "Zarnik: Can't start sound engine\n");
  } else {
    EXPECT_EQ(r.exit_code, 0) << r.err;
  }
  EXPECT_FALSE(file_exists(dir_.file("out.wav")));
}

#if !defined(_WIN32)
// The sound library is loaded only for live play: where it is unusable, live
// play says so, and a render never notices.
TEST_F(Zarnik, AnUnusableSoundLibraryStopsLivePlayOnlyAndIsReported) {
  const std::string in = write_log("song.txt", kTextHeader + "0:07:38\n1000:08:0F\n");
  ProcessOptions options = in_dir();
  options.environment = {{"LD_LIBRARY_PATH", ALSA_STUB_DIR}};
  const ProcessResult live = run_program(ZARNIK_EXE, {in}, options);
  EXPECT_EQ(live.exit_code, 3);
  EXPECT_EQ(live.err, "Zarnik: Can't start sound engine\n");
  const ProcessResult render = run_program(ZARNIK_EXE, {in, "-o", "out.wav"}, options);
  EXPECT_EQ(render.exit_code, 0) << render.err;
  EXPECT_TRUE(file_exists(dir_.file("out.wav")));
}

// A full disk is simulated with RLIMIT_FSIZE, which Windows does not have.
TEST_F(Zarnik, AFullDiskFoundWhenPatchingTheSizesIsReportedAndTheFileDeleted) {
  // The whole 44-byte file is still in the stream's buffer when the renderer
  // seeks back to patch the sizes; the seek pushes it out and the disk refuses.
  const std::string in = write_log("song.txt", kTextHeader + "0:07:38\n");
  const ProcessResult r = run({in, "-o", "out.wav"}, 0);
  EXPECT_EQ(r.exit_code, 7);
  EXPECT_EQ(r.err, "Zarnik: Can't write to output file.\n");
  EXPECT_FALSE(file_exists(dir_.file("out.wav")));
}

TEST_F(Zarnik, AFileSizeLimitEndsTheRenderWithAReportNotASignal) {
  // Under `ulimit -f` a write past the limit raises SIGXFSZ, which would kill
  // the player and leave a half-written WAV with placeholder sizes behind.
  const std::string in = write_log("song.txt", kTextHeader + "0:08:0F\n2000000:08:00\n");
  ProcessOptions options = in_dir();
  options.file_size_limit = 20000;
  options.ignore_file_size_signal = false;
  const ProcessResult r = run_program(ZARNIK_EXE, {in, "-o", "out.wav"}, options);
  EXPECT_EQ(r.exit_code, 6);
  EXPECT_EQ(r.err, "Zarnik: Can't write to output file.\n");
  EXPECT_EQ(r.out, kZarnikBanner + "Starting to save [out.wav]\nDone.\n");
  EXPECT_FALSE(file_exists(dir_.file("out.wav")));
}
#endif

}  // namespace
