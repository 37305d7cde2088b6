// The terminal `mova play` shows its status on and reads its keys from,
// behind a small interface so that the rest of mova includes no platform
// header. POSIX: terminfo (ncurses' tinfo) for the capabilities and the
// keys' sequences; Windows: the console API.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

enum class Key : uint8_t {
  None,  // no key within the time given
  Space,
  Left,
  Right,
  Up,
  Down,
  Next,      // 'n'
  Previous,  // 'p'
  Quit,      // 'q'
  Other,
};

class Terminal {
 public:
  virtual ~Terminal() = default;
  // The next key, waiting at most timeout_ms (0: only what is there).
  virtual Key read_key(int timeout_ms) = 0;
  // Replaces the current line with `line` in one write: back to the line's
  // start, the text, then clear to its end (no blank moment, no flicker).
  virtual void show_status(std::string_view line) = 0;
  // Clears the status line, leaving the cursor at its start.
  virtual void clear_status() = 0;
  // Columns now (the user may resize the window while a song plays).
  virtual int width() = 0;
  // Puts the terminal back as the user had it; also done by the destructor,
  // and on Ctrl-C, SIGTERM and SIGHUP through common/interrupts.h. Safe to
  // call more than once.
  virtual void restore() = 0;
};

// Takes over the terminal: keys without Enter and without echo, the cursor
// hidden, the cursor keys in the mode whose sequences terminfo describes.
// Null when the standard input or output is no terminal, or the terminal
// is unknown; the caller then prints plain lines and reads no keys. One at
// a time.
std::unique_ptr<Terminal> open_terminal();
