// The terminal on Windows: the console API, its key events and virtual-key
// codes, where terminfo has no place.
#include <windows.h>

#include <string>

#include "common/interrupts.h"
#include "mova/terminal.h"

namespace {

// What a Ctrl-C needs to put the console back, reachable from the control
// handler's thread.
struct RestoreOnInterrupt {
  HANDLE input = INVALID_HANDLE_VALUE;
  DWORD saved_mode = 0;
  volatile LONG active = 0;
};
RestoreOnInterrupt on_interrupt;

void restore_from_interrupt() {
  if (InterlockedExchange(&on_interrupt.active, 0) != 0)
    SetConsoleMode(on_interrupt.input, on_interrupt.saved_mode);
}

class WinTerminal final : public Terminal {
 public:
  bool open() {
    input_ = GetStdHandle(STD_INPUT_HANDLE);
    output_ = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD output_mode = 0;
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!GetConsoleMode(input_, &saved_mode_) || !GetConsoleMode(output_, &output_mode) ||
        !GetConsoleScreenBufferInfo(output_, &info))
      return false;
    on_interrupt.input = input_;
    on_interrupt.saved_mode = saved_mode_;
    InterlockedExchange(&on_interrupt.active, 1);
    set_interrupt_restorer(restore_from_interrupt);
    // Key events without line input and echo; Ctrl-C still interrupts.
    const DWORD raw =
        (saved_mode_ & ~(ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT)) | ENABLE_PROCESSED_INPUT;
    if (!SetConsoleMode(input_, raw)) {
      restore();
      return false;
    }
    changed_ = true;
    return true;
  }

  ~WinTerminal() override { restore(); }

  Key read_key(int timeout_ms) override {
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(timeout_ms);
    for (;;) {
      const ULONGLONG now = GetTickCount64();
      const DWORD wait = now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
      if (WaitForSingleObject(input_, wait) != WAIT_OBJECT_0) return Key::None;
      INPUT_RECORD record{};
      DWORD got = 0;
      if (!ReadConsoleInputW(input_, &record, 1, &got) || got == 0) return Key::None;
      if (record.EventType != KEY_EVENT || !record.Event.KeyEvent.bKeyDown) continue;
      const Key key = decode(record.Event.KeyEvent);
      if (key != Key::None) return key;
    }
  }

  void show_status(std::string_view line) override {
    // Written from the line's start and padded with blanks to the width, in
    // one write: the console has no "clear to the end of the line".
    std::string text = "\r";
    text.append(line);
    const int room = width() - 1;
    if (static_cast<int>(line.size()) < room)
      text.append(static_cast<size_t>(room) - line.size(), ' ');
    write_utf8(text);
  }

  void clear_status() override {
    std::string text = "\r";
    text.append(static_cast<size_t>(width() - 1), ' ');
    text += '\r';
    write_utf8(text);
  }

  int width() override {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!GetConsoleScreenBufferInfo(output_, &info)) return 80;
    const int columns = info.srWindow.Right - info.srWindow.Left + 1;
    return columns > 1 ? columns : 80;
  }

  void restore() override {
    if (!changed_ && on_interrupt.active == 0) return;
    set_interrupt_restorer(nullptr);
    InterlockedExchange(&on_interrupt.active, 0);
    SetConsoleMode(input_, saved_mode_);
    changed_ = false;
  }

 private:
  static Key decode(const KEY_EVENT_RECORD& key) {
    switch (key.wVirtualKeyCode) {
      case VK_LEFT: return Key::Left;
      case VK_RIGHT: return Key::Right;
      case VK_UP: return Key::Up;
      case VK_DOWN: return Key::Down;
      case VK_SPACE: return Key::Space;
      case VK_SHIFT:
      case VK_CONTROL:
      case VK_MENU: return Key::None;  // alone: no key
      default: break;
    }
    switch (key.uChar.UnicodeChar) {
      case L'n':
      case L'N': return Key::Next;
      case L'p':
      case L'P': return Key::Previous;
      case L'q':
      case L'Q': return Key::Quit;
      default: return Key::Other;
    }
  }

  void write_utf8(const std::string& text) {
    const int wide_length = MultiByteToWideChar(
        CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(wide_length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                        wide.data(), wide_length);
    DWORD written = 0;
    WriteConsoleW(output_, wide.data(), static_cast<DWORD>(wide.size()), &written,
                  nullptr);
  }

  HANDLE input_ = INVALID_HANDLE_VALUE, output_ = INVALID_HANDLE_VALUE;
  DWORD saved_mode_ = 0;
  bool changed_ = false;
};

}  // namespace

std::unique_ptr<Terminal> open_terminal() {
  auto terminal = std::make_unique<WinTerminal>();
  if (!terminal->open()) return nullptr;
  return terminal;
}
