// The binary record encoder, every failure of the conversion through a file
// seam that fails on demand, and text logs read back after conversion.
#include "converter/converter.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "common/messages.h"
#include "common/register_log.h"
#include "tests/support/faulty_files.h"
#include "tests/support/logs.h"
#include "tests/support/temp_dir.h"

namespace {

std::string encode(uint32_t delay, uint8_t reg, uint8_t value, bool* ok = nullptr) {
  TempDir dir;
  FILE* f = std::fopen(dir.file("out").c_str(), "wb");
  const bool written = write_binary_event(delay, reg, value, f);
  std::fclose(f);
  if (ok != nullptr) *ok = written;
  return read_file(dir.file("out"));
}

TEST(Encoder, WritesTheShortestBase128Delay) {
  EXPECT_EQ(encode(0, 7, 0x38), std::string("\x00\x07\x38", 3));
  EXPECT_EQ(encode(127, 1, 2), std::string("\x7F\x01\x02", 3));
  EXPECT_EQ(encode(128, 1, 2), std::string("\x81\x00\x01\x02", 4));
  EXPECT_EQ(encode(300, 1, 2), std::string("\x82\x2C\x01\x02", 4));
  EXPECT_EQ(encode(16383, 1, 2), std::string("\xFF\x7F\x01\x02", 4));
  EXPECT_EQ(encode(16384, 1, 2), std::string("\x81\x80\x00\x01\x02", 5));
  EXPECT_EQ(encode(2097151, 1, 2), std::string("\xFF\xFF\x7F\x01\x02", 5));
  EXPECT_EQ(encode(2097152, 1, 2), std::string("\x81\x80\x80\x00\x01\x02", 6));
  EXPECT_EQ(encode(268435455, 0x0A, 0xFF), std::string("\xFF\xFF\xFF\x7F\x0A\xFF", 6));
}

TEST(Encoder, RefusesDelaysBeyondTwentyEightBits) {
  set_program_name("Tubrel");
  for (uint32_t delay : {268435456u, 4294967295u}) {
    bool ok = true;
    testing::internal::CaptureStderr();
    EXPECT_EQ(encode(delay, 1, 2, &ok), "");
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Tubrel: Delay too long (" + std::to_string(delay) + "). Can't encode.\n");
    EXPECT_FALSE(ok);
  }
}

// One conversion through a file seam; what it printed and left on disk.
struct ConvertRun {
  int code;
  std::string err;
  bool file_left;
  std::string bytes;
};

ConvertRun convert(const TempDir& dir, const std::string& text, OutputFiles& files) {
  write_file(dir.file("in.txt"), text);
  set_program_name("Tubrel");
  testing::internal::CaptureStderr();
  ConvertRun run{};
  run.code = convert_register_log(dir.file("in.txt").c_str(), dir.file("out.bin").c_str(),
                                  files);
  run.err = testing::internal::GetCapturedStderr();
  run.file_left = file_exists(dir.file("out.bin"));
  run.bytes = read_file(dir.file("out.bin"));
  return run;
}

TEST(ConversionFailures, EveryFailedCallIsReportedAndTheOutputKept) {
  TempDir dir;
  const std::string cant_write = "Tubrel: Can't write to [" + dir.file("out.bin") + "]\n";
  const std::string no_data = "Tubrel: Can't find data in [" + dir.file("in.txt") + "]\n";
  // Records 00 07 38, 81 00 08 0F and FF FF FF 7F 09 0A.
  const std::string three = kTextHeader + "5:07:38\n133:08:0F\n268435588:09:0A\n";
  const std::string first = kBinaryHeader + std::string("\x00\x07\x38", 3);
  const std::string two = first + std::string("\x81\x00\x08\x0F", 4);
  const std::string all = two + std::string("\xFF\xFF\xFF\x7F\x09\x0A", 6);
  struct Case {
    const char* what;
    FaultyFiles::Kind kind;
    int at;
    std::string log;
    int code;
    std::string err;
    bool file_left;
    std::string bytes;
  };
  const Case cases[] = {
      {"success", FaultyFiles::Kind::None, 0, three, 0, "", true, all},
      {"open", FaultyFiles::Kind::Open, 1, three, 3,
       "Tubrel: Can't create [" + dir.file("out.bin") + "]\n", false, ""},
      // A short magic leaves what reached the disk: here its first half.
      {"magic", FaultyFiles::Kind::Write, 1, three, 4, cant_write, true, "MOVA"},
      {"first record", FaultyFiles::Kind::Write, 2, three, 6, cant_write, true,
       kBinaryHeader + std::string("\x00", 1)},
      {"second record", FaultyFiles::Kind::Write, 3, three, 6, cant_write, true,
       first + std::string("\x81\x00", 2)},
      {"last record", FaultyFiles::Kind::Write, 4, three, 6, cant_write, true,
       two + std::string("\xFF\xFF\xFF", 3)},
      {"no data", FaultyFiles::Kind::None, 0, kTextHeader, 5, no_data, true,
       kBinaryHeader},
      {"delay too long", FaultyFiles::Kind::None, 0,
       kTextHeader + "5:07:38\n268435461:08:0F\n", 6,
       "Tubrel: Delay too long (268435456). Can't encode.\n" + cant_write, true, first},
      // The close is where buffered records reach the disk: its failure is a
      // failed write, never a success.
      {"close after success", FaultyFiles::Kind::Close, 1, three, 6, cant_write, true,
       all},
      {"close after no data", FaultyFiles::Kind::Close, 1, kTextHeader, 4,
       no_data + cant_write, true, kBinaryHeader},
  };
  for (const Case& c : cases) {
    FaultyFiles files;
    files.fail_kind = c.kind;
    files.fail_at = c.at;
    std::remove(dir.file("out.bin").c_str());
    const ConvertRun run = convert(dir, c.log, files);
    EXPECT_EQ(run.code, c.code) << c.what;
    EXPECT_EQ(run.err, c.err) << c.what;
    EXPECT_EQ(run.file_left, c.file_left) << c.what;
    EXPECT_EQ(run.bytes, c.bytes) << c.what;
  }
}

TEST(ConversionFailures, AFailedCloseAfterAFailedWriteAddsNothing) {
  TempDir dir;
  const std::string log = kTextHeader + "5:07:38\n6:08:0F\n";
  const std::string cant_write = "Tubrel: Can't write to [" + dir.file("out.bin") + "]\n";
  // Write 1 is the magic (code 4), write 2 the first record (code 6).
  for (const int code : {4, 6}) {
    FaultyFiles files;
    files.fail_kind = FaultyFiles::Kind::Write;
    files.fail_at = code == 4 ? 1 : 2;
    files.close_fails_too = true;
    std::remove(dir.file("out.bin").c_str());
    const ConvertRun run = convert(dir, log, files);
    EXPECT_EQ(run.code, code);
    EXPECT_EQ(run.err, cant_write);
    EXPECT_TRUE(run.file_left);
  }
}

TEST(Conversion, BinaryLogsReadBackAsTheTextLogsTheyCameFrom) {
  std::mt19937 random(20261207);
  for (int round = 0; round < 50; ++round) {
    TempDir dir;
    std::string text = kTextHeader;
    int64_t time = static_cast<int32_t>(random());
    const int events = 1 + static_cast<int>(random() % 200);
    for (int i = 0; i < events; ++i) {
      time += random() % 4 == 0 ? 0 : random() % 300000;
      char line[64];
      std::snprintf(line, sizeof line, "%d:%02X:%02x\n",
                    static_cast<int32_t>(static_cast<uint32_t>(time)),
                    static_cast<unsigned>(random() % 256),
                    static_cast<unsigned>(random() % 256));
      text += line;
    }
    write_file(dir.file("in.txt"), text);
    set_program_name("Tubrel");
    ASSERT_EQ(
        convert_register_log(dir.file("in.txt").c_str(), dir.file("out.bin").c_str()),
        kConvertOk);

    RegisterLog from_text;
    RegisterLog from_binary;
    ASSERT_TRUE(
        open_register_log(from_text, dir.file("in.txt").c_str(), LogOpenRules::Player));
    ASSERT_TRUE(open_register_log(from_binary, dir.file("out.bin").c_str(),
                                  LogOpenRules::Player));
    ASSERT_EQ(from_binary.form, LogForm::Binary);
    uint32_t delay[2] = {};
    uint8_t reg[2] = {};
    uint8_t value[2] = {};
    ASSERT_TRUE(from_text.event_reader(nullptr, &reg[0], &value[0]));
    ASSERT_TRUE(from_binary.event_reader(nullptr, &reg[1], &value[1]));
    int count = 1;
    for (;;) {
      EXPECT_EQ(reg[0], reg[1]);
      EXPECT_EQ(value[0], value[1]);
      EXPECT_EQ(delay[0], delay[1]);
      const bool more_text = from_text.event_reader(&delay[0], &reg[0], &value[0]);
      const bool more_binary = from_binary.event_reader(&delay[1], &reg[1], &value[1]);
      ASSERT_EQ(more_text, more_binary);
      if (!more_text) break;
      ++count;
    }
    EXPECT_EQ(count, events);
    from_text.close();
    from_binary.close();
  }
}

}  // namespace
