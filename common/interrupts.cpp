#include "common/interrupts.h"

#include <atomic>
#include <cstring>

#include "common/files.h"

namespace {

// Fixed storage: a signal handler can neither allocate nor lock. A slot's
// path is complete before the slot is marked in use, and the handler reads
// only slots marked in use.
constexpr int kSlots = 4;
char guarded_paths[kSlots][kMaxGuardedPath];
std::atomic<bool> slot_in_use[kSlots];
static_assert(std::atomic<bool>::is_always_lock_free);
std::atomic<void (*)()> restorer{nullptr};
static_assert(std::atomic<void (*)()>::is_always_lock_free);

}  // namespace

int guard_file(const char* path) {
  const size_t length = std::strlen(path);
  if (length >= static_cast<size_t>(kMaxGuardedPath)) return -1;
  for (int slot = 0; slot < kSlots; ++slot) {
    if (slot_in_use[slot].load()) continue;
    std::memcpy(guarded_paths[slot], path, length + 1);
    slot_in_use[slot].store(true);
    return slot;
  }
  return -1;
}

void release_guarded_file(int slot) {
  if (slot >= 0 && slot < kSlots) slot_in_use[slot].store(false);
}

void delete_guarded_files() {
  for (int slot = 0; slot < kSlots; ++slot) {
    if (slot_in_use[slot].load()) delete_file(guarded_paths[slot]);
  }
}

void set_interrupt_restorer(void (*restore)()) {
  restorer.store(restore);
}

void run_interrupt_restorer() {
  if (void (*restore)() = restorer.load()) restore();
}
