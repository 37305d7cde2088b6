// The platform's answers about files: the rules that keep a failed render
// from deleting what it did not create, and a conversion or render from
// truncating its own input.
#include "common/files.h"

#include <gtest/gtest.h>

#include <filesystem>

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

}  // namespace
