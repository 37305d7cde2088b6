// The live engine's buffer traffic, driven through a scripted device: what is
// queued, when, with what, and how stop gets every buffer back.
#include "audio/audio_engine.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "psg/chip.h"
#include "tests/support/fake_audio.h"
#if !defined(_WIN32)
#include "audio/posix_threads.h"
#endif

namespace {

class AudioEngineTest : public testing::Test {
 protected:
  // Appends frames whose samples count up from first, none of them 0.
  void push_frames(int count, int first = 1) {
    for (int i = 0; i < count; ++i) {
      ring.push(static_cast<int16_t>(first + i), static_cast<int16_t>(-(first + i)));
    }
  }
  // The refill thread handles everything posted so far.
  int run_refill_thread() { return engine.refill_thread(); }

  SampleRing ring;
  FakeThreads threads;
  ScriptedSink sink{threads};
  AudioEngine engine{ring, sink, threads};
};

bool all_zero(const std::vector<uint8_t>& bytes) {
  for (uint8_t b : bytes) {
    if (b != 0) return false;
  }
  return true;
}

TEST_F(AudioEngineTest, StartQueuesSixSilentBuffersInOrder) {
  ASSERT_TRUE(engine.start());

  EXPECT_EQ(threads.threads_started, 1);
  const std::vector<std::string> expected = {
      "open",  "prepare", "prepare", "prepare", "prepare", "prepare", "prepare",
      "write", "write",   "write",   "write",   "write",   "write"};
  EXPECT_EQ(sink.calls, expected);
  ASSERT_EQ(sink.writes.size(), 6u);
  for (int i = 0; i < 6; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(sink.writes[i].buffer, &engine.buffer(i));
    // The six buffers are one block, buffer i at 6144 x i.
    EXPECT_EQ(engine.buffer(i).data, engine.buffer_storage() + i * 6144);
    EXPECT_EQ(sink.writes[i].bytes.size(), 6144u);
    EXPECT_TRUE(all_zero(sink.writes[i].bytes));
  }
  EXPECT_EQ(quartered_levels()[15], 2730);
  EXPECT_EQ(quartered_levels()[1], 30);

  // The device's open notice changes nothing.
  EXPECT_EQ(run_refill_thread(), 0);
  EXPECT_EQ(threads.priority_raised, 1);
  EXPECT_EQ(sink.calls.size(), expected.size());
}

TEST_F(AudioEngineTest, ADeviceThatWontOpenEndsTheRefillThread) {
  sink.fail_open = true;
  EXPECT_FALSE(engine.start());

  EXPECT_EQ(sink.calls, std::vector<std::string>{"open"});
  ASSERT_EQ(threads.queue.size(), 1u);
  EXPECT_EQ(threads.queue.front().id, kMessageDeviceClosed);
  EXPECT_EQ(run_refill_thread(), 1);
}

TEST_F(AudioEngineTest, AThreadThatCantBeCreatedLeavesTheDeviceAlone) {
  threads.fail_start = true;
  EXPECT_FALSE(engine.start());
  EXPECT_TRUE(sink.calls.empty());
}

TEST_F(AudioEngineTest, ReturnedBuffersCarryWhatTheRingHeldOrSilence) {
  ASSERT_TRUE(engine.start());
  run_refill_thread();
  sink.calls.clear();

  // 5000 frames (20000 bytes) held: a whole buffer of the oldest 1536.
  push_frames(5000);
  sink.finish_oldest();
  run_refill_thread();
  ASSERT_EQ(sink.writes.size(), 7u);
  const ScriptedSink::Write& full = sink.writes[6];
  EXPECT_EQ(full.buffer, &engine.buffer(0));
  ASSERT_EQ(full.bytes.size(), 6144u);
  EXPECT_EQ(full.bytes[0], 1);               // frame 1, left low byte
  EXPECT_EQ(full.bytes[6140], 1536 & 0xFF);  // frame 1536, left low byte
  EXPECT_EQ(full.bytes[6141], 1536 >> 8);
  EXPECT_EQ(sink.calls, (std::vector<std::string>{"unprepare", "prepare", "write"}));
  EXPECT_EQ(ring.fill_level(), 20000u - 6144u);

  // Take the ring down to 100 frames: a short buffer of just those.
  sink.finish_oldest();
  sink.finish_oldest();
  run_refill_thread();
  EXPECT_EQ(ring.fill_level(), 20000u - 3 * 6144u);  // 1568 bytes: 392 frames
  ring.reset();
  push_frames(100, 7);
  sink.finish_oldest();
  run_refill_thread();
  const ScriptedSink::Write& part = sink.writes.back();
  EXPECT_EQ(part.buffer, &engine.buffer(3));
  ASSERT_EQ(part.bytes.size(), 400u);
  EXPECT_EQ(part.bytes[0], 7);
  EXPECT_EQ(part.bytes[396], 106);

  // An empty ring: a whole buffer of silence, and the drift correction falls.
  ring.set_drift_correction(0);
  sink.finish_oldest();
  run_refill_thread();
  const ScriptedSink::Write& quiet = sink.writes.back();
  EXPECT_EQ(quiet.buffer, &engine.buffer(4));
  EXPECT_EQ(quiet.bytes.size(), 6144u);
  EXPECT_TRUE(all_zero(quiet.bytes));
  EXPECT_EQ(ring.drift_correction(), -15);
  EXPECT_EQ(engine.buffer(4).flags, 0u);
}

TEST_F(AudioEngineTest, StopTakesEveryBufferBackAndQueuesNothingMore) {
  ASSERT_TRUE(engine.start());
  run_refill_thread();
  push_frames(3000);
  sink.calls.clear();

  engine.stop();
  EXPECT_TRUE(engine.stopping());
  EXPECT_EQ(sink.calls, (std::vector<std::string>{"pause", "reset", "close"}));
  EXPECT_TRUE(threads.sleeps.empty());

  // The six returned buffers are unprepared and left idle; the close notice
  // ends the thread. The ring keeps what it held: it is never played.
  sink.calls.clear();
  EXPECT_EQ(run_refill_thread(), 1);
  EXPECT_EQ(sink.count("unprepare"), 6);
  EXPECT_EQ(sink.count("write"), 0);
  EXPECT_EQ(ring.fill_level(), 12000u);
}

TEST_F(AudioEngineTest, StopEndsWhenTheRefillThreadRequeuedABufferAfterTheReset) {
  ASSERT_TRUE(engine.start());
  run_refill_thread();
  // The refill thread saw the stopping flag still clear and queues its
  // buffer just after the first reset.
  bool raced = false;
  sink.after_reset = [&] {
    if (raced) return;
    raced = true;
    sink.write(&engine.buffer(2));
  };
  engine.stop();

  EXPECT_EQ(sink.close_attempts, 2);
  EXPECT_EQ(sink.count("reset"), 2);
  EXPECT_EQ(threads.sleeps, std::vector<uint32_t>{10});
  EXPECT_TRUE(sink.queued.empty());
}

#if !defined(_WIN32)
// The same engine on real threads, with a device that plays each buffer the
// moment it gets it: the ring, the stopping flag and the buffers cross
// threads exactly as in live play (run under ThreadSanitizer in CI).
class InstantDevice final : public AudioSink {
 public:
  explicit InstantDevice(EngineThreads& threads) : threads_(threads) {}
  ~InstantDevice() override { shut_down(); }

