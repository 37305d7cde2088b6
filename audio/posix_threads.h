// Threads with message queues on POSIX systems, for the live engine and the
// ALSA sink.
#pragma once

#include <pthread.h>

#include "audio/engine_threads.h"

class PosixThreads final : public EngineThreads {
 public:
  static constexpr int kMaxThreads = 2;
  // Far more than can be in flight: six buffers, the open and the close.
  static constexpr int kQueueLength = 32;

  // The program never waits for its threads, so they are detached. Tests
  // keep them joinable, to wait for them before the instance goes away.
  enum class Waiting { Never, ByJoin };
  explicit PosixThreads(Waiting waiting = Waiting::Never) : waiting_(waiting) {}
  PosixThreads(const PosixThreads&) = delete;
  PosixThreads& operator=(const PosixThreads&) = delete;

  ThreadId start_thread(int (*routine)(void*), void* argument) override;
  void raise_priority() override;
  bool get_message(ThreadMessage* message) override;
  bool post_message(ThreadId thread, const ThreadMessage& message) override;
  void sleep_ms(uint32_t milliseconds) override;

  // Waits until the thread has returned and gives back its routine's result.
  // Only for an instance made with Waiting::ByJoin; -1 otherwise.
  int join(ThreadId thread);

 private:
  // The mutex and condition variables are plain POSIX objects without
  // destructors, so a thread still waiting when the process exits finds
  // nothing torn down under it.
  struct Slot {
    pthread_t thread{};
    pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
    pthread_cond_t posted = PTHREAD_COND_INITIALIZER;
    ThreadMessage queue[kQueueLength];
    int head = 0;
    int count = 0;
    bool used = false;
    int (*routine)(void*) = nullptr;
    void* argument = nullptr;
    PosixThreads* owner = nullptr;
    ThreadId id = 0;
  };
  static void* thread_main(void* slot);

  Waiting waiting_;
  Slot slots_[kMaxThreads];
};
