// The sound device on Linux: ALSA's "default" PCM, which desktop sound servers
// (PulseAudio, PipeWire) take over through their ALSA plugins.
//
// One device thread owns the PCM and does every call on it. Queued buffers are
// written in order as room appears in the device's ring; a buffer counts as
// played, and goes back to the refill thread, only once its last frame has
// left the speaker end of the device: frames written minus the device's delay.
// The PCM is opened non-blocking, so the device thread never sits in a write
// and always hears pause, reset and close at once.
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "audio/alsa_library.h"
#include "audio/audio_sink.h"
#include "audio/engine_threads.h"

namespace {

constexpr unsigned kRate = 44100;
constexpr unsigned kChannels = 2;
constexpr unsigned kFrameBytes = 4;
constexpr snd_pcm_uframes_t kPeriodFrames = 1536;  // one buffer of the engine
constexpr snd_pcm_uframes_t kDeviceFrames = 6 * kPeriodFrames;
// More than the engine ever has queued (six).
constexpr int kMaxQueued = 16;

// alsa-lib reports its own troubles (no card, no server) on the standard error
// stream; the player has its own message for a device it cannot open.
void quiet_alsa_errors(const char*, int, const char*, int, const char*, ...) {}

// Zeroed room for one of the library's parameter blocks, whose size only the
// library knows.
std::vector<std::max_align_t> parameter_room(size_t bytes) {
  return std::vector<std::max_align_t>(bytes / sizeof(std::max_align_t) + 1);
}

class AlsaSink final : public AudioSink {
 public:
  explicit AlsaSink(EngineThreads& threads) : threads_(threads) {}
  ~AlsaSink() override { shut_down(); }

  bool open(ThreadId listener) override;
  void prepare(SinkBuffer* buffer) override { buffer->flags |= kPrepared; }
  void unprepare(SinkBuffer* buffer) override { buffer->flags &= ~kPrepared; }
  void write(SinkBuffer* buffer) override;
  void pause() override { run_command(Command::Pause); }
  void reset() override { run_command(Command::Reset); }
  int close() override;

 private:
  static constexpr uint32_t kPrepared = 1;
  enum class Command { None, Pause, Reset, Quit };
  struct Played {
    SinkBuffer* buffer;
    uint64_t end;  // frames written once its last frame was written
  };

  bool configure();
  // Asks the device thread to do command and waits until it is done.
  void run_command(Command command);
  void shut_down();
  void device_loop();
  // The device thread's steps; each runs with lock_ held.
  void do_command(Command command);
  void write_queued();
  void report_played();
  void recover_from_underrun();
  void hand_back(SinkBuffer* buffer) {
    threads_.post_message(listener_, ThreadMessage{kMessageBufferDone, buffer});
  }
  // How long the device thread may sleep before a buffer can be done or room
  // can appear.
  std::chrono::microseconds next_wake() const;

  EngineThreads& threads_;
  const AlsaLibrary* alsa_ = nullptr;  // loaded by the first open()
  snd_pcm_t* pcm_ = nullptr;
  ThreadId listener_ = 0;
  std::thread device_thread_;

