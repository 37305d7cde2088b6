// The converter run as a user runs it: exact output, messages and exit codes.
#include <gtest/gtest.h>

#include <string>

#include "tests/support/logs.h"
#include "tests/support/process.h"
#include "tests/support/program_test.h"
#include "tests/support/temp_dir.h"

namespace {

class Tubrel : public ProgramTest {
 protected:
  Tubrel() : ProgramTest(TUBREL_EXE) {}
};

TEST_F(Tubrel, CommandLineErrorsPrintTheReasonThenTheUsage) {
  struct Case {
    std::vector<std::string> args;
    std::string reason;
  };
  const Case cases[] = {
      {{}, "No input file provided\n"},
      {{"song.txt"}, "No output file provided\n"},
      {{"-o", "out.bin"}, "No input file provided\n"},
      {{"song.txt", "-x"}, "Unknown option [-x]\n"},
      {{"a.txt", "b.txt", "-o", "c"}, "Only one input file allowed.\n"},
      {{"a.txt", "-o"}, "-o must be followed by the output filename.\n"},
  };
  for (const Case& c : cases) {
    const ProcessResult r = run(c.args);
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err, "Tubrel: " + c.reason + "Tubrel: Usage: Tubrel inFile -o outFile\n");
    EXPECT_EQ(r.out, kTubrelBanner);
  }
}

