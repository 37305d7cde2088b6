// Stand-ins for the platform under the live engine: threads whose message
// queue the test drains by hand, a sound device that plays only when told to,
// and a clock that moves only when asked.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "audio/audio_sink.h"
#include "audio/clock.h"
#include "audio/engine_threads.h"

// The refill thread never runs by itself: the test calls the engine's refill
// routine, which handles what was posted and returns once the queue is empty.
class FakeThreads final : public EngineThreads {
 public:
  ThreadId start_thread(int (*routine)(void*), void* argument) override {
    ++threads_started;
    this->routine = routine;
    this->argument = argument;
    return fail_start ? 0 : kRefillThread;
  }
  void raise_priority() override { ++priority_raised; }
  bool get_message(ThreadMessage* message) override {
    if (queue.empty()) return false;
    *message = queue.front();
    queue.pop_front();
    return true;
  }
  bool post_message(ThreadId thread, const ThreadMessage& message) override {
    if (thread != kRefillThread) return false;
    queue.push_back(message);
    return true;
  }
  void sleep_ms(uint32_t milliseconds) override { sleeps.push_back(milliseconds); }

  static constexpr ThreadId kRefillThread = 7;
  bool fail_start = false;
  int threads_started = 0;
  int priority_raised = 0;
  int (*routine)(void*) = nullptr;
  void* argument = nullptr;
  std::deque<ThreadMessage> queue;
  std::vector<uint32_t> sleeps;
};

// Records every call in order and keeps the device's queue; buffers finish
// only when the test calls finish_oldest().
class ScriptedSink final : public AudioSink {
 public:
  explicit ScriptedSink(FakeThreads& threads) : threads_(threads) {}

  struct Write {
    SinkBuffer* buffer;
    std::vector<uint8_t> bytes;  // what the buffer held when it was queued
  };

  bool open(ThreadId listener) override {
    calls.push_back("open");
    if (fail_open) return false;
    listener_ = listener;
    threads_.post_message(listener_, {kMessageDeviceOpen, nullptr});
    return true;
  }
  void prepare(SinkBuffer*) override { calls.push_back("prepare"); }
  void unprepare(SinkBuffer*) override { calls.push_back("unprepare"); }
  void write(SinkBuffer* buffer) override {
    calls.push_back("write");
    writes.push_back(
        {buffer, std::vector<uint8_t>(buffer->data, buffer->data + buffer->length)});
    queued.push_back(buffer);
  }
  void pause() override { calls.push_back("pause"); }
  void reset() override {
    calls.push_back("reset");
    for (SinkBuffer* buffer : queued) {
      threads_.post_message(listener_, {kMessageBufferDone, buffer});
    }
    queued.clear();
    if (after_reset) after_reset();
  }
  int close() override {
    calls.push_back("close");
    // A close that keeps failing ends the test instead of hanging it.
    if (++close_attempts > 100) return -1;
    if (!queued.empty()) return kSinkStillPlaying;
    threads_.post_message(listener_, {kMessageDeviceClosed, nullptr});
    return 0;
  }

  // The device finished its oldest buffer.
  void finish_oldest() {
    threads_.post_message(listener_, {kMessageBufferDone, queued.front()});
    queued.pop_front();
  }
  int count(const std::string& call) const {
    int n = 0;
    for (const std::string& c : calls) n += c == call;
    return n;
  }

  bool fail_open = false;
  std::function<void()> after_reset;
  std::vector<std::string> calls;
  std::vector<Write> writes;
  std::deque<SinkBuffer*> queued;
  int close_attempts = 0;

 private:
  FakeThreads& threads_;
  ThreadId listener_ = 0;
};

// A counter that advances only when the program yields, by step counts each
// time; any query can be made to fail.
class FakeClock final : public Clock {
 public:
  bool frequency(int64_t* counts_per_second) override {
    *counts_per_second = counts_per_second_;
    return has_counter;
  }
  bool now(int64_t* counts) override {
    ++queries;
    *counts = time;
    return queries != failing_query;
  }
  void yield() override {
    ++yields;
    time += step;
    // A wait that never ends is a failure, not a hung test.
    if (yields > 10000000) failing_query = queries + 1;
  }
  // Wakes `oversleep` counts after the deadline, as systems do.
  bool sleep_until(int64_t counts) override {
    ++sleeps;
    if (counts > time) time = counts;
    time += oversleep;
    return sleep_works;
  }

  int64_t counts_per_second_ = 1000000000;
  bool has_counter = true;
  int64_t time = 0;
  int64_t step = 1000;  // one microsecond at 1 GHz
  int queries = 0;
  int failing_query = 0;  // the query (counting from 1) that fails; 0: none
  int64_t yields = 0;
  int64_t sleeps = 0;
  int64_t oversleep = 0;
  bool sleep_works = true;
};
