// The binary record encoder, and text logs read back after conversion.
#include "converter/converter.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "common/messages.h"
#include "common/register_log.h"
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
