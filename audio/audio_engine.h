// The live audio engine: six buffers circulating between the sound device and
// the refill thread, which refills each one from the sample ring as it comes
// back.
//
// Threads: start() and stop() run on the main thread; the refill thread runs
// refill_thread(). They share the stopping flag (one atomic 32-bit value) and
// the ring (its own rules). A buffer is written by start() before it is first
// queued and afterwards only by the refill thread, between its return from
// the device and its next queuing. No lock is taken.
#pragma once

#include <atomic>
#include <cstdint>

#include "audio/audio_sink.h"
#include "audio/engine_threads.h"
#include "psg/sample_ring.h"

class AudioEngine {
 public:
  static constexpr int kBufferCount = 6;
  static constexpr uint32_t kBufferBytes = SampleRing::kDrainBytes;  // 1536 frames
  static constexpr uint32_t kCloseRetryMs = 10;

  AudioEngine(SampleRing& ring, AudioSink& sink, EngineThreads& threads)
      : ring_(ring), sink_(sink), threads_(threads) {}

  // Starts the refill thread, opens the device and queues six buffers of
  // silence, or with `primed` of what the ring holds (silence where it runs
  // out), so that sound starts at once. Returns false when the thread or the
  // device can't be had. The levels the chip plays at are the caller's to
  // install once this worked.
  bool start(bool primed = false);

  // Stops queuing, pauses the device, takes every buffer back and closes the
  // device, retrying while it is still playing. What was queued or still in
  // the ring is never played. Does not wait for the refill thread.
  void stop();

  // The refill thread's routine: refills and requeues every buffer the device
  // hands back until the device reports it is closed (returns 1) or the
  // message queue ends (returns 0).
  int refill_thread();

  // Test access.
  SinkBuffer& buffer(int index) { return headers_[index]; }
  const uint8_t* buffer_storage() const { return storage_; }
  bool stopping() const { return stopping_.load(std::memory_order_acquire) != 0; }

 private:
  static int refill_entry(void* engine) {
    return static_cast<AudioEngine*>(engine)->refill_thread();
  }
  // Refills one returned buffer from the ring, or with silence, and queues it.
  void refill(SinkBuffer* buffer);

  SampleRing& ring_;
  AudioSink& sink_;
  EngineThreads& threads_;
  // 1 from the start of stop() on: the refill thread then queues nothing.
  std::atomic<int32_t> stopping_{0};
  SinkBuffer headers_[kBufferCount];
  alignas(64) uint8_t storage_[kBufferCount * kBufferBytes] = {};
};