TEST_F(Tubrel, ConvertsTimesIntoShortestDelays) {
  const std::string in = write_log(
      "song.txt", kTextHeader + "1000:07:38\n1000:08:0F\n1128:0a:FF\n268436583:00:01\n");
  const ProcessResult r = run({in, "-o", "song.bin"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, kTubrelBanner + "Compressing " + in + " to song.bin\n");
  EXPECT_EQ(r.err, "");
  // Delays 0, 0, 128 and 268435455.
  EXPECT_EQ(read_file(dir_.file("song.bin")),
            kBinaryHeader + std::string("\x00\x07\x38\x00\x08\x0F\x81\x00\x0A\xFF"
                                        "\xFF\xFF\xFF\x7F\x00\x01",
                                        16));
}

TEST_F(Tubrel, WindowsLineEndsConvertLikeUnixOnes) {
  const std::string unix_log = write_log("unix.txt", kTextHeader + "5:01:02\n9:03:04\n");
  const std::string dos_log = write_log("dos.txt", "MOVA-TXT\r\n5:01:02\r\n9:03:04\r\n");
  ASSERT_EQ(run({unix_log, "-o", "unix.bin"}).exit_code, 0);
  ASSERT_EQ(run({dos_log, "-o", "dos.bin"}).exit_code, 0);
  EXPECT_EQ(read_file(dir_.file("dos.bin")), read_file(dir_.file("unix.bin")));
  EXPECT_EQ(read_file(dir_.file("dos.bin")).size(), 9u + 3 + 3);
}

TEST_F(Tubrel, ALineThatDoesNotParseEndsTheConversionSuccessfully) {
  const std::string in =
      write_log("song.txt", kTextHeader + "0:07:38\n# a comment\n10:08:0F\n");
  const ProcessResult r = run({in, "-o", "song.bin"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(read_file(dir_.file("song.bin")),
            kBinaryHeader + std::string("\x00\x07\x38", 3));
}

TEST_F(Tubrel, DelaysBeyondTwentyEightBitsAreRefusedAfterTheRecordsBefore) {
  struct Case {
    std::string log;
    std::string delay;
  };
  const Case cases[] = {
      {"0:07:38\n268435456:08:0F\n", "268435456"},
      {"10:07:38\n9:08:0F\n", "4294967295"},
  };
  for (const Case& c : cases) {
    const std::string in = write_log("song.txt", kTextHeader + c.log);
    const ProcessResult r = run({in, "-o", "song.bin"});
    EXPECT_EQ(r.exit_code, 6);
    EXPECT_EQ(r.err, "Tubrel: Delay too long (" + c.delay +
                         "). Can't encode.\nTubrel: Can't write to [song.bin]\n");
    EXPECT_EQ(read_file(dir_.file("song.bin")),
              kBinaryHeader + std::string("\x00\x07\x38", 3));
  }
}

TEST_F(Tubrel, ALogWithoutEventsLeavesTheMagicOnly) {
  const std::string in = write_log("empty.txt", kTextHeader);
  const ProcessResult r = run({in, "-o", "out.bin"});
  EXPECT_EQ(r.exit_code, 5);
  EXPECT_EQ(r.err, "Tubrel: Can't find data in [" + in + "]\n");
  EXPECT_EQ(read_file(dir_.file("out.bin")), kBinaryHeader);
}

TEST_F(Tubrel, InputsThatAreNotTextLogsAreRefusedAndTheOutputLeftAlone) {
  write_file(dir_.file("out.bin"), "precious");
  const std::string binary =
      write_log("song.bin", kBinaryHeader + std::string("\x00\x07\x38", 3));
  const std::string* inputs[] = {&binary};
  for (const std::string* in : inputs) {
    const ProcessResult r = run({*in, "-o", "out.bin"});
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_EQ(r.err, "Tubrel: Unknown format [" + *in + "]\n");
  }
  const ProcessResult missing = run({"missing.txt", "-o", "out.bin"});
  EXPECT_EQ(missing.exit_code, 2);
  EXPECT_EQ(missing.err, "Tubrel: Can't open [missing.txt]\n");
  EXPECT_EQ(missing.out, kTubrelBanner + "Compressing missing.txt to out.bin\n");
  const ProcessResult folder = run({dir_.path(), "-o", "out.bin"});
  EXPECT_EQ(folder.exit_code, 2);
  EXPECT_EQ(folder.err, "Tubrel: Can't open [" + dir_.path() + "]\n");
  EXPECT_EQ(read_file(dir_.file("out.bin")), "precious");
}

TEST_F(Tubrel, AnOutputThatCannotBeCreatedIsReported) {
  const std::string in = write_log("song.txt", kTextHeader + "0:07:38\n");
  const ProcessResult r = run({in, "-o", "no/such/dir/out.bin"});
  EXPECT_EQ(r.exit_code, 3);
  EXPECT_EQ(r.out, kTubrelBanner + "Compressing " + in + " to no/such/dir/out.bin\n");
  EXPECT_EQ(r.err, "Tubrel: Can't create [no/such/dir/out.bin]\n");
}

TEST_F(Tubrel, ConvertingALogOntoItselfIsRefusedAndTheLogKept) {
  const std::string text = kTextHeader + "0:07:38\n";
  write_log("song.txt", text);
  const ProcessResult r = run({"song.txt", "-o", "./song.txt"});
  EXPECT_EQ(r.exit_code, 3);
  EXPECT_EQ(r.err, "Tubrel: Can't create [./song.txt]\n");
  EXPECT_EQ(read_file(dir_.file("song.txt")), text);
}

#if !defined(_WIN32)
// A full disk is simulated with RLIMIT_FSIZE, which Windows does not have.
TEST_F(Tubrel, AFullDiskIsReportedAndThePartialOutputKept) {
  std::string log = kTextHeader;
  for (int i = 0; i < 5000; ++i) log += std::to_string(i * 100) + ":00:01\n";
  const std::string in = write_log("song.txt", log);
  ProcessOptions options = in_dir();
  options.file_size_limit = 1000;
  const ProcessResult r = run_program(TUBREL_EXE, {in, "-o", "song.bin"}, options);
  EXPECT_EQ(r.exit_code, 6);
  EXPECT_EQ(r.err, "Tubrel: Can't write to [song.bin]\n");
  const std::string written = read_file(dir_.file("song.bin"));
  EXPECT_LE(written.size(), 1000u);
  EXPECT_EQ(written.substr(0, 9), kBinaryHeader);
}

TEST_F(Tubrel, AFullDiskFoundOnlyAtTheCloseIsStillReported) {
  // Small outputs sit in the stream's buffer until the close, where the disk
  // refuses them: that is a failed write, not a success, and the output
  // keeps what reached the disk.
  const std::string in = write_log("song.txt", kTextHeader + "0:07:38\n5:08:0F\n");
  ProcessOptions options = in_dir();
  options.file_size_limit = 5;
  const ProcessResult records = run_program(TUBREL_EXE, {in, "-o", "song.bin"}, options);
  EXPECT_EQ(records.exit_code, 6);
  EXPECT_EQ(records.err, "Tubrel: Can't write to [song.bin]\n");
  EXPECT_EQ(read_file(dir_.file("song.bin")), "MOVA-");

  // With no data the magic is all there is to lose: the code of a failed
  // magic write.
  const std::string empty = write_log("empty.txt", kTextHeader);
  options.file_size_limit = 0;
  const ProcessResult magic =
      run_program(TUBREL_EXE, {empty, "-o", "empty.bin"}, options);
  EXPECT_EQ(magic.exit_code, 4);
  EXPECT_EQ(magic.err, "Tubrel: Can't find data in [" + empty +
                           "]\nTubrel: Can't write to [empty.bin]\n");
  EXPECT_TRUE(file_exists(dir_.file("empty.bin")));
  EXPECT_EQ(read_file(dir_.file("empty.bin")), "");
}

TEST_F(Tubrel, AFileSizeLimitEndsTheConversionWithAReportNotASignal) {
  std::string log = kTextHeader;
  for (int i = 0; i < 5000; ++i) log += std::to_string(i * 100) + ":00:01\n";
  const std::string in = write_log("song.txt", log);
  ProcessOptions options = in_dir();
  options.file_size_limit = 1000;
  options.ignore_file_size_signal = false;
  const ProcessResult r = run_program(TUBREL_EXE, {in, "-o", "song.bin"}, options);
  EXPECT_EQ(r.exit_code, 6);
  EXPECT_EQ(r.err, "Tubrel: Can't write to [song.bin]\n");
  EXPECT_EQ(read_file(dir_.file("song.bin")).substr(0, 9), kBinaryHeader);
}
#endif

}  // namespace
