// The terminal on POSIX systems, through terminfo.
#include <curses.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <term.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

#include "common/interrupts.h"
#include "mova/terminal.h"

// term.h names its capabilities as macros; none of them is used here.
#undef columns
#undef lines

namespace {

// What an interruption needs to put the terminal back: kept where a signal
// handler can reach it without allocating, filled before the terminal is
// changed and marked active last.
struct RestoreOnSignal {
  termios saved{};
  char reset[128] = {};  // leave keypad mode, show the cursor
  size_t reset_length = 0;
  volatile sig_atomic_t active = 0;
};
RestoreOnSignal on_signal;

void restore_from_signal() {
  if (on_signal.active == 0) return;
  on_signal.active = 0;
  if (on_signal.reset_length != 0) {
    [[maybe_unused]] const ssize_t ignored =
        write(STDOUT_FILENO, on_signal.reset, on_signal.reset_length);
  }
  tcsetattr(STDIN_FILENO, TCSANOW, &on_signal.saved);
}

// A string capability, or empty when the terminal has none.
std::string capability(const char* name) {
  const char* value = tigetstr(name);
  if (value == nullptr || value == reinterpret_cast<const char*>(-1)) return {};
  return value;
}

void put(const std::string& cap) {
  if (!cap.empty()) tputs(cap.c_str(), 1, putchar);
}

class PosixTerminal final : public Terminal {
 public:
  bool open() {
    int error = 0;
    if (setupterm(nullptr, STDOUT_FILENO, &error) != OK) return false;
    clear_to_end_ = capability("el");
    return_ = capability("cr");
    if (clear_to_end_.empty() || return_.empty()) return false;
    keypad_on_ = capability("smkx");
    keypad_off_ = capability("rmkx");
    hide_cursor_ = capability("civis");
    show_cursor_ = capability("cnorm");
    const char* names[] = {"kcub1", "kcuf1", "kcuu1", "kcud1"};
    for (int i = 0; i < 4; ++i) {
      arrows_[i] = capability(names[i]);
      // A terminal that ignores the keypad mode sends the cursor keys' other
      // form, ESC [ for ESC O: both are taken.
      if (arrows_[i].size() == 3 && arrows_[i].starts_with("\x1BO")) {
        arrows_[i + 4] = std::string("\x1B[") + arrows_[i][2];
      }
    }
    if (tcgetattr(STDIN_FILENO, &on_signal.saved) != 0) return false;
    const std::string reset = keypad_off_ + show_cursor_;
    on_signal.reset_length = reset.size() < sizeof on_signal.reset ? reset.size() : 0;
    std::memcpy(on_signal.reset, reset.data(), on_signal.reset_length);
    on_signal.active = 1;
    set_interrupt_restorer(restore_from_signal);
    termios raw = on_signal.saved;
    // No line editing, no echo; Ctrl-C still interrupts.
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    if (tcsetattr(STDIN_FILENO, TCSANOW, &raw) != 0) {
      restore();
      return false;
    }
    changed_ = true;
    put(keypad_on_);
    put(hide_cursor_);
    std::fflush(stdout);
    return true;
  }

  ~PosixTerminal() override { restore(); }

  Key read_key(int timeout_ms) override {
    if (pending_.empty() && !wait_for_input(timeout_ms)) return Key::None;
    if (wait_for_input(0)) read_available();
    // A sequence may come in pieces: wait briefly while it is a part of one.
    while (is_part_of_arrow() && wait_for_input(kSequenceWaitMs)) read_available();
    return take_key();
  }

  void show_status(std::string_view line) override {
    put(return_);
    std::fwrite(line.data(), 1, line.size(), stdout);
    put(clear_to_end_);
    std::fflush(stdout);
  }

  void clear_status() override {
    put(return_);
    put(clear_to_end_);
    std::fflush(stdout);
  }

  int width() override {
    winsize size{};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
      return size.ws_col;
    const int columns = tigetnum("cols");
    return columns > 0 ? columns : 80;
  }

  void restore() override {
    if (!changed_ && on_signal.active == 0) return;
    set_interrupt_restorer(nullptr);
    on_signal.active = 0;
    if (changed_) {
      put(keypad_off_);
      put(show_cursor_);
      std::fflush(stdout);
      changed_ = false;
    }
    tcsetattr(STDIN_FILENO, TCSANOW, &on_signal.saved);
  }

 private:
  static constexpr int kSequenceWaitMs = 50;

  static bool wait_for_input(int timeout_ms) {
    pollfd fd{STDIN_FILENO, POLLIN, 0};
    int ready = 0;
    do {
      ready = poll(&fd, 1, timeout_ms);
    } while (ready < 0 && errno == EINTR);
    return ready > 0;
  }

  void read_available() {
    char bytes[64];
    const ssize_t got = read(STDIN_FILENO, bytes, sizeof bytes);
    if (got > 0) pending_.append(bytes, static_cast<size_t>(got));
  }

  bool is_part_of_arrow() const {
    for (const std::string& arrow : arrows_)
      if (!arrow.empty() && pending_.size() < arrow.size() && arrow.starts_with(pending_))
        return true;
    return false;
  }

  Key take_key() {
    if (pending_.empty()) return Key::None;
    constexpr Key kArrowKeys[] = {Key::Left, Key::Right, Key::Up, Key::Down};
    for (int i = 0; i < 8; ++i)
      if (!arrows_[i].empty() && pending_.starts_with(arrows_[i])) {
        pending_.erase(0, arrows_[i].size());
        return kArrowKeys[i % 4];
      }
    const char c = pending_[0];
    if (c == '\x1B') {  // a key we do not use: its whole sequence
      pending_.erase(0, unknown_sequence_length());
      return Key::Other;
    }
    pending_.erase(0, 1);
    switch (c) {
      case ' ': return Key::Space;
      case 'n':
      case 'N': return Key::Next;
      case 'p':
      case 'P': return Key::Previous;
      case 'q':
      case 'Q': return Key::Quit;
      default: return Key::Other;
    }
  }

  // ESC, and after ESC [ or ESC O the bytes up to the final one (@ to ~) of
  // the sequence.
  size_t unknown_sequence_length() const {
    if (pending_.size() < 2 || (pending_[1] != '[' && pending_[1] != 'O')) return 1;
    for (size_t i = 2; i < pending_.size(); ++i)
      if (pending_[i] >= '@' && pending_[i] <= '~') return i + 1;
    return pending_.size();
  }

  std::string clear_to_end_, return_, keypad_on_, keypad_off_, hide_cursor_, show_cursor_;
  // Left, right, up, down as terminfo has them, then their ESC [ forms.
  std::string arrows_[8];
  std::string pending_;  // bytes read and not yet taken as a key
  bool changed_ = false;
};

}  // namespace

std::unique_ptr<Terminal> open_terminal() {
  if (!isatty(STDIN_FILENO) || !isatty(STDOUT_FILENO)) return nullptr;
  auto terminal = std::make_unique<PosixTerminal>();
  if (!terminal->open()) return nullptr;
  return terminal;
}
