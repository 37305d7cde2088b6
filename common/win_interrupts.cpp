// Console control events on Windows. The handler runs on a thread of its own;
// returning FALSE lets the default handler end the process as Ctrl-C does.
// Windows has no SIGPIPE: a write to a closed pipe simply fails.
#include <windows.h>

#include "common/interrupts.h"

namespace {

BOOL WINAPI on_control(DWORD event) {
  if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT || event == CTRL_CLOSE_EVENT) {
    delete_guarded_files();
    run_interrupt_restorer();
  }
  return FALSE;
}

}  // namespace

void install_interrupt_handling(ClosedDescriptors /*closed*/) {
  SetConsoleCtrlHandler(on_control, TRUE);
}
