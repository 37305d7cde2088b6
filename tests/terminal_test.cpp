// The terminal seen from a pseudo-terminal: keys typed are decoded, the
// status line is drawn in place, and the terminal's modes come back on a
// quit and on SIGTERM alike.
#include "mova/terminal.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "common/interrupts.h"

namespace {

const char* key_name(Key key) {
  constexpr const char* kNames[] = {"none", "space", "left",     "right", "up",
                                    "down", "next",  "previous", "quit",  "other"};
  return kNames[static_cast<int>(key)];
}

// In the child, on the pseudo-terminal: every key read shown as <name>
// until 'q', then the terminal restored.
[[noreturn]] void echo_keys() {
  install_interrupt_handling();
  const std::unique_ptr<Terminal> terminal = open_terminal();
  if (!terminal) _exit(3);
  terminal->show_status("READY");
  for (;;) {
    const Key key = terminal->read_key(5000);
    std::printf("<%s>", key_name(key));
    std::fflush(stdout);
    if (key == Key::Quit || key == Key::None) break;
  }
  terminal->restore();
  _exit(0);
}

class PtyChild {
 public:
  PtyChild() {
    pid_ = forkpty(&master_, nullptr, nullptr, nullptr);
    if (pid_ == 0) {
      setenv("TERM", "xterm", 1);
      echo_keys();
    }
  }
  ~PtyChild() {
    if (pid_ > 0 && !ended_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (master_ >= 0) close(master_);
  }

  bool wait_for(const std::string& text) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (seen.find(text) == std::string::npos) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      pollfd fd{master_, POLLIN, 0};
      if (poll(&fd, 1, 50) <= 0) continue;
      char buffer[256];
      const ssize_t got = read(master_, buffer, sizeof buffer);
      if (got <= 0) return seen.find(text) != std::string::npos;
      seen.append(buffer, static_cast<size_t>(got));
    }
    return true;
  }
  void type(const std::string& bytes) {
    ASSERT_EQ(write(master_, bytes.data(), bytes.size()),
              static_cast<ssize_t>(bytes.size()));
  }
  // The child's exit status, after it has ended.
  int end() {
    int status = 0;
    waitpid(pid_, &status, 0);
    ended_ = true;
    return status;
  }
  void terminate() { kill(pid_, SIGTERM); }
  bool cooked() const {
    termios modes{};
    return tcgetattr(master_, &modes) == 0 && (modes.c_lflag & ECHO) != 0 &&
           (modes.c_lflag & ICANON) != 0;
  }

  std::string seen;
  int master_ = -1;

 private:
  pid_t pid_ = -1;
  bool ended_ = false;
};

TEST(Terminal, DecodesKeysAndRestoresOnEveryWayOut) {
  struct Case {
    const char* name;
    std::vector<std::string> typed;  // written one piece at a time
    const char* shown;
    bool terminate;  // end with SIGTERM instead of 'q'
  };
  // xterm's terminfo: cursor keys in application mode send ESC O and a letter.
  const Case cases[] = {
      {"every key",
       {" ", "\x1BOC", "\x1BOD", "\x1BOA", "\x1BOB", "n", "p", "x", "Q"},
       "<space><right><left><up><down><next><previous><other><quit>",
       false},
      {"a sequence in pieces, an unknown one, several keys at once",
       {"\x1BO", "C", "\x1B[15~", "npq"},
       "<right><other><next><previous><quit>",
       false},
      {"the keys' other form, from a terminal that ignores the keypad mode",
       {"\x1B[C", "\x1B[D", "q"},
       "<right><left><quit>",
       false},
      {"SIGTERM while waiting", {"n"}, "<next>", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PtyChild child;
    ASSERT_TRUE(child.wait_for("READY")) << child.seen;
    // Keypad mode on, cursor hidden, the status drawn from the line's start
    // and cleared to its end.
    EXPECT_NE(child.seen.find("\x1B[?1h"), std::string::npos);
    EXPECT_NE(child.seen.find("\rREADY\x1B[K"), std::string::npos);
    EXPECT_FALSE(child.cooked());
    for (const std::string& piece : c.typed) {
      child.type(piece);
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_TRUE(child.wait_for(c.shown)) << child.seen;
    if (c.terminate) child.terminate();
    const int status = child.end();
    child.wait_for("\x01");  // what was still on its way
    if (c.terminate) {
      EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
    } else {
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    // Keypad mode off, the cursor back, echo and line editing back.
    EXPECT_NE(child.seen.find("\x1B[?1l"), std::string::npos);
    EXPECT_NE(child.seen.find("\x1B[?25h"), std::string::npos);
    EXPECT_TRUE(child.cooked());
  }
}

}  // namespace
