// The log writers against the readers: a log written from timed writes reads
// back as the in-memory form delivers them, in both forms.
#include "common/log_writer.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "tests/support/logs.h"
#include "tests/support/temp_dir.h"

namespace {

using Event = LogEvent;

// Writes that start anywhere in 64 bits of time, with pauses of 0, short
// ones and ones up to the largest each form carries.
std::vector<TimedWrite> random_writes(uint32_t seed, uint64_t longest_pause) {
  std::mt19937_64 random(seed);
  std::vector<TimedWrite> writes;
  uint64_t time = random() >> (random() % 64);
  for (int i = 0; i < 200; ++i) {
    const uint64_t pick = random() % 10;
    time += pick < 3 ? 0 : pick < 8 ? random() % 5000 : longest_pause - random() % 2;
    writes.push_back(
        {time, static_cast<uint8_t>(random()), static_cast<uint8_t>(random())});
  }
  return writes;
}

TEST(LogWriter, WrittenLogsReadBackAsTheWritesInMemory) {
  TempDir dir;
  for (const LogForm form : {LogForm::Text, LogForm::Binary}) {
    for (uint32_t seed = 1; seed <= 20; ++seed) {
      const std::vector<TimedWrite> writes =
          random_writes(seed, form == LogForm::Text ? UINT32_MAX : kMaxBinaryDelay);
      ASSERT_EQ(first_unwritable_write(writes, form), writes.size());
      const std::string path = dir.file("log");
      FILE* file = std::fopen(path.c_str(), "wb");
      ASSERT_TRUE(write_log(writes, form, file));
      std::fclose(file);

      RegisterLog from_file;
      ASSERT_TRUE(open_register_log(from_file, path.c_str(), LogOpenRules::Player));
      TimedWriteSource in_memory(writes);
      EXPECT_EQ(read_all_events(from_file), read_all_events(in_memory))
          << "seed " << seed;
      from_file.close();
    }
  }
}

TEST(LogWriter, RefusesPausesTheFormCannotCarry) {
  struct Case {
    std::vector<uint64_t> times;
    size_t text;    // the first write the text form cannot carry
    size_t binary;  // and the binary form
  };
  const Case cases[] = {
      {{0, 5, 5, 268435460}, 4, 4},
      {{7, 268435463, 268435464}, 3, 1},
      {{1ull << 40, (1ull << 40) + UINT32_MAX, (1ull << 40) + (1ull << 32) + UINT32_MAX},
       2,
       1},
      {{100, 99}, 1, 1},
      {{}, 0, 0},
  };
  for (const Case& c : cases) {
    std::vector<TimedWrite> writes;
    for (const uint64_t time : c.times) writes.push_back({time, 7, 0x38});
    EXPECT_EQ(first_unwritable_write(writes, LogForm::Text), c.text);
    EXPECT_EQ(first_unwritable_write(writes, LogForm::Binary), c.binary);
  }
}

}  // namespace
