// mova run as a user runs it: its commands and exit codes, the round trip
// of dump through tubrel, play against import and zarnik, and check's lint.
#include <gtest/gtest.h>
#include <sys/stat.h>

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
      {{"import", "song.psg", "--clock", "100000.5"}, 64, "", "the clock must be"},
      {{"import", "song.psg", "--clock", "1e5", "-o", "out.txt"}, 0, "", "100000 Hz"},
      {{"import", "song.psg", "--clock", "2.5e6", "-o", "out.txt"}, 0, "", "2500000 Hz"},
      {{"dump", "a.bin", "b.bin"}, 64, "", "only one file allowed: b.bin"},
      {{"render", "song.psg"}, 64, "", "-d DIR"},
      {{"play", "song.psg", "--loops", "0"}, 64, "", "--loops takes 1 to 1000"},
      {{"play", "song.psg", "--chip", "zx"}, 64, "", "--chip takes ay or ym"},
      {{"render", "song.psg", "--sample-rate", "7999"}, 64, "", "8000 to 192000"},
      {{"import", "missing.ym"}, 2, "", "mova: missing.ym: can't open"},
      {{"import", "notes.md"}, 2, "", "mova: notes.md: not a song file"},
      {{"import", "cut.psg"}, 9, "", "mova: cut.psg: "},
      {{"import", "song.psg", "--second-chip"}, 9, "", "not a TurboSound file"},
      {{"play", "song.psg", "--second-chip"}, 64, "", "unknown option --second-chip"},
      {{"import", "song.psg", "-o", "song.psg"}, 3, "", "not written over"},
      {{"import", "song.psg", "-o", "no/such/folder/out.txt"},
       3,
       "",
       "can't create the output file: No such file or directory"},
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
    const ProcessResult played =
        run({"play", "song", "--exact", "--loops", "1", "--fade", "0", "-o", "mova.wav"});
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
    std::vector<std::string> reasons;  // each on a line of its own
  };
  const Case cases[] = {
      {std::string("\x00\x07\x38\x05\x08", 5),
       {"@12: the log ends here: a record cut short"}},
      {std::string("\x80\x00\x07\x38", 4), {"@9: the delay 0 takes 2 bytes"}},
      {std::string("\x05\x07\x38", 3), {"@9: the first record's delay is 5"}},
      // Every kind of difference is named, not only the first.
      {std::string("\x80\x05\x07\x38\x05\x08", 6),
       {"@9: the first record's delay is 5", "@9: the delay 5 takes 2 bytes",
        "@13: the log ends here"}},
  };
  for (const Case& c : cases) {
    write_file(dir_.file("in.bin"), kBinaryHeader + c.records);
    const ProcessResult r = run({"dump", "in.bin", "-o", "out.txt"});
    EXPECT_EQ(r.exit_code, 1);
    for (const std::string& reason : c.reasons) {
      EXPECT_NE(r.err.find("mova: in.bin: " + reason), std::string::npos) << r.err;
    }
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'),
              static_cast<long>(c.reasons.size()))
        << r.err;
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
       "log.txt:3: the log ends here: no ':' after a time field: \"# a comment\\n\"\n"},
      {kTextHeader + "500:07:38\n100:08:0F\n",
       "log.txt:3: time earlier than the line before: read as a pause of 4294966896 us "
       "(1:11:34.966)\n"},
      {kTextHeader + "# at 1:00:00\n",
       "log.txt:2: time field \"# at 1\" is not plain decimal digits: read as 0\n"},
      {kTextHeader + std::string("0:07:38\0zz\n", 11),
       "log.txt:2: text after the value, behind a NUL byte, which the reader ignores: "
       "\"\\x00zz\\n\"\n"},
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
                       "field: \"\\n\""),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("ends early: log.bin:@12: the log ends here: a record cut short"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("envelope restarts: 1"), std::string::npos) << r.out;
}

