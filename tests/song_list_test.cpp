// The expansion of play and render arguments into the list of entries.
#include "mova/song_list.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>

#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

// A small collection: songs and logs by content (names that lie about it),
// junk, nested folders and playlists.
void make_tree(const TempDir& dir) {
  fs::create_directories(dir.file("music/b/deep"));
  fs::create_directories(dir.file("lists"));
  write_file(dir.file("music/a.ym"), "YM5!LeOnArD!rest");
  write_file(dir.file("music/notes.txt"), "nothing to play");
  write_file(dir.file("music/b/z.vgm"), "Vgm \x10\x00\x00\x00");
  write_file(dir.file("music/b/log.bin"), "MOVA-BIN\n\x00\x07\x38");
  write_file(dir.file("music/b/deep/song.psg"), "PSG\x1A\x00\x00");
  write_file(dir.file("music/b/deep/crlf.txt"), "MOVA-TXT\r\n0:07:38\r\n");
  write_file(dir.file("music/inside.m3u"), "a.ym\n");
  write_file(dir.file("text.log"), "MOVA-TXT\n0:00:01\n");
  write_file(dir.file("tune.dat"), "\x1F\x8B\x08 gzip");
  write_file(dir.file("lists/all.m3u8"),
             "\xEF\xBB\xBF#EXTM3U\r\n#EXTINF:1,x\r\n  ../music/a.ym  \r\n\r\n"
             "../gone.ym\r\n..\\text.log\r\n../music/b\r\n");
  write_file(dir.file("lists/self.m3u"), "../text.log\nself.m3u\nloop.M3U\n");
  write_file(dir.file("lists/loop.M3U"), "self.m3u\n../tune.dat\n");
}

struct Case {
  const char* name;
  std::vector<std::string> arguments;  // relative to the tree
  std::vector<std::string> entries;    // relative to the tree, with their kind
  std::vector<std::string> problems;   // a piece of each problem line, in order
};

std::string kind_name(EntryKind kind) {
  switch (kind) {
    case EntryKind::Song: return "song";
    case EntryKind::TextLog: return "text";
    case EntryKind::BinaryLog: return "binary";
  }
  return "?";
}

TEST(SongList, ExpandsArgumentsInOrder) {
  TempDir dir;
  make_tree(dir);
  const std::vector<Case> cases = {
      {"files by content",
       {"tune.dat", "text.log", "music/b/log.bin"},
       {"tune.dat song", "text.log text", "music/b/log.bin binary"},
       {}},
      {"folder sorted by path, junk reported, inner playlist left out",
       {"music"},
       {"music/a.ym song", "music/b/deep/crlf.txt text", "music/b/deep/song.psg song",
        "music/b/log.bin binary", "music/b/z.vgm song"},
       {"music/notes.txt: not a song, register log or playlist"}},
      {"missing file and junk named directly",
       {"nope.ym", "music/notes.txt", "text.log"},
       {"text.log text"},
       {"nope.ym: no such file or folder", "notes.txt: not a song"}},
      {"playlist: BOM, comments, CR LF, blanks, missing entry, backslash, folder",
       {"lists/all.m3u8"},
       {"lists/../music/a.ym song", "lists/../text.log text",
        "lists/../music/b/deep/crlf.txt text", "lists/../music/b/deep/song.psg song",
        "lists/../music/b/log.bin binary", "lists/../music/b/z.vgm song"},
       {"gone.ym: no such file or folder (line 5 of"}},
      {"playlists that name themselves and each other end",
       {"lists/self.m3u"},
       {"lists/../text.log text", "lists/../tune.dat song"},
       {"self.m3u: playlist includes itself", "self.m3u: playlist includes itself"}},
      {"a folder named twice adds its songs once",
       {"music/b/deep", "music/b/deep"},
       {"music/b/deep/crlf.txt text", "music/b/deep/song.psg song"},
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> arguments;
    for (const std::string& argument : c.arguments)
      arguments.push_back(dir.file(argument));
    const SongList list = expand_song_arguments(arguments);
    std::vector<std::string> entries;
    for (const ListEntry& entry : list.entries)
      entries.push_back(
          fs::path(entry.path).lexically_relative(dir.path()).generic_string() + " " +
          kind_name(entry.kind));
    std::vector<std::string> expected;
    for (const std::string& entry : c.entries)
      expected.push_back(fs::path(entry).lexically_normal().generic_string());
    for (std::string& entry : entries) {
      const size_t space = entry.rfind(' ');
      entry = fs::path(entry.substr(0, space)).lexically_normal().generic_string() +
              entry.substr(space);
    }
    EXPECT_EQ(entries, expected);
    ASSERT_EQ(list.problems.size(), c.problems.size());
    for (size_t i = 0; i < c.problems.size(); ++i) {
      // Windows names a folder's files with its own separator.
      std::string problem = list.problems[i];
      std::replace(problem.begin(), problem.end(), '\\', '/');
      EXPECT_NE(problem.find(c.problems[i]), std::string::npos) << problem;
    }
  }
}

#ifndef _WIN32
TEST(SongList, FolderReachedThroughALinkIsSearchedOnce) {
  TempDir dir;
  make_tree(dir);
  // A link back up the tree would lead round for ever.
  fs::create_directory_symlink("..", dir.file("music/b/up"));
  const SongList list = expand_song_arguments({dir.file("music")});
  EXPECT_EQ(list.entries.size(), 5u);
  EXPECT_EQ(list.problems.size(), 1u);
}
#endif

TEST(SongList, ShuffleIsAPermutationFixedBySeed) {
  std::vector<ListEntry> entries;
  for (int i = 0; i < 50; ++i) entries.push_back({std::to_string(i), EntryKind::Song});
  auto shuffled = [&](uint64_t seed) {
    std::vector<ListEntry> copy = entries;
    shuffle_entries(copy, seed);
    std::vector<std::string> paths;
    for (const ListEntry& entry : copy) paths.push_back(entry.path);
    return paths;
  };
  const std::vector<std::string> first = shuffled(7);
  EXPECT_EQ(first, shuffled(7));
  EXPECT_NE(first, shuffled(8));
  std::vector<std::string> sorted = first;
  std::sort(sorted.begin(), sorted.end());
  std::vector<std::string> original;
  for (const ListEntry& entry : entries) original.push_back(entry.path);
  std::sort(original.begin(), original.end());
  EXPECT_EQ(sorted, original);
  // The order of a small list for seed 1, from the documented algorithm: the
  // same on every platform and with every standard library.
  std::vector<ListEntry> five;
  for (const char* name : {"a", "b", "c", "d", "e"})
    five.push_back({name, EntryKind::Song});
  shuffle_entries(five, 1);
  std::string order;
  for (const ListEntry& entry : five) order += entry.path;
  EXPECT_EQ(order, "beacd");
}

}  // namespace
