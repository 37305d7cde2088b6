// The Pro Tracker 3 replayer against register dumps of the tracker's own
// playback (../shared/pt3/), frame by frame; VTX files against their YM twins
// (../shared/vtx/); TurboSound files built from two of the modules; and
// hostile variations of a real module.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <tuple>

#include "formats/song.h"
#include "formats/tracker/pt3_module.h"
#include "formats/tracker/pt3_replayer.h"

namespace {

using Bytes = std::vector<uint8_t>;
const std::filesystem::path kShared = SHARED_DIR;

std::optional<Bytes> read_file(const std::filesystem::path& path) {
  std::ifstream stream(path, std::ios::binary);
  if (!stream) return std::nullopt;
  return Bytes(std::istreambuf_iterator<char>(stream), {});
}

// A PSG dump as frames of full register state, and its register 13 writes.
struct DumpFrames {
  std::vector<std::array<uint8_t, 14>> regs;
  std::vector<bool> restarts;
};

DumpFrames read_psg(const Bytes& bytes) {
  DumpFrames dump;
  std::array<uint8_t, 14> state{};
  bool restart = false;
  auto end_frame = [&] {
    dump.regs.push_back(state);
    dump.restarts.push_back(restart);
    restart = false;
  };
  for (size_t at = 16; at < bytes.size();) {
    const uint8_t code = bytes[at++];
    if (code == 0xFF) {
      end_frame();
    } else if (code == 0xFE && at < bytes.size()) {
      for (int i = 0; i < bytes[at] * 4; ++i) end_frame();
      ++at;
    } else if (code == 0xFD) {
      break;
    } else if (code < 14 && at < bytes.size()) {
      state[code] = bytes[at++];
      if (code == 13) restart = true;
    } else {
      ++at;
    }
  }
  end_frame();  // the last frame has no 0xFF after it
  return dump;
}

// The writes as (time, register, value) triples, comparable as a whole.
std::vector<std::tuple<uint64_t, int, int>> triples(
    const std::vector<TimedWrite>& writes) {
  std::vector<std::tuple<uint64_t, int, int>> out;
  for (const TimedWrite& w : writes) out.emplace_back(w.time, w.reg, w.value);
  return out;
}

struct Vector {
  const char* name;
  const char* format;
};

TEST(Pt3Replay, EveryFrameEqualsTheTrackersOwnPlayback) {
  const Vector vectors[] = {{"foxx_voice", "PT3 3.3"},
                            {"luchibobra_if_u_want", "PT3 3.6 (Vortex Tracker II)"},
                            {"catman_still_alive", "PT3 3.7"}};
  for (const Vector& vector : vectors) {
    SCOPED_TRACE(vector.name);
    const auto module_bytes =
        read_file(kShared / "pt3" / (std::string(vector.name) + ".pt3"));
    const auto dump_bytes =
        read_file(kShared / "pt3" / (std::string(vector.name) + ".psg"));
    if (!module_bytes || !dump_bytes) GTEST_SKIP() << "no ../shared/pt3 vectors";
    Pt3Module module;
    ASSERT_EQ(module.parse(*module_bytes), "");
    const DumpFrames dump = read_psg(*dump_bytes);
    Pt3Replayer replayer(module);
    TrackerFrame frame;
    size_t matched = 0, compared = 0;
    // Frame 0 of the dump is the empty frame before the module's first tick.
    for (size_t index = 1; index < dump.regs.size(); ++index) {
      ASSERT_TRUE(replayer.next_frame(frame))
          << "ended early at frame " << index << " " << replayer.error();
      ++compared;
      if (frame.regs == dump.regs[index] &&
          frame.envelope_restart == dump.restarts[index]) {
        ++matched;
      } else if (compared - matched <= 3) {
        std::string have, want;
        for (int reg = 0; reg < 14; ++reg) {
          have += std::to_string(frame.regs[reg]) + " ";
          want += std::to_string(dump.regs[index][reg]) + " ";
        }
        ADD_FAILURE() << "frame " << index << "\n have " << have << frame.envelope_restart
                      << "\n want " << want << dump.restarts[index];
      }
    }
    EXPECT_FALSE(replayer.next_frame(frame)) << "plays on after the dump's last frame";
    EXPECT_EQ(matched, compared);
    std::printf("%s: %zu of %zu frames match\n", vector.name, matched, compared);
    const ImportResult result = import_song(*module_bytes, ImportOptions{});
    ASSERT_EQ(result.status, ImportStatus::Ok) << result.error;
    EXPECT_EQ(result.info.format, vector.format);
    EXPECT_EQ(result.info.frames, compared);
  }
}

}  // namespace

