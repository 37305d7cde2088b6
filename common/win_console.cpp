// The console keyboard on Windows.
#include <conio.h>
#include <io.h>
#include <windows.h>

#include <cstdio>

#include "common/console.h"

void console_wait_for_key() {
  // _isatty alone is not enough: it also says yes for the NUL device, which a
  // batch job or a scheduler often hands a program as its input. Only a real
  // console input buffer has a console mode.
  if (!_isatty(_fileno(stdin))) return;
  DWORD mode = 0;
  if (!GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode)) return;

  // One keystroke, no echo, no Enter. A function or arrow key arrives as two
  // codes, a prefix (0 or 0xE0) and the key itself: take both, so that the
  // second one is not left for whoever reads the console next.
  const int key = _getch();
  if (key == 0 || key == 0xE0) _getch();
}

// _getch changes no console mode that outlives it.
void console_restore() {}