  std::mutex lock_;
  std::condition_variable wake_;  // the device thread has something to do
  std::condition_variable done_;  // a command has been carried out
  Command command_ = Command::None;
  uint64_t commands_done_ = 0;
  bool paused_ = false;
  bool accepting_ = false;  // open, and not yet closing
  // Buffers queued but not yet wholly written, oldest first; the frames of
  // the oldest already written.
  SinkBuffer* waiting_[kMaxQueued] = {};
  int waiting_head_ = 0;
  int waiting_count_ = 0;
  uint32_t head_frames_written_ = 0;
  // Buffers wholly written, waiting for their last frame to be played.
  Played playing_[kMaxQueued] = {};
  int playing_head_ = 0;
  int playing_count_ = 0;
  uint64_t frames_written_ = 0;
  uint64_t last_played_ = 0;  // frames written less the delay, last measured
};

bool AlsaSink::configure() {
  std::vector<std::max_align_t> hw_room =
      parameter_room(alsa_->snd_pcm_hw_params_sizeof());
  auto* hw = reinterpret_cast<snd_pcm_hw_params_t*>(hw_room.data());
  if (alsa_->snd_pcm_hw_params_any(pcm_, hw) < 0 ||
      alsa_->snd_pcm_hw_params_set_access(pcm_, hw, SND_PCM_ACCESS_RW_INTERLEAVED) < 0 ||
      alsa_->snd_pcm_hw_params_set_format(pcm_, hw, SND_PCM_FORMAT_S16_LE) < 0 ||
      alsa_->snd_pcm_hw_params_set_channels(pcm_, hw, kChannels) < 0 ||
      alsa_->snd_pcm_hw_params_set_rate(pcm_, hw, kRate, 0) < 0) {
    return false;
  }
  snd_pcm_uframes_t period = kPeriodFrames;
  snd_pcm_uframes_t size = kDeviceFrames;
  int dir = 0;
  alsa_->snd_pcm_hw_params_set_period_size_near(pcm_, hw, &period, &dir);
  alsa_->snd_pcm_hw_params_set_buffer_size_near(pcm_, hw, &size);
  if (alsa_->snd_pcm_hw_params(pcm_, hw) < 0) return false;

  // Playback is started by hand once the first whole buffer is in, so a
  // buffer never begins to play half written.
  std::vector<std::max_align_t> sw_room =
      parameter_room(alsa_->snd_pcm_sw_params_sizeof());
  auto* sw = reinterpret_cast<snd_pcm_sw_params_t*>(sw_room.data());
  snd_pcm_uframes_t boundary = 0;
  if (alsa_->snd_pcm_sw_params_current(pcm_, sw) < 0 ||
      alsa_->snd_pcm_sw_params_get_boundary(sw, &boundary) < 0 ||
      alsa_->snd_pcm_sw_params_set_start_threshold(pcm_, sw, boundary) < 0 ||
      alsa_->snd_pcm_sw_params_set_avail_min(pcm_, sw, kPeriodFrames) < 0 ||
      alsa_->snd_pcm_sw_params(pcm_, sw) < 0) {
    return false;
  }
  return alsa_->snd_pcm_prepare(pcm_) >= 0;
}

bool AlsaSink::open(ThreadId listener) {
  if (pcm_ != nullptr) return false;
  if (alsa_ == nullptr) alsa_ = alsa_library();
  if (alsa_ == nullptr) return false;
  alsa_->snd_lib_error_set_handler(quiet_alsa_errors);
  snd_pcm_t* pcm = nullptr;
  if (alsa_->snd_pcm_open(&pcm, "default", SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK) <
      0) {
    return false;
  }
  std::lock_guard<std::mutex> hold(lock_);
  pcm_ = pcm;
  if (!configure()) {
    alsa_->snd_pcm_close(pcm_);
    pcm_ = nullptr;
    return false;
  }
  accepting_ = true;
  listener_ = listener;
  command_ = Command::None;
  paused_ = false;
  waiting_head_ = waiting_count_ = playing_head_ = playing_count_ = 0;
  head_frames_written_ = 0;
  frames_written_ = 0;
  last_played_ = 0;
  try {
    device_thread_ = std::thread(&AlsaSink::device_loop, this);
  } catch (const std::system_error&) {
    accepting_ = false;
    alsa_->snd_pcm_close(pcm_);
    pcm_ = nullptr;
    return false;
  }
  threads_.post_message(listener_, ThreadMessage{kMessageDeviceOpen, nullptr});
  return true;
}

void AlsaSink::write(SinkBuffer* buffer) {
  std::lock_guard<std::mutex> hold(lock_);
  // After a close the buffer is simply not played, as a closed device would.
  if (!accepting_ || waiting_count_ == kMaxQueued) return;
  waiting_[(waiting_head_ + waiting_count_) % kMaxQueued] = buffer;
  ++waiting_count_;
  wake_.notify_one();
}

void AlsaSink::run_command(Command command) {
  std::unique_lock<std::mutex> hold(lock_);
  if (pcm_ == nullptr || !device_thread_.joinable()) return;
  // One command at a time; the engine issues them from one thread anyway.
  done_.wait(hold, [this] { return command_ == Command::None; });
  command_ = command;
  const uint64_t ticket = commands_done_ + 1;
  wake_.notify_one();
  done_.wait(hold, [this, ticket] { return commands_done_ >= ticket; });
}

int AlsaSink::close() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (pcm_ == nullptr) return -1;
    if (waiting_count_ != 0 || playing_count_ != 0) return kSinkStillPlaying;
    // From here on nothing more is queued, so nothing can be lost unseen.
    accepting_ = false;
  }
  shut_down();
  threads_.post_message(listener_, ThreadMessage{kMessageDeviceClosed, nullptr});
  return 0;
}