TEST_F(Mova, ErrorLinesStayOneLine) {
  // An ESC in a YM's variant, and (where names may hold them) a newline and
  // an ESC in a file name.
  write_file(dir_.file("variant.ym"), "YM\x1b!\n\n");
  const ProcessResult variant = run({"info", "variant.ym"});
  EXPECT_EQ(
      variant.err.rfind("mova: variant.ym: YM variant YM\\x1b! is not supported", 0), 0u)
      << variant.err;
  EXPECT_EQ(std::count(variant.err.begin(), variant.err.end(), '\n'), 1) << variant.err;
#ifndef _WIN32
  const std::string odd = "a\nb\x1b.psg";
  write_file(dir_.file(odd), psg_song(3, 1));
  const ProcessResult missing = run({"import", "missing\n.psg"});
  EXPECT_EQ(missing.err, "mova: missing\\n.psg: can't open: No such file or directory\n");
  const ProcessResult summary = run({"import", odd, "-o", "out.txt"});
  EXPECT_EQ(summary.exit_code, 0);
  EXPECT_EQ(summary.err.rfind("a\\nb\\x1b.psg: PSG, ", 0), 0u) << summary.err;
  EXPECT_EQ(std::count(summary.err.begin(), summary.err.end(), '\n'), 1) << summary.err;
#endif
}

