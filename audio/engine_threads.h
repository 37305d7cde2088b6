// Threads and thread messages as the live engine uses them: one extra thread
// with its own message queue, which the sound device posts to.
#pragma once

#include <cstdint>

struct SinkBuffer;

// Identifies a thread's message queue; 0 names no thread.
using ThreadId = uint32_t;

struct ThreadMessage {
  uint32_t id = 0;
  SinkBuffer* buffer = nullptr;  // the buffer a kMessageBufferDone is about
};

class EngineThreads {
 public:
  virtual ~EngineThreads() = default;

  // Starts a thread running routine(argument) at once, with a message queue
  // that is ready before this returns. Nobody waits for the thread. Returns
  // its identifier, 0 when it could not be created.
  virtual ThreadId start_thread(int (*routine)(void*), void* argument) = 0;
  // Raises the calling thread's priority above the busy main thread, as far
  // as the system allows; failure is not an error.
  virtual void raise_priority() = 0;
  // Blocks until a message is posted to the calling thread. Returns false
  // when its queue has ended.
  virtual bool get_message(ThreadMessage* message) = 0;
  // Posts a message to thread's queue. Returns false when it was not posted.
  virtual bool post_message(ThreadId thread, const ThreadMessage& message) = 0;
  virtual void sleep_ms(uint32_t milliseconds) = 0;
};

// The system's threads and message queues (one set per program).
EngineThreads& system_threads();