  bool open(ThreadId listener) override {
    listener_ = listener;
    player_ = std::thread([this] { play(); });
    threads_.post_message(listener_, {kMessageDeviceOpen, nullptr});
    return true;
  }
  void prepare(SinkBuffer*) override {}
  void unprepare(SinkBuffer*) override {}
  void write(SinkBuffer* buffer) override {
    std::lock_guard<std::mutex> hold(lock_);
    queued_.push_back(buffer);
    wake_.notify_one();
  }
  void pause() override {
    std::lock_guard<std::mutex> hold(lock_);
    paused_ = true;
  }
  void reset() override {
    std::lock_guard<std::mutex> hold(lock_);
    for (SinkBuffer* buffer : queued_) {
      threads_.post_message(listener_, {kMessageBufferDone, buffer});
    }
    queued_.clear();
  }
  int close() override {
    {
      std::lock_guard<std::mutex> hold(lock_);
      if (!queued_.empty()) return kSinkStillPlaying;
    }
    shut_down();
    threads_.post_message(listener_, {kMessageDeviceClosed, nullptr});
    return 0;
  }

  // Everything played, in order.
  std::vector<uint8_t> played() {
    std::lock_guard<std::mutex> hold(lock_);
    return played_;
  }
  // Frames played that were not silence.
  size_t sound_frames() {
    std::lock_guard<std::mutex> hold(lock_);
    return sound_frames_;
  }

