// Threads and thread messages on Windows: the refill thread's own message
// queue is where the wave output device posts its notifications.
#include <windows.h>

#include <cstddef>

#include "audio/audio_sink.h"
#include "audio/engine_threads.h"

namespace {

struct StartRecord {
  int (*routine)(void*) = nullptr;
  void* argument = nullptr;
  HANDLE queue_ready = nullptr;
};

DWORD WINAPI thread_main(LPVOID raw) {
  StartRecord* record = static_cast<StartRecord*>(raw);
  int (*routine)(void*) = record->routine;
  void* argument = record->argument;
  // A thread gets its message queue with its first call to a message
  // function, and PostThreadMessageW fails until then. Make the queue before
  // anyone is told the thread exists, so no notification is lost.
  MSG message;
  PeekMessageW(&message, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
  SetEvent(record->queue_ready);
  return static_cast<DWORD>(routine(argument));
}

// The device hands a buffer back by its wave header, which lives inside the
// buffer's SinkBuffer.
SinkBuffer* buffer_of(LPARAM header) {
  if (header == 0) return nullptr;
  return reinterpret_cast<SinkBuffer*>(reinterpret_cast<unsigned char*>(header) -
                                       offsetof(SinkBuffer, device_header));
}

class WinThreads final : public EngineThreads {
 public:
  ThreadId start_thread(int (*routine)(void*), void* argument) override {
    record_.routine = routine;
    record_.argument = argument;
    record_.queue_ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (record_.queue_ready == nullptr) return 0;
    DWORD id = 0;
    HANDLE thread = CreateThread(nullptr, 0, thread_main, &record_, 0, &id);
    if (thread == nullptr) {
      CloseHandle(record_.queue_ready);
      return 0;
    }
    WaitForSingleObject(record_.queue_ready, INFINITE);
    CloseHandle(record_.queue_ready);
    // Nobody waits for the thread: the device's close message ends it.
    CloseHandle(thread);
    return id;
  }

  void raise_priority() override {
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_HIGHEST);
  }

  bool get_message(ThreadMessage* message) override {
    MSG posted;
    // 0: the queue has ended (quit); -1: an error, which ends it as well.
    if (GetMessageW(&posted, nullptr, 0, 0) <= 0) return false;
    message->id = posted.message;
    message->buffer =
        posted.message == kMessageBufferDone ? buffer_of(posted.lParam) : nullptr;
    return true;
  }

  bool post_message(ThreadId thread, const ThreadMessage& message) override {
    const LPARAM header = message.buffer == nullptr
                              ? 0
                              : reinterpret_cast<LPARAM>(message.buffer->device_header);
    return PostThreadMessageW(thread, message.id, 0, header) != 0;
  }

  void sleep_ms(uint32_t milliseconds) override { Sleep(milliseconds); }

 private:
  StartRecord record_;
};

}  // namespace

EngineThreads& system_threads() {
  // Never destroyed: the refill thread is never waited for, and one that has
  // yet to take its first message when the process exits (after a device
  // that failed to open at once) must still find the object whole.
  static WinThreads& threads = *new WinThreads;
  return threads;
}
