// mova play live, through the private sound server: on a pseudo-terminal
// the status line answers the keys and the terminal comes back as it was;
// off a terminal each song gets one plain line and nothing else.
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <utmp.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/logs.h"
#include "tests/support/process.h"
#include "tests/support/song_writers.h"
#include "tests/support/sound_server.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// A YM5! song at 50 Hz of random tones and noise, looping from `loop`.
std::string ym_song(int frames, uint32_t loop, const std::string& title,
                    const std::string& author) {
  std::mt19937 random(static_cast<unsigned>(frames + loop));
  std::vector<YmFrame> data(static_cast<size_t>(frames));
  for (YmFrame& frame : data) {
    for (uint8_t& value : frame) value = static_cast<uint8_t>(random() & 0x0F);
    frame[7] = 0x30;  // tones A, B, C and noise on A
    frame[13] = 0xFF;
  }
  YmRecipe recipe = ym_recipe("YM5!", true, 50, loop);
  recipe.title = title;
  recipe.author = author;
  const Bytes file = ym_file(recipe, data);
  return {file.begin(), file.end()};
}

// What the status line reads at one moment.
struct Shown {
  bool paused = false;
  int index = 0, count = 0;
  int elapsed_s = -1, total_s = -1;
  std::string text;
};

// mova on a pseudo-terminal 100 columns wide, with TERM=xterm.
class TerminalPlay {
 public:
  TerminalPlay(const std::vector<std::string>& args, const Environment& environment,
               const std::string& folder) {
    winsize size{};
    size.ws_col = 100;
    size.ws_row = 24;
    int slave = -1;
    if (openpty(&master_, &slave, nullptr, nullptr, &size) != 0) return;
    tcgetattr(slave, &before);
    pid_ = fork();
    if (pid_ == 0) {
      login_tty(slave);
      if (chdir(folder.c_str()) != 0) _exit(126);
      for (const auto& [name, value] : environment)
        setenv(name.c_str(), value.c_str(), 1);
      setenv("TERM", "xterm", 1);
      std::vector<char*> argv{const_cast<char*>(MOVA_EXE)};
      for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
      argv.push_back(nullptr);
      execv(MOVA_EXE, argv.data());
      _exit(127);
    }
    close(slave);
  }
  ~TerminalPlay() {
    if (pid_ > 0 && !ended_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (master_ >= 0) close(master_);
  }

  bool started() const { return pid_ > 0; }

  // Reads the terminal for up to `limit` or until `done` holds for the
  // status shown last.
  template <typename Done>
  bool wait_for(Done done, std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    for (;;) {
      if (done(last())) return true;
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      if (left.count() <= 0) return false;
      pollfd fd{master_, POLLIN, 0};
      if (poll(&fd, 1, static_cast<int>(left.count())) <= 0) continue;
      char buffer[512];
      const ssize_t got = read(master_, buffer, sizeof buffer);
      if (got <= 0) return done(last());
      screen.append(buffer, static_cast<size_t>(got));
    }
  }
  void drain_for(std::chrono::milliseconds time) {
    wait_for([](const Shown&) { return false; }, time);
  }

  // The last status drawn in full: xterm's carriage return, the line, then
  // its clear to the end of the line.
  Shown last() const {
    Shown shown;
    const size_t end = screen.rfind("\x1b[K");
    if (end == std::string::npos) return shown;
    const size_t start = screen.rfind('\r', end);
    if (start == std::string::npos) return shown;
    shown.text = screen.substr(start + 1, end - start - 1);
    // "> TITLE  FORMAT  k/n  m:ss/m:ss ...", "||" in front while paused.
    const std::string& text = shown.text;
    if (!text.starts_with("> ") && !text.starts_with("|| ")) return shown;
    for (size_t at = text.find("  "); at != std::string::npos;
         at = text.find("  ", at + 1)) {
      int index = 0, count = 0, minutes = 0, seconds = 0, total_minutes = 0,
          total_seconds = 0;
      if (std::sscanf(text.c_str() + at, "  %d/%d  %d:%d/%d:%d", &index, &count, &minutes,
                      &seconds, &total_minutes, &total_seconds) == 6) {
        shown.paused = text.starts_with("||");
        shown.index = index;
        shown.count = count;
        shown.elapsed_s = minutes * 60 + seconds;
        shown.total_s = total_minutes * 60 + total_seconds;
        break;
      }
    }
    return shown;
  }

  void type(const std::string& keys) {
    ASSERT_EQ(write(master_, keys.data(), keys.size()),
              static_cast<ssize_t>(keys.size()));
  }

  // The exit code once the program has ended within `limit`, else -1.
  int ended_within(std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    while (Clock::now() < deadline) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        ended_ = true;
        drain_for(50ms);
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      drain_for(20ms);
    }
    return -1;
  }

  termios now() const {
    termios modes{};
    tcgetattr(master_, &modes);
    return modes;
  }

  termios before{};  // the modes of the fresh terminal
  std::string screen;

 private:
  pid_t pid_ = -1;
  int master_ = -1;
  bool ended_ = false;
};

class ListenLive : public testing::Test {
 protected:
  void SetUp() override {
    if (!server_.ready()) {
      if (sound_server_required()) FAIL() << server_.why_not();
      GTEST_SKIP() << server_.why_not();
    }
  }

  TempDir dir_;
  SoundServer server_{dir_.path()};
};