void AlsaSink::shut_down() {
  if (device_thread_.joinable()) {
    run_command(Command::Quit);
    device_thread_.join();
  }
  snd_pcm_t* pcm = nullptr;
  {
    std::lock_guard<std::mutex> hold(lock_);
    accepting_ = false;
    pcm = pcm_;
    pcm_ = nullptr;
  }
  if (pcm != nullptr) alsa_->snd_pcm_close(pcm);
}

void AlsaSink::device_loop() {
  // Feeding the device is as urgent as refilling the buffers: a device
  // thread held up for the length of the queue (209 ms) lets the device run
  // dry, and the sound server then loses what it held.
  threads_.raise_priority();
  std::unique_lock<std::mutex> hold(lock_);
  for (;;) {
    if (command_ != Command::None) {
      const Command command = command_;
      do_command(command);
      command_ = Command::None;
      ++commands_done_;
      done_.notify_all();
      if (command == Command::Quit) return;
      continue;
    }
    if (!paused_) {
      write_queued();
      report_played();
    }
    const bool busy = !paused_ && (waiting_count_ != 0 || playing_count_ != 0);
    if (busy) {
      wake_.wait_for(hold, next_wake());
    } else {
      wake_.wait(hold, [this] {
        return command_ != Command::None || (!paused_ && waiting_count_ != 0);
      });
    }
  }
}

void AlsaSink::do_command(Command command) {
  switch (command) {
    case Command::None: break;
    case Command::Pause:
      if (alsa_->snd_pcm_state(pcm_) == SND_PCM_STATE_RUNNING &&
          alsa_->snd_pcm_pause(pcm_, 1) < 0) {
        // A device that cannot pause is stopped instead; what it held is
        // lost either way, as the reset that follows a pause hands it back.
        alsa_->snd_pcm_drop(pcm_);
        alsa_->snd_pcm_prepare(pcm_);
      }
      paused_ = true;
      break;
    case Command::Reset:
      alsa_->snd_pcm_drop(pcm_);
      alsa_->snd_pcm_prepare(pcm_);
      frames_written_ = 0;
      last_played_ = 0;
      // Every buffer goes back in queue order: first those on the device,
      // then those not yet written.
      for (; playing_count_ > 0; --playing_count_) {
        hand_back(playing_[playing_head_].buffer);
        playing_head_ = (playing_head_ + 1) % kMaxQueued;
      }
      for (; waiting_count_ > 0; --waiting_count_) {
        hand_back(waiting_[waiting_head_]);
        waiting_head_ = (waiting_head_ + 1) % kMaxQueued;
      }
      head_frames_written_ = 0;
      break;
    case Command::Quit: alsa_->snd_pcm_drop(pcm_); break;
  }
}

