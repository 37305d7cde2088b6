// The console keyboard on POSIX terminals.
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "common/console.h"

namespace {

// The user's settings while the wait has changed them, for console_restore().
termios saved{};
volatile sig_atomic_t terminal_changed = 0;

}  // namespace

void console_restore() {
  if (terminal_changed != 0) tcsetattr(STDIN_FILENO, TCSANOW, &saved);
}

void console_wait_for_key() {
  // Nobody can press a key on a pipe, a file or /dev/null: do not wait.
  if (!isatty(STDIN_FILENO)) return;

  if (tcgetattr(STDIN_FILENO, &saved) != 0) return;

  // Raw enough for a single keystroke: no line editing, no echo.
  termios raw = saved;
  raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  terminal_changed = 1;
  if (tcsetattr(STDIN_FILENO, TCSANOW, &raw) != 0) {
    terminal_changed = 0;
    return;
  }

  unsigned char key = 0;
  ssize_t got = 0;
  do {
    got = read(STDIN_FILENO, &key, 1);
  } while (got < 0 && errno == EINTR);

  // Put the terminal back the way the user had it, whatever the read did.
  tcsetattr(STDIN_FILENO, TCSANOW, &saved);
  terminal_changed = 0;
}
