// The WAV renderer in-process: every failure row through a file seam that
// fails on demand, the size limit, and agreement with the built player.
#include "audio/wav_renderer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>

#include "common/messages.h"
#include "common/register_log.h"
#include "psg/stretch_engine.h"
#include "tests/support/faulty_files.h"
#include "tests/support/logs.h"
#include "tests/support/temp_dir.h"

namespace {

struct RenderRun {
  int code;
  std::string err;
  std::string out;
  bool file_left;
  std::string bytes;
};

class Renderer : public testing::Test {
 protected:
  RenderRun render(const std::string& log_text, OutputFiles& files,
                   uint32_t max_data_bytes = kWavMaxDataBytes) {
    write_file(dir_.file("song.txt"), log_text);
    SampleRing ring;
    StretchEngine engine(ring);
    engine.install_volume_table(kFullLevels);
    WavRenderer renderer(files);
    renderer.max_data_bytes = max_data_bytes;
    RegisterLog log;
    set_program_name("Zarnik");
    EXPECT_TRUE(
        open_register_log(log, dir_.file("song.txt").c_str(), LogOpenRules::Player));
    testing::internal::CaptureStderr();
    testing::internal::CaptureStdout();
    RenderRun run{};
    run.code =
        renderer.render(log, engine, dir_.file("song.txt").c_str(), out_path().c_str());
    run.out = testing::internal::GetCapturedStdout();
    run.err = testing::internal::GetCapturedStderr();
    log.close();
    run.file_left = file_exists(out_path());
    run.bytes = read_file(out_path());
    return run;
  }
  std::string out_path() const { return dir_.file("out.wav"); }
  TempDir dir_;
};

const std::string kTwoSeconds = kTextHeader + "0:08:0F\n2000000:08:00\n";
const std::string kShort = kTextHeader + "0:08:0F\n100000:08:00\n";
const std::string kCantWrite = "Zarnik: Can't write to output file.\n";

TEST_F(Renderer, FlushesInsideTheLoopWriteSixFullPiecesAndOneFrame) {
  FaultyFiles files;
  const RenderRun run = render(kTwoSeconds, files);
  ASSERT_EQ(run.code, 0);
  EXPECT_EQ(run.bytes.size(), 44u + 88200 * 4);
  // Header in three writes, then flushes of 36868 bytes each.
  ASSERT_GE(files.write_sizes.size(), 3u + 7);
  EXPECT_EQ(
      std::vector<size_t>(files.write_sizes.begin(), files.write_sizes.begin() + 10),
      (std::vector<size_t>{20, 16, 8, 6144, 6144, 6144, 6144, 6144, 6144, 4}));
}

// What the output name is before a render: a file of its own, or a symbolic
// or hard link to another one ("old.wav").
enum class OutputName { Plain, SymbolicLink, HardLink };

const std::string kOld = "old contents";

// Empties the folder and puts the old contents under out.wav as `name` says;
// returns the folder's names.
std::vector<std::string> prepare_output(const TempDir& dir, OutputName name) {
  for (const std::string& entry : list_folder(dir.path())) {
    std::filesystem::remove(dir.file(entry));
  }
  write_file(dir.file("song.txt"), "");
  if (name == OutputName::Plain) {
    write_file(dir.file("out.wav"), kOld);
  } else {
    write_file(dir.file("old.wav"), kOld);
    if (name == OutputName::SymbolicLink) {
      std::filesystem::create_symlink("old.wav", dir.file("out.wav"));
    } else {
      std::filesystem::create_hard_link(dir.file("old.wav"), dir.file("out.wav"));
    }
  }
  return list_folder(dir.path());
}

std::vector<OutputName> output_names() {
#if defined(_WIN32)
  // Creating symbolic links on Windows needs a privilege tests do not have.
  return {OutputName::Plain, OutputName::HardLink};
#else
  return {OutputName::Plain, OutputName::SymbolicLink, OutputName::HardLink};
#endif
}

TEST_F(Renderer, EveryFailureIsReportedAndLeavesTheOutputAsItWas) {
  struct Case {
    const char* what;
    FaultyFiles::Kind kind;
    int at;
    const std::string* log;
    int code;
    std::string err;
  };
  const Case cases[] = {
      {"first header piece", FaultyFiles::Kind::Write, 1, &kShort, 4, kCantWrite},
      {"format block", FaultyFiles::Kind::Write, 2, &kShort, 4, kCantWrite},
      {"data header", FaultyFiles::Kind::Write, 3, &kShort, 4, kCantWrite},
      {"no data", FaultyFiles::Kind::None, 0, &kTextHeader, 5,
       "Zarnik: Can't find data in [" + dir_.file("song.txt") + "]\n"},
      {"flush inside the loop", FaultyFiles::Kind::Write, 5, &kTwoSeconds, 6, kCantWrite},
      {"final flush", FaultyFiles::Kind::Write, 4, &kShort, 6, kCantWrite + kCantWrite},
      {"seek to the data size", FaultyFiles::Kind::Seek, 1, &kShort, 7, kCantWrite},
      {"data size", FaultyFiles::Kind::Write, 7, &kShort, 7, kCantWrite},
      {"seek to the RIFF size", FaultyFiles::Kind::Seek, 2, &kShort, 7, kCantWrite},
      {"RIFF size", FaultyFiles::Kind::Write, 8, &kShort, 8, kCantWrite},
      {"sync", FaultyFiles::Kind::Sync, 1, &kShort, 8, kCantWrite},
      {"close", FaultyFiles::Kind::Close, 1, &kShort, 8, kCantWrite},
      {"rename", FaultyFiles::Kind::Rename, 1, &kShort, 8, kCantWrite},
  };
  for (const OutputName name : output_names()) {
    for (const Case& c : cases) {
      std::string what = c.what;
      what += ", output kind " + std::to_string(static_cast<int>(name));
      const std::vector<std::string> names = prepare_output(dir_, name);
      FaultyFiles files;
      files.fail_kind = c.kind;
      files.fail_at = c.at;
      const RenderRun run = render(*c.log, files);
      EXPECT_EQ(run.code, c.code) << what;
      EXPECT_EQ(run.err, c.err) << what;
      EXPECT_EQ(run.out, "Starting to save [" + out_path() + "]\n") << what;
      EXPECT_EQ(run.bytes, kOld) << what;
      EXPECT_EQ(list_folder(dir_.path()), names) << what;
      if (name != OutputName::Plain) {
        EXPECT_EQ(read_file(dir_.file("old.wav")), kOld) << what;
      }
    }
  }
  // A close that fails after another failure changes neither code nor message.
  for (const int write_at : {1, 5, 7, 8}) {
    prepare_output(dir_, OutputName::Plain);
    FaultyFiles both;
    both.fail_kind = FaultyFiles::Kind::Write;
    both.fail_at = write_at;
    both.close_fails_too = true;
    const RenderRun run = render(write_at == 5 ? kTwoSeconds : kShort, both);
    EXPECT_EQ(run.code, write_at == 1 ? 4 : write_at == 5 ? 6 : write_at == 7 ? 7 : 8);
    EXPECT_EQ(run.err, kCantWrite) << write_at;
    EXPECT_EQ(run.bytes, kOld) << write_at;
  }
  // The short log's final flush is writes 4 to 6 (6144, 6144, 5352 bytes);
  // the data size is write 7 and the RIFF size write 8.
  FaultyFiles files;
  ASSERT_EQ(render(kShort, files).code, 0);
  EXPECT_EQ(files.write_sizes, (std::vector<size_t>{20, 16, 8, 6144, 6144, 5352, 4, 4}));
}

TEST_F(Renderer, ASuccessReplacesTheFileTheNameLeadsToAndKeepsItsPermissions) {
  for (const OutputName name : output_names()) {
    const std::vector<std::string> names = prepare_output(dir_, name);
    const std::string target =
        dir_.file(name == OutputName::Plain ? "out.wav" : "old.wav");
    using std::filesystem::perms;
    std::filesystem::permissions(
        target, perms::owner_read | perms::owner_write | perms::group_read);
    const perms before = std::filesystem::status(target).permissions();
    FaultyFiles files;
    const RenderRun run = render(kShort, files);
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_EQ(run.bytes.size(), 44u + 4410 * 4);
    EXPECT_EQ(list_folder(dir_.path()), names);
    EXPECT_EQ(std::filesystem::status(target).permissions(), before);
    // A symbolic link still leads to the finished file; a hard link's other
    // name keeps the old contents.
    if (name == OutputName::SymbolicLink) {
      EXPECT_TRUE(std::filesystem::is_symlink(dir_.file("out.wav")));
      EXPECT_EQ(read_file(target), run.bytes);
    }
    if (name == OutputName::HardLink) {
      EXPECT_EQ(read_file(target), kOld);
    }
  }
}

TEST_F(Renderer, AnOutputThatCannotBeOpenedIsReportedAndNothingIsCreated) {
  // The first open is the temporary file's; when it fails the output is
  // written in place, and only when that fails too nothing can be written.
  FaultyFiles in_place;
  in_place.fail_kind = FaultyFiles::Kind::Open;
  in_place.fail_at = 1;
  EXPECT_EQ(render(kShort, in_place).bytes.size(), 44u + 4410 * 4);
  std::filesystem::remove(out_path());

  FaultyFiles files;
  files.fail_kind = FaultyFiles::Kind::Open;
  files.fail_at = 1;
  files.fail_count = 2;
  const RenderRun run = render(kShort, files);
  EXPECT_EQ(run.code, 3);
  EXPECT_EQ(run.err, "Zarnik: Can't open output file [" + out_path() + "]\n");
  EXPECT_EQ(run.out, "");
  EXPECT_FALSE(run.file_left);
  EXPECT_TRUE(files.write_sizes.empty());
}

TEST_F(Renderer, ALogWithoutEventsLeavesNoFile) {
  FaultyFiles files;
  const RenderRun run = render(kTextHeader, files);
  EXPECT_EQ(run.code, 5);
  EXPECT_EQ(run.err, "Zarnik: Can't find data in [" + dir_.file("song.txt") + "]\n");
  EXPECT_FALSE(run.file_left);
}

TEST_F(Renderer, StopsBeforeTheHeaderSizesWouldWrap) {
  FaultyFiles files;
  // Two seconds need 352800 bytes; allow less.
  const RenderRun run = render(kTwoSeconds, files, 200000);
  EXPECT_EQ(run.code, 6);
  EXPECT_EQ(run.err,
            "Zarnik: Too much sound for one WAV file (more than 200000 bytes).\n");
  EXPECT_FALSE(run.file_left);

  // Reached by a flush inside the loop: one message, nothing written past it.
  FaultyFiles loop_files;
  const RenderRun loop = render(kTwoSeconds, loop_files, 40000);
  EXPECT_EQ(loop.code, 6);
  EXPECT_EQ(loop.err,
            "Zarnik: Too much sound for one WAV file (more than 40000 bytes).\n");
  EXPECT_FALSE(loop.file_left);
  EXPECT_EQ(loop_files.write_sizes.size(), 3u + 7);

  // Exactly at the limit is fine.
  FaultyFiles exact_files;
  const RenderRun exact = render(kTwoSeconds, exact_files, 352800);
  EXPECT_EQ(exact.code, 0);
  EXPECT_EQ(exact.bytes.size(), 44u + 352800);
  EXPECT_EQ(kWavMaxDataBytes, 4294967256u);
}

}  // namespace
