// The sound device on Windows: the default wave output device, whose
// notifications (open, done, close) arrive as messages to the refill thread.
#include <windows.h>
// After windows.h, which it needs.
#include <mmsystem.h>

#include "audio/audio_sink.h"

namespace {

static_assert(sizeof(WAVEHDR) <= sizeof(SinkBuffer::device_header),
              "the wave header lives inside the engine's buffer record");
static_assert(alignof(WAVEHDR) <= 8, "and is aligned as it needs");
static_assert(kMessageDeviceOpen == MM_WOM_OPEN && kMessageDeviceClosed == MM_WOM_CLOSE &&
                  kMessageBufferDone == MM_WOM_DONE,
              "the engine's notifications are the device's own");
static_assert(kSinkStillPlaying == WAVERR_STILLPLAYING, "close's busy result");

WAVEHDR* header_of(SinkBuffer* buffer) {
  return reinterpret_cast<WAVEHDR*>(buffer->device_header);
}

class WinmmSink final : public AudioSink {
 public:
  bool open(ThreadId listener) override {
    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = 2;
    format.nSamplesPerSec = 44100;
    format.nAvgBytesPerSec = 176400;
    format.nBlockAlign = 4;
    format.wBitsPerSample = 16;
    format.cbSize = 0;
    return waveOutOpen(&device_, WAVE_MAPPER, &format, static_cast<DWORD_PTR>(listener),
                       0, CALLBACK_THREAD) == MMSYSERR_NOERROR;
  }

  // The header is all zeros when the engine first prepares it; afterwards the
  // engine changes only the length and the flags (cleared after unprepare).
  void prepare(SinkBuffer* buffer) override {
    WAVEHDR* header = header_of(buffer);
    header->lpData = reinterpret_cast<LPSTR>(buffer->data);
    header->dwBufferLength = buffer->length;
    header->dwFlags = buffer->flags;
    waveOutPrepareHeader(device_, header, sizeof(WAVEHDR));
    buffer->flags = header->dwFlags;
  }
  void unprepare(SinkBuffer* buffer) override {
    WAVEHDR* header = header_of(buffer);
    waveOutUnprepareHeader(device_, header, sizeof(WAVEHDR));
    buffer->flags = header->dwFlags;
  }
  void write(SinkBuffer* buffer) override {
    waveOutWrite(device_, header_of(buffer), sizeof(WAVEHDR));
  }
  void pause() override { waveOutPause(device_); }
  void reset() override { waveOutReset(device_); }
  int close() override { return static_cast<int>(waveOutClose(device_)); }

 private:
  HWAVEOUT device_ = nullptr;
};

}  // namespace

AudioSink& system_audio_sink() {
  static WinmmSink sink;
  return sink;
}
