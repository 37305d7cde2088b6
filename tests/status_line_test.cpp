// The status line at every terminal width, and the plain line per song.
#include "mova/status_line.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

// Whether text is whole UTF-8 sequences (a cut never splits one).
bool whole_utf8(const std::string& text) {
  for (size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    const size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
    if (i + length > text.size()) return false;
    for (size_t k = 1; k < length; ++k)
      if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
    i += length;
  }
  return true;
}

SongStatus song(std::string title, std::string author, uint64_t elapsed, uint64_t total) {
  SongStatus status;
  status.title = std::move(title);
  status.author = std::move(author);
  status.file_name = "tune.ym";
  status.format = "YM5!";
  status.index = 3;
  status.count = 12;
  status.elapsed_us = elapsed;
  status.total_us = total;
  status.looped = true;
  status.loop = 1;
  status.loops = 2;
  return status;
}

TEST(StatusLine, FitsEveryWidth) {
  const SongStatus songs[] = {
      song("Title", "Author", 83000000, 185000000),
      song("\xC3\x9C"
           "ber \xE2\x99\xAB Stra\xC3\x9F"
           "e \xF0\x9F\x8E\xB5 " +
               std::string(60, 'x'),
           "\xD0\x90\xD0\xB2\xD1\x82\xD0\xBE\xD1\x80", 0, 60000000),
      song("", "", 185000000, 185000000),
      song(std::string(300, 'L'), std::string(300, 'A'), 4500000000, 4800000000),
  };
  for (const SongStatus& status : songs) {
    for (int width = 0; width <= 200; ++width) {
      SCOPED_TRACE(testing::Message() << status.title.substr(0, 8) << " at " << width);
      const std::string line = status_line(status, width);
      EXPECT_LE(code_points(line), static_cast<size_t>(std::max(width - 1, 0)));
      EXPECT_TRUE(whole_utf8(line));
      EXPECT_EQ(line.find_first_of("\r\n\x1B"), std::string::npos);
      const size_t open = line.find('[');
      EXPECT_EQ(open != std::string::npos, width >= 40);
      if (width >= 40) {
        // The bar ends the line, filled in proportion to the time played.
        const size_t cells = line.size() - open - 2;
        const auto filled =
            static_cast<size_t>(std::count(line.begin(), line.end(), '#'));
        EXPECT_GE(cells, 1u);
        EXPECT_EQ(filled, status.elapsed_us * cells / status.total_us);
      }
      if (width >= 72) {
        EXPECT_NE(line.find("YM5!"), std::string::npos);
        EXPECT_NE(line.find("loop 1/2"), std::string::npos);
      }
      if (width >= 28) {
        EXPECT_NE(line.find("3/12"), std::string::npos);
        EXPECT_NE(
            line.find(clock_time(status.elapsed_us) + "/" + clock_time(status.total_us)),
            std::string::npos);
      }
      if (width >= 60 && status.title.empty()) {
        EXPECT_NE(line.find("tune.ym"), std::string::npos);
      }
    }
  }
}

TEST(StatusLine, ReadsAsShown) {
  SongStatus paused = song("Title", "Author", 83000000, 185000000);
  paused.paused = true;
  struct Case {
    SongStatus status;
    int width;
    const char* line;
  } cases[] = {
      {song("Title", "Author", 83000000, 185000000), 80,
       "> Title - Author  YM5!  3/12  1:23/3:05  loop 1/2  "
       "[###########---------------]"},
      {paused, 30, "|| Title ...  3/12  1:23/3:05"},
      {song(std::string(50, 'T'), "", 0, 600000000), 50,
       "> TTTTTT...  YM5!  3/12  0:00/10:00  [----------]"},
      {song("Title", "Author", 83000000, 185000000), 20, "> 1:23/3:05"},
  };
  for (const Case& c : cases) EXPECT_EQ(status_line(c.status, c.width), c.line);
  EXPECT_EQ(plain_song_line(song("Title", "Author", 0, 185000000)),
            "3/12  Title - Author  3:05");
  EXPECT_EQ(plain_song_line(song("", "", 0, 4530000000)), "3/12  tune.ym  75:30");
}

}  // namespace
