#include "common/register_log.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "common/messages.h"
#include "tests/support/logs.h"
#include "tests/support/temp_dir.h"

namespace {

using Event = LogEvent;

class RegisterLogFile : public testing::Test {
 protected:
  // Opens a log holding bytes with the player's rules; returns whether it
  // opened and what was logged.
  bool open(const std::string& bytes, LogOpenRules rules = LogOpenRules::Player) {
    write_file(dir_.file("log"), bytes);
    set_program_name("Zarnik");
    testing::internal::CaptureStderr();
    const bool ok = open_register_log(log_, path().c_str(), rules);
    err_ = testing::internal::GetCapturedStderr();
    return ok;
  }
  std::string path() const { return dir_.file("log"); }

  std::vector<Event> events() { return read_all_events(log_); }

  void TearDown() override { log_.close(); }

  TempDir dir_;
  RegisterLog log_;
  std::string err_;
};

TEST_F(RegisterLogFile, RecognisesOnlyTheExactMagicLines) {
  EXPECT_TRUE(open(kTextHeader));
  EXPECT_EQ(log_.form, LogForm::Text);
  log_.close();
  EXPECT_TRUE(open(kBinaryHeader));
  EXPECT_EQ(log_.form, LogForm::Binary);
  log_.close();
  EXPECT_TRUE(open("MOVA-TXT\r\n0:07:38\r\n"));
  log_.close();
  for (const char* bad : {"", "MOVA-TXT", "MOVA-TXTx\n", "MOVA-TXT \n", "MOVA-TX\n",
                          "mova-txt\n", "MOVA-BIN"}) {
    EXPECT_FALSE(open(bad)) << bad;
    EXPECT_EQ(err_, "Zarnik: Unknown format [" + path() + "]\n");
    EXPECT_EQ(log_.stream, nullptr);
  }
}

TEST_F(RegisterLogFile, TheConverterRefusesBinaryLogs) {
  EXPECT_FALSE(
      open(kBinaryHeader + std::string("\x00\x07\x38", 3), LogOpenRules::Converter));
  EXPECT_EQ(err_, "Zarnik: Unknown format [" + path() + "]\n");
}

TEST_F(RegisterLogFile, MissingFilesAndFoldersCannotBeOpened) {
  set_program_name("Zarnik");
  testing::internal::CaptureStderr();
  EXPECT_FALSE(open_register_log(log_, dir_.file("none").c_str(), LogOpenRules::Player));
  EXPECT_FALSE(open_register_log(log_, dir_.path().c_str(), LogOpenRules::Player));
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Zarnik: Can't open [" + dir_.file("none") + "]\nZarnik: Can't open [" +
                dir_.path() + "]\n");
}

TEST_F(RegisterLogFile, TextDelaysAreDifferencesBetweenSuccessiveLines) {
  ASSERT_TRUE(open(kTextHeader + "1000:07:38\n1500:08:0F\n1500:00:FE\n500:01:01\n"));
  EXPECT_EQ(events(),
            (std::vector<Event>{
                {0, 7, 0x38}, {500, 8, 0x0F}, {0, 0, 0xFE}, {4294966296u, 1, 1}}));
}

TEST_F(RegisterLogFile, ThePositionIsWhereTheNextEventStarts) {
  // Each form's events, as the bytes of each.
  const std::vector<std::string> forms[] = {
      {kTextHeader, "1000:07:38\n", "1500:08:0F\r\n", "2000:00:FE\n"},
      {kBinaryHeader, std::string("\x00\x07\x38", 3),
       std::string("\x81\x00\x08\x0F", 4)}};
  for (const std::vector<std::string>& form : forms) {
    std::string log;
    for (const std::string& piece : form) log += piece;
    ASSERT_TRUE(open(log));
    long expected = kMagicLength;
    uint8_t reg = 0;
    uint8_t value = 0;
    for (size_t i = 1; log_.event_reader(nullptr, &reg, &value); ++i) {
      expected += static_cast<long>(form[i].size());
      EXPECT_EQ(log_.position(), expected) << form[0] << i;
    }
    log_.close();
  }
}

TEST_F(RegisterLogFile, TimeFieldsReadLikeAtol) {
  ASSERT_TRUE(open(kTextHeader +
                   "0:00:00\n  1500:01:01\n+1500:02:02\n1500abc:03:03\n:04:04\n"
                   "-20:05:05\n"));
  EXPECT_EQ(events(), (std::vector<Event>{{0, 0, 0},
                                          {1500, 1, 1},
                                          {0, 2, 2},
                                          {0, 3, 3},
                                          {static_cast<uint32_t>(-1500), 4, 4},
                                          {static_cast<uint32_t>(-20), 5, 5}}));
}

TEST(TimeField, KeepsLongDigitStringsModulo32Bits) {
  EXPECT_EQ(parse_time_field("2147483647"), 2147483647);
  EXPECT_EQ(parse_time_field("2147483648"), INT32_MIN);
  EXPECT_EQ(parse_time_field("4294967296"), 0);
  EXPECT_EQ(parse_time_field("-1"), -1);
  // (10^32 - 1) modulo 2^32, worked out by hand.
  EXPECT_EQ(parse_time_field("99999999999999999999999999999999"), -1);
  EXPECT_EQ(parse_time_field(""), 0);
  EXPECT_EQ(parse_time_field("+-5"), 0);
}

TEST_F(RegisterLogFile, ALineThatDoesNotParseEndsTheLog) {
  const std::string bad_lines[] = {
      "0:7:38\n", "0:007:38\n",  "0: 07:38\n", "0:0x7:38\n", "0:07:3F \n",    "0:07\n",
      "\n",       "# comment\n", "0:07:3G\n",  "0:07:\n",    "0:07:3F\r\r\n",
  };
  for (const std::string& bad : bad_lines) {
    ASSERT_TRUE(open(kTextHeader + "0:07:38\n" + bad + "5:08:0F\n"));
    EXPECT_EQ(events(), (std::vector<Event>{{0, 7, 0x38}})) << bad;
    log_.close();
  }
}

TEST_F(RegisterLogFile, HexFieldsTakeEitherCaseAndTheLastLineNeedsNoLineEnd) {
  ASSERT_TRUE(open(kTextHeader + "0:0a:3f\n100:0A:3F"));
  EXPECT_EQ(events(), (std::vector<Event>{{0, 10, 0x3F}, {100, 10, 0x3F}}));
}

TEST_F(RegisterLogFile, LinesLongerThan127CharactersAreSplit) {
  // 127 characters with the line end read as one line.
  const std::string exact = std::string(118, ' ') + "10:01:02\n";
  ASSERT_EQ(exact.size(), 127u);
  ASSERT_TRUE(open(kTextHeader + "0:00:00\n" + exact + "20:03:04\n"));
  EXPECT_EQ(events(), (std::vector<Event>{{0, 0, 0}, {10, 1, 2}, {10, 3, 4}}));
  log_.close();
  // One more character pushes the line end into a line of its own: the first
  // 127 characters still parse, and the lone line end, with no colon, ends
  // the log before the last line.
  ASSERT_TRUE(open(kTextHeader + "0:00:00\n" + " " + exact + "20:03:04\n"));
  EXPECT_EQ(events(), (std::vector<Event>{{0, 0, 0}, {10, 1, 2}}));
  log_.close();
  // CR LF counts as one character: a 127-character line ending in CR LF.
  const std::string crlf = std::string(118, ' ') + "10:01:02\r\n";
  ASSERT_TRUE(open(kTextHeader + "0:00:00\n" + crlf + "20:03:04\n"));
  EXPECT_EQ(events(), (std::vector<Event>{{0, 0, 0}, {10, 1, 2}, {10, 3, 4}}));
}

TEST_F(RegisterLogFile, ALoneCarriageReturnIsAnOrdinaryCharacter) {
  ASSERT_TRUE(open(kTextHeader + "0:00:00\r5:01:01\n"));
  EXPECT_EQ(events(), std::vector<Event>{});
}

TEST_F(RegisterLogFile, BinaryRecordsCarryBase128Delays) {
  ASSERT_TRUE(open(kBinaryHeader + std::string("\x05\x07\x38"          // delay dropped
                                               "\x81\x00\x08\x0F"      // 128
                                               "\x82\x2C\x01\x02"      // 300
                                               "\xFF\x7F\x01\x02"      // 16383
                                               "\x81\x80\x00\x01\x02"  // 16384
                                               "\xFF\xFF\xFF\x7F\x01\x02"
                                               "\x80\x80\x80\x00\xFF\xFE",
                                               32)));
  EXPECT_EQ(events(), (std::vector<Event>{{0, 7, 0x38},
                                          {128, 8, 0x0F},
                                          {300, 1, 2},
                                          {16383, 1, 2},
                                          {16384, 1, 2},
                                          {268435455, 1, 2},
                                          {0, 0xFF, 0xFE}}));
}

TEST_F(RegisterLogFile, ABinaryRecordThatIsCutShortOrTooLongEndsTheLog) {
  for (const std::string& tail : {std::string("\x00\x08", 2), std::string("\x80", 1),
                                  std::string("\x80\x80\x80\x80\x00\x01\x02", 7)}) {
    ASSERT_TRUE(open(kBinaryHeader + std::string("\x00\x07\x38", 3) + tail));
    EXPECT_EQ(events(), (std::vector<Event>{{0, 7, 0x38}}));
    log_.close();
  }
}

TEST_F(RegisterLogFile, ABinaryMagicEndingInCrLfLeavesItsLfToTheRecords) {
  // Read as a Windows text stream the first line matches; the records then
  // start after the ninth raw byte, the CR.
  ASSERT_TRUE(open(std::string("MOVA-BIN\r\n\x07\x38", 12)));
  EXPECT_EQ(events(), (std::vector<Event>{{0, 7, 0x38}}));
}

TEST(HexByte, AcceptsTwoDigitsAndAnOptionalLineEnd) {
  uint8_t value = 0;
  EXPECT_TRUE(parse_hex_byte("3f", &value));
  EXPECT_EQ(value, 0x3F);
  EXPECT_TRUE(parse_hex_byte("A0\n", &value));
  EXPECT_EQ(value, 0xA0);
  EXPECT_TRUE(parse_hex_byte("00", &value));
  EXPECT_EQ(value, 0);
  for (const char* bad : {"", "7", "007", "3F ", "3F\n\n", "3F\r\n", " 3F", "g0", "0x",
                          "\xC3\xA9", "3F\nx"}) {
    EXPECT_FALSE(parse_hex_byte(bad, &value)) << bad;
  }
}

// Lines of random bytes, biased towards the ones that matter to cutting and
// parsing lines, some of them longer than a line may be.
std::string random_text(std::mt19937& random, size_t size) {
  static const char kBytes[] = "0123456789:aF:\n\n\r\r +-x";
  std::string text;
  while (text.size() < size) {
    const uint32_t pick = random() % 200;
    if (pick == 0) {
      text += std::string(120 + random() % 20, '1');
    } else if (pick < 40) {
      // A line as logs are written, some with a time too long for a line.
      const size_t digits = random() % 16 == 0 ? 118 + random() % 4 : 1 + random() % 10;
      for (size_t i = 0; i < digits; ++i) text += static_cast<char>('0' + random() % 10);
      text += ":0" + std::string(1, "7aF"[random() % 3]) + ":" +
              std::to_string(10 + random() % 90) + "\n";
    } else if (pick < 44) {
      text += '\0';
    } else {
      text += kBytes[random() % (sizeof kBytes - 1)];
    }
  }
  return text;
}

// One random text log of several blocks of read-ahead, so that lines and CR
// LF pairs straddle them, open twice: to be read byte by byte and read ahead.
struct RandomLogTwice {
  explicit RandomLogTwice(uint32_t seed) {
    std::mt19937 random(seed);
    write_file(dir.file("log"), random_text(random, 70000));
    bytewise = std::fopen(dir.file("log").c_str(), "rb");
    ahead_stream = std::fopen(dir.file("log").c_str(), "rb");
  }
  ~RandomLogTwice() {
    if (bytewise != nullptr) std::fclose(bytewise);
    if (ahead_stream != nullptr) std::fclose(ahead_stream);
  }
  TempDir dir;
  FILE* bytewise = nullptr;
  FILE* ahead_stream = nullptr;
  TextReadAhead ahead;
};

TEST(TextLines, ReadAheadCutsTheSameLinesAsTheStream) {
  RandomLogTwice log(7);
  ASSERT_TRUE(log.bytewise != nullptr && log.ahead_stream != nullptr);
  for (int line_number = 0;; ++line_number) {
    const int max_chars = line_number % 5 == 0 ? 9 : kMaxTextLine;
    char expected[kMaxTextLine + 1];
    char got[kMaxTextLine + 1];
    const int expected_length = read_log_line(log.bytewise, expected, max_chars);
    const int length = log.ahead.read_line(log.ahead_stream, got, max_chars);
    ASSERT_EQ(length, expected_length) << "line " << line_number;
    ASSERT_EQ(std::string(got, static_cast<size_t>(length) + 1),
              std::string(expected, static_cast<size_t>(length) + 1))
        << "line " << line_number;
    if (length == 0) break;
  }
}

TEST(TextLines, ReadAheadReadsTheSameEventsAsTheStream) {
  RandomLogTwice log(5);
  ASSERT_TRUE(log.bytewise != nullptr && log.ahead_stream != nullptr);
  int32_t times[2] = {};
  for (int event = 0; !std::feof(log.bytewise); ++event) {
    uint32_t delays[2] = {};
    uint8_t regs[2] = {};
    uint8_t values[2] = {};
    const bool expected = read_text_event(log.bytewise, times[0], &delays[0], &regs[0],
                                          &values[0], nullptr);
    const bool got = read_text_event(log.ahead_stream, times[1], &delays[1], &regs[1],
                                     &values[1], &log.ahead);
    ASSERT_EQ(got, expected) << "event " << event;
    ASSERT_EQ(times[1], times[0]) << "event " << event;
    ASSERT_EQ(delays[1], delays[0]) << "event " << event;
    if (expected) {
      ASSERT_EQ(regs[1], regs[0]) << "event " << event;
      ASSERT_EQ(values[1], values[0]) << "event " << event;
    }
  }
}

TEST(TextLines, PlainLinesParseAsTheRulesParseThem) {
  std::mt19937 random(11);
  static const char kBytes[] = "0123456789:aAfF:g \n+-";
  for (int i = 0; i < 200000; ++i) {
    // Mostly lines as logs are written, with one byte changed or cut off.
    std::string line = std::to_string(random() % 100000000) + ":" + "0a:F" +
                       std::to_string(random() % 10) + "\n";
    if (random() % 4 != 0) line[random() % line.size()] = kBytes[random() % 21];
    if (random() % 8 == 0) line.resize(random() % line.size());
    if (random() % 8 == 0) line += kBytes[random() % 21];
    char fast[kMaxTextLine + 1];
    char rules[kMaxTextLine + 1];
    std::snprintf(fast, sizeof fast, "%s", line.c_str());
    std::snprintf(rules, sizeof rules, "%s", line.c_str());
    int32_t times[2] = {-1, -1};
    bool have_times[2] = {};
    uint8_t regs[2] = {};
    uint8_t values[2] = {};
    const TextLineStatus status =
        parse_text_line(fast, &times[0], &have_times[0], &regs[0], &values[0]);
    const TextLineStatus expected =
        parse_text_line_by_rules(rules, &times[1], &have_times[1], &regs[1], &values[1]);
    ASSERT_EQ(status, expected) << line;
    ASSERT_EQ(have_times[0], have_times[1]) << line;
    if (have_times[1]) {
      ASSERT_EQ(times[0], times[1]) << line;
    }
    if (expected == TextLineStatus::Ok) {
      ASSERT_EQ(regs[0], regs[1]) << line;
      ASSERT_EQ(values[0], values[1]) << line;
    }
    ASSERT_EQ(std::memcmp(fast, rules, line.size() + 1), 0) << line;
  }
}

}  // namespace
