#include "audio/posix_threads.h"

#include <sched.h>
#include <time.h>

#include <cerrno>
#include <cstdint>

namespace {

// The slot of the calling thread, set as each thread starts.
thread_local void* current_slot = nullptr;

}  // namespace

void* PosixThreads::thread_main(void* raw) {
  Slot* slot = static_cast<Slot*>(raw);
  current_slot = slot;
  const int result = slot->routine(slot->argument);
  // A thread nobody joins gives its slot back as it ends, so that a player
  // that opens the device again and again (a pause, a seek) finds one free.
  if (slot->owner->waiting_ != Waiting::ByJoin) {
    pthread_mutex_lock(&slot->lock);
    slot->count = 0;
    slot->used = false;
    pthread_mutex_unlock(&slot->lock);
  }
  return reinterpret_cast<void*>(static_cast<intptr_t>(result));
}

ThreadId PosixThreads::start_thread(int (*routine)(void*), void* argument) {
  for (int i = 0; i < kMaxThreads; ++i) {
    Slot& slot = slots_[i];
    // Taken under the slot's lock: an ending thread gives its slot back.
    pthread_mutex_lock(&slot.lock);
    const bool taken = slot.used;
    slot.used = true;
    pthread_mutex_unlock(&slot.lock);
    if (taken) continue;
    slot.routine = routine;
    slot.argument = argument;
    slot.owner = this;
    slot.id = static_cast<ThreadId>(i + 1);
    slot.head = 0;
    slot.count = 0;
    // The queue exists before the thread does, so nothing posted is lost.
    pthread_attr_t attributes;
    if (pthread_attr_init(&attributes) != 0) {
      slot.used = false;
      return 0;
    }
    pthread_attr_setdetachstate(&attributes, waiting_ == Waiting::ByJoin
                                                 ? PTHREAD_CREATE_JOINABLE
                                                 : PTHREAD_CREATE_DETACHED);
    const int created = pthread_create(&slot.thread, &attributes, thread_main, &slot);
    pthread_attr_destroy(&attributes);
    if (created != 0) {
      slot.used = false;
      return 0;
    }
    return slot.id;
  }
  return 0;
}

void PosixThreads::raise_priority() {
  // Real-time scheduling needs privileges that a desktop user usually lacks;
  // then the thread simply keeps its normal priority. It sleeps between
  // buffers, so it can never starve the rest of the system.
  sched_param param{};
  param.sched_priority = sched_get_priority_min(SCHED_FIFO);
  pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
}

bool PosixThreads::get_message(ThreadMessage* message) {
  Slot* slot = static_cast<Slot*>(current_slot);
  if (slot == nullptr || slot->owner != this) return false;
  pthread_mutex_lock(&slot->lock);
  while (slot->count == 0) pthread_cond_wait(&slot->posted, &slot->lock);
  *message = slot->queue[slot->head];
  slot->head = (slot->head + 1) % kQueueLength;
  --slot->count;
  pthread_mutex_unlock(&slot->lock);
  return true;
}

bool PosixThreads::post_message(ThreadId thread, const ThreadMessage& message) {
  if (thread == 0 || thread > static_cast<ThreadId>(kMaxThreads)) return false;
  Slot& slot = slots_[thread - 1];
  pthread_mutex_lock(&slot.lock);
  const bool room = slot.used && slot.count < kQueueLength;
  if (room) {
    slot.queue[(slot.head + slot.count) % kQueueLength] = message;
    ++slot.count;
    pthread_cond_signal(&slot.posted);
  }
  pthread_mutex_unlock(&slot.lock);
  return room;
}

void PosixThreads::sleep_ms(uint32_t milliseconds) {
  timespec wait{static_cast<time_t>(milliseconds / 1000),
                static_cast<long>(milliseconds % 1000) * 1000000L};
  while (nanosleep(&wait, &wait) != 0 && errno == EINTR) {
  }
}

int PosixThreads::join(ThreadId thread) {
  if (thread == 0 || thread > static_cast<ThreadId>(kMaxThreads)) return -1;
  Slot& slot = slots_[thread - 1];
  if (!slot.used || waiting_ != Waiting::ByJoin) return -1;
  void* result = nullptr;
  pthread_join(slot.thread, &result);
  slot.used = false;
  return static_cast<int>(reinterpret_cast<intptr_t>(result));
}

EngineThreads& system_threads() {
  // Never destroyed: the refill thread is never waited for, and one that has
  // yet to take its first message when the process exits (after a device
  // that failed to open at once) must still find the object whole.
  static PosixThreads& threads = *new PosixThreads;
  return threads;
}
