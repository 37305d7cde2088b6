// mova run as a user runs it: its commands and exit codes, the round trip
// of dump through tubrel, play against import and zarnik, and check's lint.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "tests/support/logs.h"
#include "tests/support/process.h"
#include "tests/support/program_test.h"
#include "tests/support/song_writers.h"
#include "tests/support/temp_dir.h"

namespace {

class Mova : public ProgramTest {
 protected:
  Mova() : ProgramTest(MOVA_EXE) {}

  // Runs tubrel or zarnik in the test's folder.
  ProcessResult run_other(const std::string& program,
                          const std::vector<std::string>& args) {
    ProcessOptions options = in_dir();
    options.environment.emplace_back("PROMPT", "");
    return run_program(program, args, options);
  }
};

// A PSG song: the 16-byte header, then per frame a few writes and 0xFF; a
// skip of 4 * n frames (0xFE n), and 0xFD at the end.
std::string psg_song(int frames, uint8_t seed) {
  std::string song = "PSG\x1A" + std::string(12, '\0');
  for (int i = 0; i < frames; ++i) {
    const char frame[] = {0,     static_cast<char>(seed + i * 7),
                          1,     static_cast<char>(i & 15),
                          7,     0x38,
                          8,     15,
                          13,    static_cast<char>(i % 16),
                          '\xFF'};
    song.append(frame, sizeof frame);
  }
  return song + std::string("\xFE\x03\x08\x00\xFF\xFD", 6);
}

// A random binary log in the converter's form: the first delay 0, every delay
// in its shortest form, some long enough that the total passes 2^32 us.
std::string random_binary_log(uint32_t seed) {
  std::mt19937 random(seed);
  std::string log = kBinaryHeader;
  const int events = 1 + static_cast<int>(random() % 60);
  for (int i = 0; i < events; ++i) {
    uint32_t delay = random() % 4 == 0 ? 0x0FFFFFFF - random() % 3 : random() % 300000;
    if (i == 0) delay = 0;
    std::string groups(1, static_cast<char>(delay & 0x7F));
    for (delay >>= 7; delay != 0; delay >>= 7) {
      groups.insert(groups.begin(), static_cast<char>(0x80 | (delay & 0x7F)));
    }
    log += groups + static_cast<char>(random() % 20) + static_cast<char>(random());
  }
  return log;
}

TEST_F(Mova, CommandsAnswerWithTheirExitCodes) {
  write_file(dir_.file("song.psg"), psg_song(10, 1));
  write_file(dir_.file("cut.psg"), "PSG\x1A");
  write_file(dir_.file("song.txt"), kTextHeader + "0:07:38\n");
  write_file(dir_.file("notes.md"), "# not a log\n");
  struct Case {
    std::vector<std::string> args;
    int exit_code;
    std::string out;  // a part of the standard output
    std::string err;  // a part of the standard error
  };
  const Case cases[] = {
      {{"--version"}, 0, "mova 1.", ""},
      {{"--help"}, 0, "mova check LOG...", ""},
      {{"dump", "--help"}, 0, "usage: mova dump LOG.bin [-o OUT]", ""},
      {{"frobnicate"}, 64, "", "unknown command 'frobnicate'"},
      {{"import"}, 64, "", "usage: mova import SONG"},
      {{"import", "song.psg", "--binary", "--fast"}, 64, "", "unknown option --fast"},
      {{"import", "song.psg", "--clock", "fast"}, 64, "", "the clock must be"},
      {{"dump", "a.bin", "b.bin"}, 64, "", "only one file allowed: b.bin"},
      {{"play", "song.psg", "-o", "-"}, 64, "", "standard output"},
      {{"import", "missing.ym"}, 2, "", "mova: missing.ym: can't open"},
      {{"import", "notes.md"}, 2, "", "mova: notes.md: not a song file"},
      {{"import", "cut.psg"}, 9, "", "mova: cut.psg: "},
      {{"import", "song.psg", "--second-chip"}, 9, "", "not a TurboSound file"},
      {{"play", "song.psg", "--second-chip"}, 64, "", "unknown option --second-chip"},
      {{"import", "song.psg", "-o", "song.psg"}, 3, "", "not written over"},
      {{"import", "song.psg", "-o", "no/such/folder/out.txt"}, 3, "", "can't create"},
      {{"import", "song.psg", "-o", "out.txt"},
       0,
       "",
       "song.psg: PSG, 1773400 Hz, 50 Hz"},
      {{"dump", "song.txt"}, 2, "", "a text log already"},
      {{"check", "notes.md"}, 2, "", "mova: notes.md: not a register log"},
      {{"info", "song.txt", "song.psg"}, 0, "frame rate: 50 Hz", ""},
      {{"info", "song.txt", "missing.ym"}, 2, "events: 1", "missing.ym"},
  };
  for (const Case& c : cases) {
    const ProcessResult r = run(c.args);
    const std::string shown = c.args[0] + (c.args.size() > 1 ? " " + c.args[1] : "");
    EXPECT_EQ(r.exit_code, c.exit_code) << shown << "\n" << r.err;
    EXPECT_NE(r.out.find(c.out), std::string::npos) << shown << "\n" << r.out;
    EXPECT_NE(r.err.find(c.err), std::string::npos) << shown << "\n" << r.err;
  }
}

TEST_F(Mova, AFailedImportLeavesTheOutputAsItWas) {
  write_file(dir_.file("cut.psg"), "PSG\x1A");
  write_file(dir_.file("out.txt"), "kept");
  EXPECT_EQ(run({"import", "cut.psg", "-o", "out.txt"}).exit_code, 9);
  EXPECT_EQ(read_file(dir_.file("out.txt")), "kept");
#ifndef _WIN32
  // A disk that fills up mid-way: the name keeps what it held, and no
  // partial log stays behind beside it.
  write_file(dir_.file("song.psg"), psg_song(400, 3));
  const ProcessResult full = run({"import", "song.psg", "-o", "out.txt"}, 1000);
  EXPECT_EQ(full.exit_code, 10);
  EXPECT_NE(full.err.find("mova: out.txt: can't write the output"), std::string::npos);
  EXPECT_EQ(read_file(dir_.file("out.txt")), "kept");
  EXPECT_EQ(run({"import", "song.psg", "-o", "new.txt"}, 1000).exit_code, 10);
  EXPECT_FALSE(file_exists(dir_.file("new.txt")));
#endif
}

// Songs of every container: PSG; a YM6 whose random frames' spare bits start
// timer effects, with a digidrum to play; a YM3 packed with -lh5-; VGZ.
std::vector<std::string> differential_songs() {
  std::vector<std::string> songs = {psg_song(1, 1), psg_song(400, 9)};
  std::mt19937 random(5);
  std::vector<YmFrame> frames(300);
  for (YmFrame& frame : frames) {
    for (uint8_t& value : frame) value = static_cast<uint8_t>(random());
  }
  YmRecipe recipe = ym_recipe("YM6!", false);
  recipe.drums.push_back(Bytes(500, 0x9C));
  const Bytes ym = ym_file(recipe, frames);
  Bytes commands;
  for (int i = 0; i < 200; ++i) {
    commands.insert(commands.end(), {0xA0, static_cast<uint8_t>(i % 14),
                                     static_cast<uint8_t>(random()), 0x61, 0x10, 0x03});
  }
  commands.push_back(0x66);
  const Bytes vgz = gzip(vgm_file(commands));
  songs.emplace_back(ym.begin(), ym.end());
  songs.emplace_back(vgz.begin(), vgz.end());
  if (ZARNIK_LHA) songs.push_back(read_file(FIXTURES_DIR "/ym3_lh5.lzh"));
  return songs;
}

TEST_F(Mova, PlayRendersTheBytesOfImportThenZarnik) {
  for (const std::string& song : differential_songs()) {
    write_file(dir_.file("song"), song);
    const ProcessResult imported = run({"import", "song", "-o", "song.txt"});
    ASSERT_EQ(imported.exit_code, 0) << imported.err;
    ASSERT_EQ(run({"import", "song", "--binary", "-o", "song.bin"}).exit_code, 0);
    ASSERT_EQ(run_other(ZARNIK_EXE, {"song.txt", "-o", "zarnik.wav"}).exit_code, 0);
    ASSERT_EQ(run_other(TUBREL_EXE, {"song.txt", "-o", "tubrel.bin"}).exit_code, 0);
    const ProcessResult played = run({"play", "song", "-o", "mova.wav"});
    ASSERT_EQ(played.exit_code, 0) << played.err;
    EXPECT_EQ(read_file(dir_.file("mova.wav")), read_file(dir_.file("zarnik.wav")))
        << imported.err;
    EXPECT_EQ(read_file(dir_.file("song.bin")), read_file(dir_.file("tubrel.bin")));
  }
}

TEST_F(Mova, TubrelGivesBackWhatDumpRead) {
  std::vector<std::string> logs = {read_file(EXAMPLES_DIR "/demo/demo.bin")};
  for (uint32_t seed = 1; seed <= 12; ++seed) logs.push_back(random_binary_log(seed));
  // 17 of the longest delays: past 2^32 us in all.
  std::string long_log = kBinaryHeader + std::string("\x00\x07\x38", 3);
  for (int i = 0; i < 17; ++i) long_log += "\xFF\xFF\xFF\x7F\x08\x0F";
  logs.push_back(long_log);
  for (const std::string& log : logs) {
    write_file(dir_.file("in.bin"), log);
    const ProcessResult dumped = run({"dump", "in.bin", "-o", "out.txt"});
    ASSERT_EQ(dumped.exit_code, 0) << dumped.err;
    ASSERT_EQ(run_other(TUBREL_EXE, {"out.txt", "-o", "back.bin"}).exit_code, 0);
    EXPECT_EQ(read_file(dir_.file("back.bin")), log);
  }
  // zarnik renders the demo's dump as it renders the demo.
  write_file(dir_.file("in.bin"), logs[0]);
  ASSERT_EQ(run({"dump", "in.bin", "-o", "out.txt"}).exit_code, 0);
  ASSERT_EQ(run_other(ZARNIK_EXE, {"in.bin", "-o", "bin.wav"}).exit_code, 0);
  ASSERT_EQ(run_other(ZARNIK_EXE, {"out.txt", "-o", "txt.wav"}).exit_code, 0);
  EXPECT_EQ(read_file(dir_.file("txt.wav")), read_file(dir_.file("bin.wav")));
  const ProcessResult to_stdout = run({"dump", "in.bin"});
  EXPECT_EQ(to_stdout.out, read_file(dir_.file("out.txt")));
}

TEST_F(Mova, DumpSaysWhatTubrelWillNotGiveBack) {
  struct Case {
    std::string records;
    std::string reason;
  };
  const Case cases[] = {
      {std::string("\x00\x07\x38\x05\x08", 5),
       "@12: the log ends here: a record cut short"},
      {std::string("\x80\x00\x07\x38", 4), "@9: the delay 0 takes 2 bytes"},
      {std::string("\x05\x07\x38", 3), "@9: the first record's delay is 5"},
  };
  for (const Case& c : cases) {
    write_file(dir_.file("in.bin"), kBinaryHeader + c.records);
    const ProcessResult r = run({"dump", "in.bin", "-o", "out.txt"});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.err.find("mova: in.bin: " + c.reason), std::string::npos) << r.err;
    EXPECT_EQ(read_file(dir_.file("out.txt")).substr(0, 17), kTextHeader + "0:07:38\n");
  }
}

