// The platform's answers about files: the rules that keep a failed render
// from deleting what it did not create, and a conversion or render from
// truncating its own input.
#include "common/files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <vector>

#include "common/output_file.h"
#include "tests/support/temp_dir.h"

namespace {

#if defined(_WIN32)
constexpr const char* kNullDevice = "NUL";
#else
constexpr const char* kNullDevice = "/dev/null";
#endif

TEST(Files, OnlyAnExistingPlainFileIsRegular) {
  TempDir dir;
  write_file(dir.file("song.wav"), "RIFF");
  EXPECT_TRUE(is_regular_file(dir.file("song.wav").c_str()));
  EXPECT_FALSE(is_regular_file(dir.path().c_str()));
  EXPECT_FALSE(is_regular_file(dir.file("missing.wav").c_str()));
  EXPECT_FALSE(is_regular_file(kNullDevice));
}

TEST(Files, EveryNameOfOneFileIsTheSameFile) {
  TempDir dir;
  write_file(dir.file("song.txt"), "MOVA-TXT\n");
  write_file(dir.file("other.txt"), "MOVA-TXT\n");
  const std::string song = dir.file("song.txt");
  EXPECT_TRUE(same_file(song.c_str(), song.c_str()));
  EXPECT_TRUE(same_file(song.c_str(), (dir.path() + "/./song.txt").c_str()));
  std::filesystem::create_hard_link(song, dir.file("hard.txt"));
  EXPECT_TRUE(same_file(song.c_str(), dir.file("hard.txt").c_str()));
  // Equal contents do not make one file, and a missing output is never the log.
  EXPECT_FALSE(same_file(song.c_str(), dir.file("other.txt").c_str()));
  EXPECT_FALSE(same_file(song.c_str(), dir.file("missing.txt").c_str()));
  EXPECT_FALSE(
      same_file(dir.file("missing.txt").c_str(), dir.file("missing.txt").c_str()));
}

TEST(Files, DeletingRemovesTheFileAndReportsAMissingOne) {
  TempDir dir;
  write_file(dir.file("out.wav"), "RIFF");
  EXPECT_TRUE(delete_file(dir.file("out.wav").c_str()));
  EXPECT_FALSE(file_exists(dir.file("out.wav")));
  EXPECT_FALSE(delete_file(dir.file("out.wav").c_str()));
}

TEST(Files, AStreamOnAFileIsNoDirectory) {
  TempDir dir;
  write_file(dir.file("song.txt"), "MOVA-TXT\n");
  FILE* file = std::fopen(dir.file("song.txt").c_str(), "rb");
  ASSERT_NE(file, nullptr);
  EXPECT_FALSE(stream_is_directory(file));
  std::fclose(file);
  // Where the C library opens directories at all, the answer must be yes.
  FILE* folder = std::fopen(dir.path().c_str(), "rb");
  if (folder != nullptr) {
    EXPECT_TRUE(stream_is_directory(folder));
    std::fclose(folder);
  }
}

// The renderer's files gather writes instead of copying them: whatever the
// mix of sizes, flushes and seeks, the file must come out byte for byte as
// plain buffered writes make it.
TEST(Files, GatheredWritesMakeTheSameFileAsBufferedOnes) {
  TempDir dir;
  std::mt19937 random(12);
  std::vector<unsigned char> bytes(1 << 16);
  for (auto& byte : bytes) byte = static_cast<unsigned char>(random());
  for (int round = 0; round < 20; ++round) {
    const std::string plain_path = dir.file("plain.wav");
    const std::string gathered_path = dir.file("gathered.wav");
    OutputFiles& gathered = wav_output_files();
    FILE* plain = stdio_output_files().open(plain_path.c_str());
    FILE* file = gathered.open(gathered_path.c_str());
    ASSERT_TRUE(plain != nullptr && file != nullptr);
    long end = 0;
    for (int step = 0; step < 60; ++step) {
      // Small writes are copied, large ones noted until the next flush; up
      // to 40 between flushes overflow both the pieces and the copies.
      const size_t size = random() % 2 == 0 ? random() % 600 : random() % 7000;
      const size_t from = random() % (bytes.size() - size);
      EXPECT_EQ(stdio_output_files().write(plain, &bytes[from], size), size);
      EXPECT_EQ(gathered.write(file, &bytes[from], size), size);
      end += static_cast<long>(size);
      if (random() % 40 == 0) {
        EXPECT_TRUE(gathered.flush(file));
      }
      if (random() % 25 == 0 && end > 0) {
        const long offset = static_cast<long>(random() % static_cast<unsigned>(end));
        EXPECT_TRUE(stdio_output_files().seek(plain, offset));
        EXPECT_TRUE(gathered.seek(file, offset));
        end = offset;
      }
    }
    EXPECT_TRUE(stdio_output_files().close(plain));
    EXPECT_TRUE(gathered.close(file));
    EXPECT_EQ(read_file(gathered_path), read_file(plain_path)) << "round " << round;
  }
}

}  // namespace