namespace {

TEST(VtxImport, EachFileImportsAsItsYmTwin) {
  struct Case {
    const char* name;
    const char* format;
    const char* stereo;
  };
  for (const Case& c :
       {Case{"tune_ay", "VTX (AY)", "ABC"}, Case{"tune_ym", "VTX (YM)", "ACB"}}) {
    SCOPED_TRACE(c.name);
    const auto vtx = read_file(kShared / "vtx" / (std::string(c.name) + ".vtx"));
    const auto ym = read_file(kShared / "vtx" / (std::string(c.name) + ".ym"));
    if (!vtx || !ym) GTEST_SKIP() << "no ../shared/vtx files";
    const ImportResult from_vtx = import_song(*vtx, ImportOptions{});
    const ImportResult from_ym = import_song(*ym, ImportOptions{});
    ASSERT_EQ(from_vtx.status, ImportStatus::Ok) << from_vtx.error;
    ASSERT_EQ(from_ym.status, ImportStatus::Ok) << from_ym.error;
    EXPECT_EQ(triples(from_vtx.writes), triples(from_ym.writes));
    EXPECT_FALSE(from_vtx.writes.empty());
    EXPECT_EQ(from_vtx.info.format, c.format);
    EXPECT_EQ(from_vtx.info.stereo, c.stereo);
    EXPECT_EQ(from_vtx.info.title, from_ym.info.title);
    EXPECT_EQ(from_vtx.info.author, from_ym.info.author);
    EXPECT_EQ(from_vtx.info.loop_frame, from_ym.info.loop_frame);
    EXPECT_EQ(from_vtx.info.loop_time_us, from_ym.info.loop_time_us);
    EXPECT_EQ(from_vtx.info.clock_hz, from_ym.info.clock_hz);
  }
}

}  // namespace

namespace {

Bytes turbosound(const Bytes& first, const Bytes& second) {
  Bytes file = first;
  file.insert(file.end(), second.begin(), second.end());
  for (const Bytes* part : {&first, &second}) {
    file.insert(file.end(), {'P', 'T', '3', '!'});
    file.push_back(static_cast<uint8_t>(part->size() & 0xFF));
    file.push_back(static_cast<uint8_t>(part->size() >> 8));
  }
  file.insert(file.end(), {'0', '2', 'T', 'S'});
  return file;
}

TEST(Pt3Import, TurboSoundImportsEitherChipAsItsModuleAlone) {
  const auto a = read_file(kShared / "pt3" / "foxx_voice.pt3");
  const auto b = read_file(kShared / "pt3" / "luchibobra_if_u_want.pt3");
  if (!a || !b) GTEST_SKIP() << "no ../shared/pt3 vectors";
  const Bytes file = turbosound(*a, *b);
  for (bool second : {false, true}) {
    SCOPED_TRACE(second ? "second chip" : "first chip");
    ImportOptions options;
    options.second_chip = second;
    const ImportResult both = import_song(file, options);
    const ImportResult alone = import_song(second ? *b : *a, ImportOptions{});
    ASSERT_EQ(both.status, ImportStatus::Ok) << both.error;
    EXPECT_EQ(triples(both.writes), triples(alone.writes));
    EXPECT_EQ(both.info.format, "PT3 TurboSound");
    ASSERT_EQ(both.info.chips.size(), 2u);
    EXPECT_NE(both.info.chips[0].find("VOICE OF TIME"), std::string::npos);
    EXPECT_NE(both.info.chips[1].find("if u want"), std::string::npos);
  }
  ImportOptions options;
  options.second_chip = true;
  EXPECT_EQ(import_song(*a, options).status, ImportStatus::Malformed);
}

// Hostile variations of a real module: each a one-line error or a song that
// ends within the frame limit, never a hang or a crash.
TEST(Pt3Import, HostileModulesGiveOneLineErrorsOrBoundedSongs) {
  const auto real = read_file(kShared / "pt3" / "luchibobra_if_u_want.pt3");
  if (!real) GTEST_SKIP() << "no ../shared/pt3 vectors";
  const size_t patterns = (*real)[103] | (*real)[104] << 8;
  struct Case {
    const char* what;
    std::function<void(Bytes&)> change;
    bool fails;
  };
  const Case cases[] = {
      {"cut in the header", [](Bytes& m) { m.resize(150); }, true},
      {"cut in the patterns", [](Bytes& m) { m.resize(m.size() / 2); }, true},
      {"pattern table outside", [](Bytes& m) { m[103] = 0xF0, m[104] = 0xFF; }, true},
      {"pattern without end",
       [&](Bytes& m) {
         const size_t a = m[patterns] | m[patterns + 1] << 8;
         for (size_t i = a; i < m.size(); ++i) m[i] = m[i] == 0 ? 0xD0 : m[i];
       },
       true},
      {"every sample outside",
       [](Bytes& m) {
         for (size_t i = 105; i < 169; i += 2) m[i] = 0xFF, m[i + 1] = 0xFF;
       },
       true},
      {"tone table 7", [](Bytes& m) { m[99] = 7; }, true},
      {"loop position beyond the song", [](Bytes& m) { m[102] = 200; }, true},
      {"no positions", [](Bytes& m) { m[201] = 0xFF; }, true},
      {"speed 0 (read as 256)", [](Bytes& m) { m[100] = 0; }, false},
      {"zero-length samples and ornaments",
       [](Bytes& m) {
         for (size_t i = 105; i < 201; i += 2) {
           const size_t at = m[i] | m[i + 1] << 8;
           if (at >= 201 && at + 1 < m.size()) m[at + 1] = 0;
         }
       },
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes module = *real;
    c.change(module);
    const ImportResult result = import_song(module, ImportOptions{});
    if (c.fails) {
      EXPECT_EQ(result.status, ImportStatus::Malformed);
      EXPECT_FALSE(result.error.empty());
      EXPECT_EQ(result.error.find('\n'), std::string::npos);
    } else {
      ASSERT_EQ(result.status, ImportStatus::Ok) << result.error;
      EXPECT_LE(result.info.frames, 180000u);
    }
  }
}

}  // namespace