TEST_F(Mova, CheckFlagsTheTrapsOfTheLogFormats) {
  struct Case {
    std::string log;
    std::string findings;  // exactly what check prints for log.txt or log.bin
  };
  const std::string long_line = "0:07:38" + std::string(130, ' ') + "\n";
  const Case cases[] = {
      {kTextHeader + "0:07:38\n10:08:0F\n\n", ""},
      {kTextHeader + "0:07:38\n# a comment\n5:08:0F\n",
       "log.txt:3: the log ends here: no ':' after a time field: \"# a comment\\x0A\"\n"},
      {kTextHeader + "500:07:38\n100:08:0F\n",
       "log.txt:3: time earlier than the line before: read as a pause of 4294966896 us "
       "(1:11:34.966)\n"},
      {kTextHeader + "# at 1:00:00\n",
       "log.txt:2: time field \"# at 1\" is not plain decimal digits: read as 0\n"},
      {kTextHeader + std::string("0:07:38\0zz\n", 11),
       "log.txt:2: text after the value, behind a NUL byte, which the reader ignores: "
       "\"\\x00zz\\x0A\"\n"},
      {kTextHeader + "0:00:00\n" + long_line,
       "log.txt:3: a line longer than 126 characters and its line end: the reader splits "
       "it "
       "in two\nlog.txt:3: the log ends here: the value field is not two hex digits "
       "followed by the line end: \"0:07:38" +
           std::string(73, ' ') + "...\"\n"},
      {kTextHeader + "0:07:38\n268435456:07:38\n4563402752:07:38\n",
       "log.txt:3: a pause of 268435456 us is too long for a binary record (at most "
       "268435455)\nlog.txt:4: a pause of 4294967296 us is read modulo 2^32, as 0 us\n"},
      {kTextHeader + "0:10:00\n",
       "log.txt:2: a write to register 10: the chip has "
       "registers 00 to 0F\n"},
      {kTextHeader, "log.txt:2: no event can be read: the player refuses the log\n"},
      {kBinaryHeader +
           std::string("\x00\x07\x38\x81\x00\x20\x01\x80\x80\x80\x80\x01", 12),
       "log.bin:@12: a write to register 20: the chip has registers 00 to 0F\n"
       "log.bin:@16: the log ends here: a delay longer than four bytes (5 bytes left "
       "unread)\n"},
      {"MOVA-BIN\r\n\x07\x38",
       "log.bin:@8: the magic line ends in CR LF: its LF is read as the first record's "
       "delay\n"},
  };
  for (const Case& c : cases) {
    const std::string name = c.log[5] == 'B' ? "log.bin" : "log.txt";
    write_file(dir_.file(name), c.log);
    const ProcessResult r = run({"check", name});
    EXPECT_EQ(r.out, c.findings);
    EXPECT_EQ(r.exit_code, c.findings.empty() ? 0 : 1);
  }
}

TEST_F(Mova, InfoShowsWhereALogEndsEarly) {
  write_file(dir_.file("log.txt"), kTextHeader + "0:07:38\n250:0B:01\n\nmore\n");
  write_file(dir_.file("log.bin"), kBinaryHeader + std::string("\x00\x0D\x0E\x81", 4));
  const ProcessResult r = run({"info", "log.txt", "log.bin"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_NE(r.out.find("total time: 0:00:00.000 (250 us)"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("ends early: log.txt:4: the log ends here: no ':' after a time "
                       "field: \"\\x0A\""),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("ends early: log.bin:@12: the log ends here: a record cut short"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("envelope restarts: 1"), std::string::npos) << r.out;
}

}  // namespace