TEST_F(Mova, InfoShowsNoFramesForAVgmAndNotesALoopItCannotUse) {
  Bytes vgm = vgm_file({0xA0, 0, 1, 0x62, 0x66});
  vgm[0x1C] = 0x00, vgm[0x1D] = 0x10;  // the loop at 0x101C, past the end
  vgm[0x24] = 60;                      // a rate, which VGM times ignore
  write_file(dir_.file("song.vgm"), std::string(vgm.begin(), vgm.end()));
  const ProcessResult r = run({"info", "song.vgm"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out.find("frame"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("note: loop offset 0x101C lies outside the song's commands"),
            std::string::npos)
      << r.out;
}

#ifndef _WIN32
// Runs a shell command line in the test's folder; $M is mova, $Z zarnik.
ProcessResult shell(const TempDir& dir, const std::string& script,
                    ProcessOptions options = {}) {
  options.working_directory = dir.path();
  const std::string line =
      "M='" MOVA_EXE "'; Z='" ZARNIK_EXE "'; export PROMPT=; " + script;
  return run_program("/bin/sh", {"-c", line}, options);
}

TEST_F(Mova, TheStandardOutputIsCheckedLikeAnyOutput) {
  const std::string song = psg_song(50, 2);
  write_file(dir_.file("song.psg"), song);
  ASSERT_EQ(run({"import", "song.psg", "--binary", "-o", "log.bin"}).exit_code, 0);
  const std::string log = read_file(dir_.file("log.bin"));
  write_file(dir_.file("bad.txt"), kTextHeader + "500:07:38\n100:08:0F\n");
  struct Case {
    std::string script;
    int code;
    std::string err;  // the one line on the standard error
  };
  const std::string names_input =
      "mova: standard output: the output is an input file: not written over\n";
  const Case cases[] = {
      {"$M dump log.bin >>log.bin", 3, names_input},
      {"$M import song.psg -o - 1<>song.psg", 3, names_input},
      {"$M import song.psg >>song.psg", 3, names_input},
      {"$M import - -o song.psg <song.psg", 3,
       "mova: song.psg: the output is an input file: not written over\n"},
      {"$M import song.psg >&-", 10,
       "mova: standard output: can't write the output: Bad file descriptor\n"},
      {"$M info song.psg >/dev/full", 10,
       "mova: standard output: can't write: No space left on device\n"},
      {"$M check bad.txt >/dev/full", 10,
       "mova: standard output: can't write: No space left on device\n"},
      {"$M --help >/dev/full", 10,
       "mova: standard output: can't write: No space left on device\n"},
      {"$M --version >&-", 10,
       "mova: standard output: can't write: Bad file descriptor\n"},
  };
  for (const Case& c : cases) {
    const ProcessResult r = shell(dir_, c.script);
    EXPECT_EQ(r.exit_code, c.code) << c.script;
    EXPECT_EQ(r.err, c.err) << c.script;
    EXPECT_EQ(read_file(dir_.file("song.psg")), song) << c.script;
    EXPECT_EQ(read_file(dir_.file("log.bin")), log) << c.script;
  }
}

TEST_F(Mova, DashReadsTheStandardInputForEveryCommand) {
  write_file(dir_.file("song.psg"), psg_song(30, 4));
  ASSERT_EQ(run({"import", "song.psg", "--binary", "-o", "log.bin"}).exit_code, 0);
  write_file(dir_.file("bad.txt"), kTextHeader + "500:07:38\n100:08:0F\n");
  struct Case {
    std::string command;  // FILE stands for the input
    std::string file;
  };
  const Case cases[] = {{"import FILE", "song.psg"}, {"import --binary FILE", "song.psg"},
                        {"info FILE", "song.psg"},   {"info FILE", "log.bin"},
                        {"check FILE", "bad.txt"},   {"dump FILE", "log.bin"}};
  // Every from in text replaced by to.
  const auto with = [](const std::string& text, const std::string& from,
                       const std::string& to) {
    std::string out;
    size_t at = 0;
    for (size_t next; (next = text.find(from, at)) != std::string::npos;
         at = next + from.size()) {
      out += text.substr(at, next - at) + to;
    }
    return out + text.substr(at);
  };
  for (const Case& c : cases) {
    const ProcessResult by_name = shell(dir_, "$M " + with(c.command, "FILE", c.file));
    const ProcessResult by_pipe =
        shell(dir_, "cat " + c.file + " | $M " + with(c.command, "FILE", "-"));
    EXPECT_EQ(by_pipe.exit_code, by_name.exit_code) << c.command << by_pipe.err;
    EXPECT_EQ(by_pipe.out, with(by_name.out, c.file, "-")) << c.command;
    EXPECT_FALSE(by_pipe.out.empty()) << c.command;
  }
  // Beyond 64 MiB the standard input is refused as a file of that size is.
  const ProcessResult large = shell(dir_, "head -c 67108865 /dev/zero | $M import -");
  EXPECT_EQ(large.exit_code, 9);
  EXPECT_EQ(large.err, "mova: -: more than 67108864 bytes: too large for a song file\n");
}

TEST_F(Mova, AFileThatCannotBeReplacedIsNeverTruncated) {
  write_file(dir_.file("song.psg"), psg_song(400, 5));
  write_file(dir_.file("song.txt"), kTextHeader + "0:07:38\n1000:08:0F\n");
  // A name that fits, whose temporary name would not.
  const std::string long_name(250, 'n');
  write_file(dir_.file(long_name), "old");
  EXPECT_EQ(run({"import", "song.psg", "-o", long_name}).exit_code, 0);
  EXPECT_EQ(read_file(dir_.file(long_name)).substr(0, 9), kTextHeader);
  write_file(dir_.file(long_name), "old");
  const ProcessResult full = run({"import", "song.psg", "-o", long_name}, 1000);
  EXPECT_EQ(full.exit_code, 10);
  EXPECT_EQ(full.err, "mova: " + long_name +
                          ": can't write the output: File too large; no partial file "
                          "left behind\n");
  EXPECT_EQ(read_file(dir_.file(long_name)), "old");
  EXPECT_EQ(list_folder(dir_.path()).size(), 3u);

  // A writable file in a folder its user can't write: as root the programs
  // run as nobody, so that the folder's permissions apply.
  ASSERT_TRUE(std::filesystem::create_directory(dir_.file("locked")));
  write_file(dir_.file("locked/out.txt"), "old");
  write_file(dir_.file("locked/out.wav"), "old");
  ASSERT_EQ(chmod(dir_.file("locked/out.txt").c_str(), 0666), 0);
  ASSERT_EQ(chmod(dir_.file("locked/out.wav").c_str(), 0666), 0);
  ASSERT_EQ(chmod(dir_.file("locked").c_str(), 0555), 0);
  ASSERT_EQ(chmod(dir_.path().c_str(), 0777), 0);
  ProcessOptions as_user;
  as_user.drop_root = true;
  const ProcessResult mova = shell(dir_, "$M import song.psg -o locked/out.txt", as_user);
  const ProcessResult zarnik = shell(dir_, "$Z song.txt -o locked/out.wav", as_user);
  ASSERT_EQ(chmod(dir_.file("locked").c_str(), 0755), 0);
  if (mova.exit_code >= 125 && mova.exit_code <= 127) {
    GTEST_SKIP() << "cannot run the programs as an unprivileged user here";
  }
  EXPECT_EQ(mova.exit_code, 3);
  EXPECT_EQ(mova.err,
            "mova: locked/out.txt: can't make a temporary file in its folder (Permission "
            "denied): not written, so that it keeps what it holds\n");
  EXPECT_EQ(zarnik.exit_code, 3);
  EXPECT_EQ(zarnik.err, "Zarnik: Can't open output file [locked/out.wav]\n");
  EXPECT_EQ(read_file(dir_.file("locked/out.txt")), "old");
  EXPECT_EQ(read_file(dir_.file("locked/out.wav")), "old");
  EXPECT_EQ(list_folder(dir_.file("locked")).size(), 2u);
}
#endif

}  // namespace