 private:
  void play() {
    std::unique_lock<std::mutex> hold(lock_);
    for (;;) {
      wake_.wait(hold, [this] { return quit_ || (!paused_ && !queued_.empty()); });
      if (quit_) return;
      SinkBuffer* buffer = queued_.front();
      queued_.pop_front();
      played_.insert(played_.end(), buffer->data, buffer->data + buffer->length);
      for (uint32_t i = 0; i < buffer->length; i += 4) {
        sound_frames_ += buffer->data[i] != 0 || buffer->data[i + 1] != 0;
      }
      threads_.post_message(listener_, {kMessageBufferDone, buffer});
    }
  }
  void shut_down() {
    {
      std::lock_guard<std::mutex> hold(lock_);
      quit_ = true;
      wake_.notify_one();
    }
    if (player_.joinable()) player_.join();
  }

  EngineThreads& threads_;
  ThreadId listener_ = 0;
  std::thread player_;
  std::mutex lock_;
  std::condition_variable wake_;
  std::deque<SinkBuffer*> queued_;
  std::vector<uint8_t> played_;
  size_t sound_frames_ = 0;
  bool paused_ = false;
  bool quit_ = false;
};

TEST(AudioEngineThreaded, EveryFrameReachesTheDeviceInOrderAndStopEndsTheThread) {
  SampleRing ring;
  PosixThreads threads{PosixThreads::Waiting::ByJoin};
  InstantDevice device{threads};
  AudioEngine engine{ring, device, threads};
  ASSERT_TRUE(engine.start());

  // The main thread produces numbered frames as fast as the ring takes them.
  constexpr int kFrames = 60000;
  for (int i = 1; i <= kFrames; ++i) {
    while (ring.is_full(ring.observe_read_offset())) std::this_thread::yield();
    ring.push(static_cast<int16_t>(i % 30000 + 1), static_cast<int16_t>(i / 30000 + 1));
  }
  while (ring.fill_level() != 0) std::this_thread::yield();
  // The device plays a buffer at once, so the last one drained is played
  // before the next buffer comes back; wait for it.
  while (device.sound_frames() != kFrames) std::this_thread::yield();
  engine.stop();
  // The refill thread is the first and only thread started here.
  EXPECT_EQ(threads.join(1), 1);

  const std::vector<uint8_t> played = device.played();
  ASSERT_GE(played.size(), 6u * 6144u);
  for (size_t i = 0; i < 6u * 6144u; ++i) ASSERT_EQ(played[i], 0) << i;
  int next = 1;
  for (size_t i = 6u * 6144u; i + 3 < played.size(); i += 4) {
    const int16_t left = static_cast<int16_t>(played[i] | played[i + 1] << 8);
    const int16_t right = static_cast<int16_t>(played[i + 2] | played[i + 3] << 8);
    if (left == 0 && right == 0) continue;  // silence while the ring ran dry
    ASSERT_EQ(left, next % 30000 + 1) << "frame " << next;
    ASSERT_EQ(right, next / 30000 + 1) << "frame " << next;
    ++next;
  }
  EXPECT_EQ(next, kFrames + 1);
}
#endif

}  // namespace
