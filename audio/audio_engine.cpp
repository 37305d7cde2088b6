#include "audio/audio_engine.h"

#include <cstring>

bool AudioEngine::start(bool primed) {
  stopping_.store(0, std::memory_order_release);

  const ThreadId refill_id = threads_.start_thread(refill_entry, this);
  if (refill_id == 0) return false;

  if (!sink_.open(refill_id)) {
    // The refill thread would otherwise wait for ever for a device that never
    // came. Whether the post arrives does not matter: the process ends next.
    threads_.post_message(refill_id, ThreadMessage{kMessageDeviceClosed, nullptr});
    return false;
  }

  // The device starts with 209 ms of silence, while the chip fills the ring;
  // or with what the ring holds already.
  for (int i = 0; i < kBufferCount; ++i) {
    uint8_t* data = storage_ + i * kBufferBytes;
    std::memset(data, 0, kBufferBytes);
    SinkBuffer& header = headers_[i];
    header = SinkBuffer{};
    header.data = data;
    header.length = kBufferBytes;
    if (primed) {
      bool wrapped = false;
      uint32_t count = ring_.copy_out(data, kBufferBytes, &wrapped);
      if (wrapped && count < kBufferBytes) {
        count += ring_.copy_out(data + count, kBufferBytes - count, &wrapped);
      }
    }
    sink_.prepare(&header);
  }
  for (SinkBuffer& header : headers_) sink_.write(&header);
  return true;
}

void AudioEngine::refill(SinkBuffer* buffer) {
  uint32_t count = ring_.drain(buffer->data);
  // A short drain is queued as it is; only an empty ring gives silence.
  if (count == 0) {
    count = kBufferBytes;
    std::memset(buffer->data, 0, kBufferBytes);
  }
  buffer->length = count;
  sink_.prepare(buffer);
  sink_.write(buffer);
}

int AudioEngine::refill_thread() {
  threads_.raise_priority();
  ThreadMessage message;
  while (threads_.get_message(&message)) {
    if (message.id == kMessageDeviceClosed) return 1;
    if (message.id != kMessageBufferDone || message.buffer == nullptr) continue;
    sink_.unprepare(message.buffer);
    message.buffer->flags = 0;
    // Once stopping, a returned buffer stays idle.
    if (stopping_.load(std::memory_order_acquire) != 0) continue;
    refill(message.buffer);
  }
  return 0;
}

void AudioEngine::stop() {
  stopping_.store(1, std::memory_order_release);
  sink_.pause();
  sink_.reset();
  // The refill thread may have read the flag just before it was set and
  // requeued its buffer after the reset. The close then keeps reporting that
  // the device is playing; resetting again hands that buffer back, so the
  // loop ends.
  while (sink_.close() == kSinkStillPlaying) {
    threads_.sleep_ms(kCloseRetryMs);
    sink_.reset();
  }
}
