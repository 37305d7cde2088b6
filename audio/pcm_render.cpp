#include "audio/pcm_render.h"

#include "audio/drive_loop.h"

namespace {

class Policy final : public DrivePolicy {
 public:
  Policy(SampleRing& ring, PcmOutput& output, const PcmRenderHooks& hooks)
      : ring_(ring), output_(output), hooks_(hooks) {}

  uint32_t before_run(uint32_t due) override {
    if (hooks_.stop != nullptr && hooks_.stop->load(std::memory_order_relaxed)) {
      stopped = true;
      return 0;
    }
    if (ring_wants_emptying(ring_) && !empty_ring()) return 0;
    return due;
  }

  // Takes everything out of the ring into the output.
  bool empty_ring() {
    for (uint32_t count; (count = ring_.drain(piece_)) != 0;) {
      const uint32_t frames = count / 4;
      if (hooks_.shape) hooks_.shape(piece_, frames, written_);
      if (!output_.write(piece_, count)) return false;
      written_ += frames;
      if (hooks_.progress) hooks_.progress(written_);
    }
    return true;
  }

  bool stopped = false;

 private:
  SampleRing& ring_;
  PcmOutput& output_;
  const PcmRenderHooks& hooks_;
  uint64_t written_ = 0;
  uint8_t piece_[SampleRing::kDrainBytes];
};

}  // namespace

PcmRenderEnd render_pcm(WriteSource& source, SynthesisEngine& engine, PcmOutput& output,
                        const PcmRenderHooks& hooks) {
  DriveLoop loop(source, engine);
  if (!loop.read_first()) {
    return source.read_failed() ? PcmRenderEnd::ReadFailed : PcmRenderEnd::NoWrites;
  }
  loop.start();
  Policy policy(engine.ring(), output, hooks);
  const DriveEnd end = loop.run(policy);
  if (end == DriveEnd::Stopped) {
    return policy.stopped ? PcmRenderEnd::Stopped : PcmRenderEnd::WriteFailed;
  }
  if (source.read_failed()) return PcmRenderEnd::ReadFailed;
  return policy.empty_ring() ? PcmRenderEnd::Done : PcmRenderEnd::WriteFailed;
}
