// The wait for a key at exit, seen from a real terminal (a pseudo-terminal).
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <string>
#include <thread>

namespace {

class TerminalRun {
 public:
  // Starts program without arguments on a new pseudo-terminal; PROMPT is
  // removed from its environment, or set to prompt when given.
  TerminalRun(const char* program, const char* prompt) {
    pid_ = forkpty(&master_, nullptr, nullptr, nullptr);
    if (pid_ == 0) {
      if (prompt == nullptr) {
        unsetenv("PROMPT");
      } else {
        setenv("PROMPT", prompt, 1);
      }
      execl(program, program, static_cast<char*>(nullptr));
      _exit(127);
    }
  }
  ~TerminalRun() {
    if (pid_ > 0 && !exited_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (master_ >= 0) close(master_);
  }

  bool started() const { return pid_ > 0; }

  // Reads what the program shows until text appears or the time is up.
  bool wait_for_output(const std::string& text, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (screen_.find(text) == std::string::npos) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      pollfd fd{master_, POLLIN, 0};
      if (poll(&fd, 1, static_cast<int>(left.count())) <= 0) continue;
      char buffer[256];
      const ssize_t got = read(master_, buffer, sizeof buffer);
      if (got <= 0) return screen_.find(text) != std::string::npos;
      screen_.append(buffer, static_cast<size_t>(got));
    }
    return true;
  }

  // Whether the program has ended within the time given; sets exit_code.
  bool ended_within(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        exited_ = true;
        exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        term_signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
        return true;
      }
      // Keep the terminal drained so the program never blocks on output.
      wait_for_output("\x01", std::chrono::milliseconds(20));
    }
    return false;
  }

  void press_key() { ASSERT_EQ(write(master_, "x", 1), 1); }
  void press_ctrl_c() { ASSERT_EQ(write(master_, "\x03", 1), 1); }

  // Whether the terminal echoes and edits lines, as a shell leaves it.
  bool terminal_is_cooked() const {
    termios settings{};
    return tcgetattr(master_, &settings) == 0 && (settings.c_lflag & ECHO) != 0 &&
           (settings.c_lflag & ICANON) != 0;
  }

  int exit_code = -1;
  int term_signal = 0;

 private:
  pid_t pid_ = -1;
  int master_ = -1;
  bool exited_ = false;
  std::string screen_;
};

using namespace std::chrono_literals;

TEST(ExitWait, PlayerWaitsForOneKeyOnATerminal) {
  TerminalRun run(ZARNIK_EXE, nullptr);
  ASSERT_TRUE(run.started());
  ASSERT_TRUE(run.wait_for_output("Done.", 5s));
  EXPECT_FALSE(run.ended_within(300ms)) << "it did not wait for a key";
  run.press_key();
  ASSERT_TRUE(run.ended_within(5s));
  EXPECT_EQ(run.exit_code, 1);
}

TEST(ExitWait, ConverterWaitsForOneKeyOnATerminal) {
  TerminalRun run(TUBREL_EXE, nullptr);
  ASSERT_TRUE(run.started());
  ASSERT_TRUE(run.wait_for_output("Usage", 5s));
  EXPECT_FALSE(run.ended_within(300ms)) << "it did not wait for a key";
  run.press_key();
  ASSERT_TRUE(run.ended_within(5s));
  EXPECT_EQ(run.exit_code, 1);
}

TEST(ExitWait, CtrlCDuringTheWaitRestoresTheTerminalAndEndsByTheSignal) {
  for (const char* program : {ZARNIK_EXE, TUBREL_EXE}) {
    TerminalRun run(program, nullptr);
    ASSERT_TRUE(run.started());
    // A new pseudo-terminal starts cooked; asking here would race with a
    // program quick enough to be in its wait already.
    // Ctrl-C only once the wait has switched the terminal to single keys.
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (run.terminal_is_cooked() && std::chrono::steady_clock::now() < deadline) {
      run.wait_for_output("\x01", 10ms);
    }
    ASSERT_FALSE(run.terminal_is_cooked()) << program << " never waited";
    run.press_ctrl_c();
    ASSERT_TRUE(run.ended_within(5s)) << program;
    EXPECT_EQ(run.term_signal, SIGINT) << program;
    EXPECT_TRUE(run.terminal_is_cooked()) << program;
  }
}

TEST(ExitWait, AnEmptyPromptVariableMeansNoWait) {
  for (const char* program : {ZARNIK_EXE, TUBREL_EXE}) {
    TerminalRun run(program, "");
    ASSERT_TRUE(run.started());
    EXPECT_TRUE(run.ended_within(5s)) << program;
    EXPECT_EQ(run.exit_code, 1);
  }
}

}  // namespace
