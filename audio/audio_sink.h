// The sound device as the live engine sees it: a queue of buffers played back
// to back, and notifications posted to the refill thread's message queue.
#pragma once

#include <cstddef>
#include <cstdint>

#include "audio/engine_threads.h"

// One audio buffer as it travels between the engine and the device.
struct SinkBuffer {
  uint8_t* data = nullptr;  // never changes once set: buffer i stays buffer i
  uint32_t length = 0;      // bytes to play, a multiple of 4
  uint32_t flags = 0;       // the device's bookkeeping; the engine clears it
  // Room for the device's own descriptor of this buffer (on Windows the wave
  // header that the device hands back), so the engine's storage holds it.
  alignas(8) unsigned char device_header[64] = {};
};

// The device's notifications, as the refill thread receives them.
inline constexpr uint32_t kMessageDeviceOpen = 955;
inline constexpr uint32_t kMessageDeviceClosed = 956;
inline constexpr uint32_t kMessageBufferDone = 957;

// What close() reports while buffers are still queued on the device.
inline constexpr int kSinkStillPlaying = 33;

class AudioSink {
 public:
  virtual ~AudioSink() = default;

  // Opens the default output for 44100 Hz, 2 channels, signed 16-bit PCM.
  // From then on the device posts to listener: kMessageDeviceOpen once,
  // kMessageBufferDone with each buffer that finished playing or was handed
  // back, kMessageDeviceClosed after a successful close. Returns false when no
  // device could be opened.
  virtual bool open(ThreadId listener) = 0;
  // Makes a buffer ready to be queued / takes it back from the device.
  virtual void prepare(SinkBuffer* buffer) = 0;
  virtual void unprepare(SinkBuffer* buffer) = 0;
  // Queues a prepared buffer behind those queued before it.
  virtual void write(SinkBuffer* buffer) = 0;
  // Stops the output at once.
  virtual void pause() = 0;
  // Hands every queued buffer back (each with kMessageBufferDone) before it
  // returns.
  virtual void reset() = 0;
  // 0 when closed; kSinkStillPlaying while buffers are queued; anything else
  // is a failure.
  virtual int close() = 0;
};

// The system's default sound output (one per program).
AudioSink& system_audio_sink();