TEST_F(ListenLive, TheStatusFollowsTheKeysAndTheTerminalComesBack) {
  // 20 s looping from 10 s: 30 s with the second pass, and 8 s of fade.
  write_file(dir_.file("one.ym"), ym_song(1000, 500, "Song One", "Tester"));
  write_file(dir_.file("two.ym"), ym_song(1000, 500, "Song Two", "Tester"));
  TerminalPlay play({"play", "one.ym", "two.ym"}, server_.environment(), dir_.path());
  ASSERT_TRUE(play.started());

  // The title, song 1/2, the length that will play, and time advancing.
  ASSERT_TRUE(play.wait_for([](const Shown& s) { return s.elapsed_s >= 1; }, 5s))
      << play.screen;
  Shown shown = play.last();
  EXPECT_NE(shown.text.find("Song One - Tester"), std::string::npos) << shown.text;
  EXPECT_EQ(shown.index, 1);
  EXPECT_EQ(shown.count, 2);
  EXPECT_EQ(shown.total_s, 38);
  EXPECT_NE(play.screen.find("\x1b[?25l"), std::string::npos) << "the cursor stays shown";

  // Space pauses: "||", and the time holds.
  play.type(" ");
  ASSERT_TRUE(play.wait_for([](const Shown& s) { return s.paused; }, 1s)) << play.screen;
  const int paused_at = play.last().elapsed_s;
  play.drain_for(1500ms);
  EXPECT_TRUE(play.last().paused);
  EXPECT_EQ(play.last().elapsed_s, paused_at);
  play.type(" ");
  ASSERT_TRUE(play.wait_for([](const Shown& s) { return !s.paused; }, 1s));
  EXPECT_GE(play.last().elapsed_s, paused_at);
  EXPECT_LE(play.last().elapsed_s, paused_at + 1);

  // Right (as xterm sends it in the keypad mode mova asks for): about 5 s
  // on, far more than plays meanwhile.
  const int before_seek = play.last().elapsed_s;
  play.type("\x1bOC");
  EXPECT_TRUE(play.wait_for(
      [&](const Shown& s) { return s.elapsed_s >= before_seek + 4; }, 1500ms))
      << play.last().text;
  EXPECT_LE(play.last().elapsed_s, before_seek + 7) << play.last().text;

  // n: the second song, from its start.
  play.type("n");
  ASSERT_TRUE(play.wait_for([](const Shown& s) { return s.index == 2; }, 2s))
      << play.last().text;
  EXPECT_NE(play.last().text.find("Song Two"), std::string::npos) << play.last().text;
  EXPECT_LE(play.last().elapsed_s, 1);

  // q: exit 0, the cursor shown again, the modes of the fresh terminal.
  play.type("q");
  EXPECT_EQ(play.ended_within(3s), 0) << play.screen;
  const size_t last_status = play.screen.rfind("\x1b[K");
  EXPECT_NE(play.screen.find("\x1b[?25h", last_status), std::string::npos);
  const termios after = play.now();
  EXPECT_EQ(after.c_lflag, play.before.c_lflag);
  EXPECT_EQ(after.c_iflag, play.before.c_iflag);
  EXPECT_EQ(after.c_cc[VMIN], play.before.c_cc[VMIN]);
  EXPECT_TRUE((after.c_lflag & ECHO) != 0 && (after.c_lflag & ICANON) != 0);

  // No status line ever reached the last column (no wrapping).
  for (size_t at = 0; (at = play.screen.find('\r', at)) != std::string::npos; ++at) {
    const size_t end = play.screen.find("\x1b[K", at);
    if (end != std::string::npos) {
      ASSERT_LT(end - at - 1, 100u);
    }
  }
}

TEST_F(ListenLive, OffATerminalEachSongGetsOnePlainLine) {
  struct Case {
    std::string name;
    std::string content;
    std::string line;  // how its line on the standard error starts
  };
  const Case cases[] = {
      // 50 frames looping from 0, twice, then 1 s of fade.
      {"alpha.ym", ym_song(50, 0, "Alpha", "Tester"), "1/4  Alpha - Tester  0:03"},
      // No title: the file's name; no loop: once, without the fade.
      {"untitled.ym", ym_song(75, 75, "", ""), "2/4  untitled.ym  0:01"},
      {"cut.psg", "PSG\x1A", "mova: cut.psg: "},
      {"log.txt", kTextHeader + "0:07:38\n0:08:0F\n2000000:08:00\n",
       "4/4  log.txt  0:02"},
  };
  std::vector<std::string> args = {"play", "--fade", "1"};
  for (const Case& c : cases) {
    write_file(dir_.file(c.name), c.content);
    args.push_back(c.name);
  }
  ProcessOptions options;
  options.working_directory = dir_.path();
  for (const auto& [name, value] : server_.environment())
    options.environment.emplace_back(name, value);
  options.environment.emplace_back("TERM", "xterm");
  const ProcessResult r = run_program(MOVA_EXE, args, options);
  EXPECT_EQ(r.exit_code, 9) << r.err;  // the cut song's
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err.find('\x1b'), std::string::npos) << r.err;
  size_t at = 0;
  for (const Case& c : cases) {
    const size_t end = r.err.find('\n', at);
    ASSERT_NE(end, std::string::npos) << r.err;
    const std::string line = r.err.substr(at, end - at);
    EXPECT_EQ(line.rfind(c.line, 0), 0u) << line;
    // The rest of a song's line names its engine; of an error, what is wrong.
    EXPECT_GT(line.size(), c.line.size()) << line;
    at = end + 1;
  }
  EXPECT_EQ(at, r.err.size()) << r.err;
}

}  // namespace
