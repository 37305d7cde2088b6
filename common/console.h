// The console's keyboard, behind a small interface so that the rest of the
// programs never include a platform header.
#pragma once

// Waits for one keystroke from the console, without echo and without Enter,
// and discards it. Returns at once when there is no console keyboard to read
// (the standard input is a file, a pipe or closed), so that batch jobs never
// hang. Implemented once per platform.
void console_wait_for_key();

// Puts the terminal back the way the user had it if console_wait_for_key()
// is waiting right now; otherwise does nothing. Async-signal-safe: called by
// the interruption handlers.
void console_restore();
