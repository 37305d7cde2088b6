// mova play -o and mova render as a user runs them: the pipe's stream
// against the file, one worker against two, bad entries in folders and
// playlists, and the length that loops and fade give a rendered song.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "tests/support/logs.h"
#include "tests/support/process.h"
#include "tests/support/program_test.h"
#include "tests/support/song_writers.h"
#include "tests/support/temp_dir.h"

namespace {

class Listen : public ProgramTest {
 protected:
  Listen() : ProgramTest(MOVA_EXE) {}

  void put(const std::string& name, const std::string& bytes) {
    std::filesystem::create_directories(
        std::filesystem::path(dir_.file(name)).parent_path());
    write_file(dir_.file(name), bytes);
  }
  // What `mova play NAME -o` writes for the song, with options before it.
  std::string played(const std::string& name, std::vector<std::string> options = {}) {
    options.insert(options.begin(), {"play", name});
    options.insert(options.end(), {"-o", "played.wav"});
    const ProcessResult r = run(options);
    EXPECT_EQ(r.exit_code, 0) << name << ": " << r.err;
    return read_file(dir_.file("played.wav"));
  }
};

// A YM5! song at `rate` Hz of random tones, looping from `loop`.
std::string ym_song(int frames, uint32_t loop, uint16_t rate = 50, unsigned seed = 1) {
  std::mt19937 random(seed);
  std::vector<YmFrame> data(static_cast<size_t>(frames));
  for (YmFrame& frame : data) {
    for (uint8_t& value : frame) value = static_cast<uint8_t>(random() & 0x0F);
    frame[7] = 0x38;
    frame[13] = 0xFF;
  }
  const Bytes file = ym_file(ym_recipe("YM5!", true, rate, loop), data);
  return {file.begin(), file.end()};
}

std::string psg_song(int frames, uint8_t seed) {
  std::string song = "PSG\x1A" + std::string(12, '\0');
  for (int i = 0; i < frames; ++i) {
    const char frame[] = {0, static_cast<char>(seed + i * 5), 7, 0x3E, 8, 12, '\xFF'};
    song.append(frame, sizeof frame);
  }
  return song + "\xFD";
}

#ifndef _WIN32
// (On Windows the test's reader folds CR LF in what a program prints.)
uint32_t le32(const std::string& bytes, size_t at) {
  uint32_t value = 0;
  for (int i = 3; i >= 0; --i)
    value = value << 8 | static_cast<uint8_t>(bytes[at + static_cast<size_t>(i)]);
  return value;
}

TEST_F(Listen, ThePipeCarriesTheFilesSamplesUnderSizesToTheEnd) {
  const Bytes vgz = gzip(vgm_file({0xA0, 8, 15, 0xA0, 0, 40, 0x61, 0x44, 0xAC, 0x66}));
  const std::vector<std::pair<std::string, std::string>> songs = {
      {"song.psg", psg_song(120, 3)},
      {"looped.ym", ym_song(90, 30, 60)},
      {"song.vgz", std::string(vgz.begin(), vgz.end())},
      {"log.txt", kTextHeader + "0:07:38\n0:08:0F\n700000:00:20\n900000:08:00\n"},
  };
  for (const auto& [name, bytes] : songs) {
    put(name, bytes);
    const std::string file = played(name);
    const ProcessResult pipe = run({"play", name, "-o", "-"});
    ASSERT_EQ(pipe.exit_code, 0) << name << ": " << pipe.err;
    ASSERT_GT(file.size(), 44u) << name;
    ASSERT_EQ(pipe.out.size(), file.size()) << name;
    EXPECT_EQ(le32(file, 4), file.size() - 8) << name;
    EXPECT_EQ(le32(file, 40), file.size() - 44) << name;
    EXPECT_EQ(le32(pipe.out, 4), 0xFFFFFFFFu) << name;
    EXPECT_EQ(le32(pipe.out, 40), 0xFFFFFFFFu) << name;
    EXPECT_EQ(pipe.out.substr(8, 32), file.substr(8, 32)) << name;
    EXPECT_EQ(pipe.out.substr(0, 4), "RIFF") << name;
    EXPECT_TRUE(pipe.out.compare(44, std::string::npos, file, 44) == 0) << name;
  }
}
#endif

TEST_F(Listen, OneWorkerAndTwoRenderTheSameFilesUnderDistinctNames) {
  // Two songs called song.psg, a song in a deeper folder, a log.
  put("in/a/song.psg", psg_song(150, 1));
  put("in/b/song.psg", psg_song(110, 9));
  put("in/b/c/tune.ym", ym_song(100, 20));
  put("in/log.txt", kTextHeader + "0:07:38\n0:08:0F\n1500000:08:00\n");
  std::vector<std::string> expected = {played("in/a/song.psg"), played("in/b/song.psg"),
                                       played("in/b/c/tune.ym"), played("in/log.txt")};
  std::sort(expected.begin(), expected.end());
  for (const char* jobs : {"1", "2"}) {
    const ProcessResult r =
        run({"render", "in", "-d", std::string("out") + jobs, "-j", jobs});
    EXPECT_EQ(r.exit_code, 0) << r.err;
  }
  const std::vector<std::string> names = list_folder(dir_.file("out1"));
  ASSERT_EQ(names.size(), 4u);
  EXPECT_EQ(list_folder(dir_.file("out2")), names);
  std::vector<std::string> rendered;
  for (const std::string& name : names) {
    rendered.push_back(read_file(dir_.file("out1/" + name)));
    EXPECT_EQ(read_file(dir_.file("out2/" + name)), rendered.back()) << name;
  }
  std::sort(rendered.begin(), rendered.end());
  EXPECT_EQ(rendered, expected) << "a file lost, or written over by its namesake";
}

TEST_F(Listen, ABadEntryCostsOneLineAndItsCodeWhileTheRestRenders) {
  put("good/one.psg", psg_song(60, 1));
  put("good/two.ym", ym_song(60, 60));
  put("noted/one.psg", psg_song(60, 2));
  put("noted/notes.txt", "not a song\n");
  put("cut/one.psg", psg_song(60, 3));
  put("cut/cut.psg", "PSG\x1A");
  put("lists/clean.m3u",
      "\xEF\xBB\xBF# songs\r\n../good/one.psg\r\n\r\n  ../good/two.ym  \n");
  put("lists/missing.m3u", "#EXTM3U\n../good/one.psg\ngone.psg\n");
  put("lists/self.m3u", "self.m3u\n../good/two.ym\n");
  struct Case {
    std::string input;
    int code;
    size_t rendered;
    std::string problem;  // in the one line on the standard error; empty: no line
  };
  const Case cases[] = {
      {"good", 0, 2, ""},
      {"noted", 2, 1, "notes.txt: not a song"},
      {"cut", 9, 1, "cut.psg: "},
      {"lists/clean.m3u", 0, 2, ""},
      {"lists/missing.m3u", 2, 1, "gone.psg: no such file"},
      {"lists/self.m3u", 2, 1, "self.m3u: playlist includes itself"},
  };
  int n = 0;
  for (const Case& c : cases) {
    const std::string out = "out" + std::to_string(++n);
    const ProcessResult r = run({"render", c.input, "-d", out, "-j", "1"});
    EXPECT_EQ(r.exit_code, c.code) << c.input << ": " << r.err;
    EXPECT_EQ(list_folder(dir_.file(out)).size(), c.rendered) << c.input;
    if (c.problem.empty()) {
      EXPECT_EQ(r.err, "") << c.input;
    } else {
      EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1)
          << c.input << ": " << r.err;
      EXPECT_EQ(r.err.rfind("mova: ", 0), 0u) << r.err;
      EXPECT_NE(r.err.find(c.problem), std::string::npos) << c.input << ": " << r.err;
    }
  }
}

