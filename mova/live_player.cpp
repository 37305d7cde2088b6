#include "mova/live_player.h"

#include <algorithm>

#include "audio/drive_loop.h"

namespace {

// How long the player sleeps while the ring is full, and how often at most
// the status is shown again.
constexpr int kFullRingWaitMs = 10;
constexpr int64_t kStatusEveryMs = 100;
// How long a paused player waits for a key at a time.
constexpr int kPausedWaitMs = 100;

}  // namespace

// Between runs: a key may come, the status may be due, and a ring above its
// high-water mark means the device has enough for now.
class LivePlayer::Policy final : public DrivePolicy {
 public:
  Policy(LivePlayer& player, const DriveLoop& loop, SynthesisEngine& engine,
         SongStatus& status, const LiveControls& controls)
      : player_(player),
        loop_(loop),
        engine_(engine),
        status_(status),
        controls_(controls) {}

  uint32_t before_run(uint32_t due) override {
    for (;;) {
      const bool full = ring_wants_emptying(player_.ring_);
      // A closed device opens on a full ring, so that it starts with sound.
      if (full && !player_.open_) return 0;
      listen(full ? kFullRingWaitMs : 0);
      if (key != PlayerKey::None) return 0;
      if (!full) return due;
    }
  }

  // Waits up to wait_ms for a key (or just sleeps, without keys) and shows
  // the status when it is due.
  void listen(int wait_ms) {
    if (controls_.read_key) {
      key = controls_.read_key(wait_ms);
    } else if (wait_ms != 0) {
      player_.sleep_ms(static_cast<uint32_t>(wait_ms));
    }
    show(false);
  }

  void show(bool now) {
    if (!controls_.show) return;
    int64_t counts = 0;
    int64_t frequency = 1;
    player_.clock_.now(&counts);
    player_.clock_.frequency(&frequency);
    const int64_t ms = counts / (frequency / 1000 > 0 ? frequency / 1000 : 1);
    if (!now && ms - shown_at_ms_ < kStatusEveryMs) return;
    shown_at_ms_ = ms;
    status_.elapsed_us = heard_us();
    controls_.show(status_);
  }

  // What has been heard: the chip time made, less what the ring and the
  // device still hold.
  uint64_t heard_us() const {
    const uint64_t clock = engine_.clock_hz();
    const uint64_t made_us = loop_.now() * 1000000 / clock;
    const uint64_t held_frames =
        player_.ring_.fill_level() / 4 + (player_.open_ ? kQueuedFrames : 0);
    const uint64_t held_us = held_frames * 1000000 / engine_.frame_rate();
    return std::min(made_us > held_us ? made_us - held_us : 0, status_.total_us);
  }

  PlayerKey key = PlayerKey::None;

 private:
  LivePlayer& player_;
  const DriveLoop& loop_;
  SynthesisEngine& engine_;
  SongStatus& status_;
  const LiveControls& controls_;
  int64_t shown_at_ms_ = -kStatusEveryMs;
};

bool LivePlayer::open_device() {
  if (open_) return true;
  open_ = audio_.start(true);
  return open_;
}

void LivePlayer::close_device() {
  if (!open_) return;
  audio_.stop();
  open_ = false;
}

void LivePlayer::finish() {
  // The device plays out the ring, then its own buffers.
  while (open_ && ring_.fill_level() != 0) sleep_ms(kFullRingWaitMs);
  if (open_) sleep_ms(kQueuedFrames * 1000 / 44100 + 20);
  close_device();
}

SongEnding LivePlayer::play(WriteSource& source, SynthesisEngine& engine,
                            SongStatus status, const LiveControls& controls) {
  DriveLoop loop(source, engine);
  if (!loop.read_first()) return SongEnding::Ended;
  // A song starts on an empty ring: the last one's sound has gone to the
  // device before its engine resets the ring.
  while (open_ && ring_.fill_level() != 0) sleep_ms(kFullRingWaitMs);
  loop.start();
  Policy policy(*this, loop, engine, status, controls);
  for (;;) {
    if (loop.run(policy) == DriveEnd::SourceEnded) {
      if (!open_device()) return SongEnding::NoDevice;
      policy.show(true);
      return SongEnding::Ended;
    }
    if (policy.key == PlayerKey::None) {
      if (!open_device()) return SongEnding::NoDevice;
      continue;
    }
    const PlayerKey key = policy.key;
    policy.key = PlayerKey::None;
    const uint64_t clock = engine.clock_hz();
    const int64_t step_s = key == PlayerKey::Forward5    ? 5
                           : key == PlayerKey::Back5     ? -5
                           : key == PlayerKey::Forward60 ? 60
                           : key == PlayerKey::Back60    ? -60
                                                         : 0;
    switch (key) {
      case PlayerKey::Next: close_device(); return SongEnding::Next;
      case PlayerKey::Previous: close_device(); return SongEnding::Previous;
      case PlayerKey::Quit: close_device(); return SongEnding::Quit;
      case PlayerKey::Pause: {
        // What the device holds stops now; the ring keeps what it holds.
        const uint64_t heard = policy.heard_us();
        close_device();
        status.paused = true;
        status.elapsed_us = heard;
        if (controls.show) controls.show(status);
        PlayerKey next = PlayerKey::None;
        while (next == PlayerKey::None) {
          next = controls.read_key ? controls.read_key(kPausedWaitMs) : PlayerKey::Pause;
        }
        status.paused = false;
        if (next != PlayerKey::Pause) policy.key = next;
        break;
      }
      default: {
        const int64_t heard = static_cast<int64_t>(policy.heard_us());
        const int64_t target = std::clamp<int64_t>(heard + step_s * 1000000, 0,
                                                   static_cast<int64_t>(status.total_us));
        close_device();
        loop.seek(static_cast<uint64_t>(target) * clock / 1000000);
        break;
      }
    }
  }
}
