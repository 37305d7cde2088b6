// A write past RLIMIT_FSIZE raises SIGXFSZ, whose default action kills the
// process and leaves a half-written file behind. Ignored, the write fails
// with EFBIG instead and takes the ordinary failure path.
#include <csignal>

#include "common/file_limits.h"

void make_oversized_writes_fail() {
  std::signal(SIGXFSZ, SIG_IGN);
}
