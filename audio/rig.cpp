#include "audio/rig.h"

#include "psg/stretch_engine.h"

ExactRig::ExactRig(EngineKind kind) {
  if (kind == EngineKind::Stretches) {
    engine_ = std::make_unique<StretchEngine>(ring_);
  } else {
    engine_ = std::make_unique<TickEngine>(ring_);
  }
}

int ExactRig::render(WriteSource& source, const char* input_path, const char* output_path,
                     OutputFiles& files) {
  engine_->install_volume_table(kFullLevels);
  WavRenderer renderer(files);
  return renderer.render(source, *engine_, input_path, output_path);
}

LiveRig::LiveRig(AudioSink& sink, EngineThreads& threads, Clock& clock)
    : rig_(EngineKind::Ticks),
      audio_(rig_.ring(), sink, threads),
      loop_(rig_.engine(), audio_, clock) {}

int LiveRig::play(WriteSource& source, const char* input_path) {
  // The full levels until the device is open; the play loop installs the
  // quartered ones then.
  rig_.engine().install_volume_table(kFullLevels);
  return loop_.play(source, input_path);
}