void AlsaSink::write_queued() {
  while (waiting_count_ > 0) {
    SinkBuffer* buffer = waiting_[waiting_head_];
    const uint32_t frames = buffer->length / kFrameBytes;
    if (head_frames_written_ < frames) {
      const snd_pcm_sframes_t room = alsa_->snd_pcm_avail_update(pcm_);
      if (room == -EPIPE) {
        recover_from_underrun();
        continue;
      }
      if (room <= 0) return;
      snd_pcm_uframes_t count = frames - head_frames_written_;
      if (count > static_cast<snd_pcm_uframes_t>(room)) count = room;
      const snd_pcm_sframes_t written = alsa_->snd_pcm_writei(
          pcm_, buffer->data + head_frames_written_ * kFrameBytes, count);
      if (written == -EAGAIN) return;
      if (written == -EPIPE) {
        recover_from_underrun();
        continue;
      }
      if (written < 0) {
        // Suspended or otherwise troubled: let alsa-lib bring it back, and
        // try again on the next pass.
        if (alsa_->snd_pcm_recover(pcm_, static_cast<int>(written), 1) < 0) return;
        continue;
      }
      head_frames_written_ += static_cast<uint32_t>(written);
      frames_written_ += static_cast<uint64_t>(written);
      if (head_frames_written_ < frames) return;  // the device ring is full
    }
    playing_[(playing_head_ + playing_count_) % kMaxQueued] = {buffer, frames_written_};
    ++playing_count_;
    waiting_head_ = (waiting_head_ + 1) % kMaxQueued;
    --waiting_count_;
    head_frames_written_ = 0;
    // Playback starts once the first whole buffer is in, and again after an
    // underrun or a reset left the device stopped.
    if (alsa_->snd_pcm_state(pcm_) == SND_PCM_STATE_PREPARED) alsa_->snd_pcm_start(pcm_);
  }
}

void AlsaSink::report_played() {
  if (playing_count_ == 0) return;
  snd_pcm_sframes_t delay = 0;
  const int result = alsa_->snd_pcm_delay(pcm_, &delay);
  if (result == -EPIPE) {
    recover_from_underrun();
    return;
  }
  if (result < 0) return;
  if (delay < 0) delay = 0;
  const uint64_t queued = static_cast<uint64_t>(delay);
  const uint64_t played = queued < frames_written_ ? frames_written_ - queued : 0;
  last_played_ = played;
  while (playing_count_ > 0 && playing_[playing_head_].end <= played) {
    hand_back(playing_[playing_head_].buffer);
    playing_head_ = (playing_head_ + 1) % kMaxQueued;
    --playing_count_;
  }
}

void AlsaSink::recover_from_underrun() {
  // The device ran dry: everything written has been played.
  while (playing_count_ > 0) {
    hand_back(playing_[playing_head_].buffer);
    playing_head_ = (playing_head_ + 1) % kMaxQueued;
    --playing_count_;
  }
  last_played_ = frames_written_;
  alsa_->snd_pcm_prepare(pcm_);
}

std::chrono::microseconds AlsaSink::next_wake() const {
  // Sleep until the oldest written buffer should be through, or, while a
  // buffer waits for room, for a quarter of a period; never longer than
  // 20 ms, so a late estimate costs little.
  int64_t frames = kDeviceFrames;
  if (playing_count_ > 0) {
    const uint64_t end = playing_[playing_head_].end;
    frames = end > last_played_ ? static_cast<int64_t>(end - last_played_) : 0;
  }
  if (waiting_count_ > 0 && frames > static_cast<int64_t>(kPeriodFrames / 4)) {
    frames = kPeriodFrames / 4;
  }
  int64_t micros = frames * 1000000 / kRate;
  if (micros < 1000) micros = 1000;
  if (micros > 20000) micros = 20000;
  return std::chrono::microseconds(micros);
}

}  // namespace

AudioSink& system_audio_sink() {
  static AlsaSink sink(system_threads());
  return sink;
}