TEST_F(Listen, ARenderedSongLastsItsLoopsAndFade) {
  // F = 100 frames at 50 Hz looping from L = 40: (F + (F - L) * (N - 1)) * 20
  // ms, then the fade. Without a loop point a song plays once, unfaded.
  put("looped.ym", ym_song(100, 40));
  put("once.ym", ym_song(100, 100));
  // A tracker module loops from its loop position: 3,840 frames from 1,920.
  const std::string module = read_file(SHARED_DIR "/pt3/luchibobra_if_u_want.pt3");
  struct Case {
    std::string song;
    int loops;
    std::string fade;
    uint64_t us;
  };
  const Case cases[] = {
      {"looped.ym", 1, "0", 2000000},   {"looped.ym", 2, "0", 3200000},
      {"looped.ym", 3, "0", 4400000},   {"looped.ym", 1, "2", 4000000},
      {"looped.ym", 4, "1.5", 7100000}, {"looped.ym", 2, "0.25", 3450000},
      {"once.ym", 3, "8", 2000000},     {"zx.pt3", 2, "0", 115200000},
  };
  if (!module.empty()) put("zx.pt3", module);
  for (const Case& c : cases) {
    if (c.song == "zx.pt3" && module.empty()) continue;  // no shared test data
    const std::string wav =
        played(c.song, {"--loops", std::to_string(c.loops), "--fade", c.fade});
    ASSERT_GT(wav.size(), 44u);
    const uint64_t frames = (wav.size() - 44) / 4;
    EXPECT_EQ(frames, c.us * 44100 / 1000000)
        << c.song << " --loops " << c.loops << " --fade " << c.fade;
  }
}

}  // namespace
