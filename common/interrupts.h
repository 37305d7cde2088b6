// What an interruption leaves behind: Ctrl-C, SIGTERM or SIGHUP (Ctrl-C or
// Ctrl-Break on Windows) remove the temporary files the program registered
// and end it with the status the signal gives (128 + the signal number in a
// POSIX shell). A write to a closed pipe is an ordinary failed write.
#pragma once

// What stands in for a standard descriptor the program was started without,
// so that no file the program opens takes its number (and receives the
// progress lines or the messages).
enum class ClosedDescriptors : unsigned char {
  NullDevice,  // the null device: what goes there vanishes, as with >/dev/null
  Failing,     // the null device open for the other direction only: every
               // read or write fails (EBADF) as on the closed descriptor
};

// Called once, first thing, by every program: ignores SIGPIPE, fills any
// standard descriptor the program was started without as closed says (POSIX),
// and installs the handlers, except for a signal the caller already ignores
// (as nohup does). Implemented once per platform.
void install_interrupt_handling(ClosedDescriptors closed = ClosedDescriptors::NullDevice);

// Longest path (terminating NUL included) that guard_file() takes.
inline constexpr int kMaxGuardedPath = 4096;

// Registers a copy of path as a file to delete on interruption, before it is
// created. Returns the slot to release, or -1 when the path is too long or
// every slot is taken (the file is then not removed on interruption).
int guard_file(const char* path);

// Forgets the file in slot (no-op for -1); the file itself stays.
void release_guarded_file(int slot);

// Deletes every registered file. Async-signal-safe: called by the handlers.
void delete_guarded_files();

// A function that puts back what the program changed outside itself (the
// terminal's modes), called by the handlers after deleting the guarded files.
// It must be async-signal-safe. One at a time; null forgets it.
void set_interrupt_restorer(void (*restore)());

// Calls the function set above, if any. Async-signal-safe.
void run_interrupt_restorer();
