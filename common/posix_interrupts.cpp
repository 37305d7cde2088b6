// Signals on POSIX systems.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

#include "common/console.h"
#include "common/interrupts.h"

namespace {

void on_interrupt(int signal_number) {
  delete_guarded_files();
  console_restore();
  run_interrupt_restorer();
  // The default action, with the signal unblocked, ends the process the way
  // the signal would have without a handler.
  ::signal(signal_number, SIG_DFL);
  sigset_t just_this;
  sigemptyset(&just_this);
  sigaddset(&just_this, signal_number);
  sigprocmask(SIG_UNBLOCK, &just_this, nullptr);
  raise(signal_number);
}

void keep_standard_descriptors_open(ClosedDescriptors closed) {
  const bool failing = closed == ClosedDescriptors::Failing;
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
      // The lowest free number is fd itself.
      const bool input = fd == STDIN_FILENO;
      open("/dev/null", input != failing ? O_RDONLY : O_WRONLY);
    }
  }
}

}  // namespace

void install_interrupt_handling(ClosedDescriptors closed) {
  keep_standard_descriptors_open(closed);
  ::signal(SIGPIPE, SIG_IGN);
  constexpr int kHandled[] = {SIGINT, SIGTERM, SIGHUP};
  struct sigaction action {};
  action.sa_handler = on_interrupt;
  // One handler at a time: a second signal waits until the first has
  // deleted the files and ended the process.
  sigemptyset(&action.sa_mask);
  for (const int signal_number : kHandled) sigaddset(&action.sa_mask, signal_number);
  for (const int signal_number : kHandled) {
    struct sigaction previous {};
    if (sigaction(signal_number, nullptr, &previous) == 0 &&
        previous.sa_handler == SIG_IGN) {
      continue;
    }
    sigaction(signal_number, &action, nullptr);
  }
}
