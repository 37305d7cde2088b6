#include "formats/ym_effects.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <string>

#include "formats/importers.h"

namespace {

constexpr double kTimerClockHz = 2457600;
constexpr std::array<int, 8> kPredivisors = {0, 4, 10, 16, 50, 64, 100, 200};
constexpr double kShortestTickUs = 10;  // 100 kHz
constexpr uint8_t kVolumeA = 8, kEnvelopeShape = 13;

// The relative amplitude of a 4-bit volume: 3 dB steps down from 15, 0 silent.
double amplitude(int volume) {
  return volume == 0 ? 0.0 : std::pow(2.0, (volume - 15) / 2.0);
}

// The volume whose amplitude lies nearest to `level` (0..1).
uint8_t volume_for(double level) {
  int best = 0;
  for (int volume = 1; volume < 16; ++volume)
    if (std::fabs(amplitude(volume) - level) < std::fabs(amplitude(best) - level))
      best = volume;
  return static_cast<uint8_t>(best);
}

}  // namespace

DigidrumVolumes::DigidrumVolumes(uint32_t attributes) {
  const bool is_signed = (attributes & 2) != 0, four_bit = (attributes & 4) != 0;
  for (int value = 0; value < 256; ++value)
    table_[value] = four_bit ? static_cast<uint8_t>(value & 15)
                             : volume_for(((is_signed ? value ^ 0x80 : value)) / 255.0);
}

std::vector<uint8_t> DigidrumVolumes::operator()(std::span<const uint8_t> samples) const {
  std::vector<uint8_t> volumes(samples.size());
  std::transform(samples.begin(), samples.end(), volumes.begin(),
                 [&](uint8_t sample) { return table_[sample]; });
  return volumes;
}

YmEffects::YmEffects(YmLayout layout, std::vector<std::vector<uint8_t>> drums)
    : layout_(layout), drums_(std::move(drums)) {
  for (int top = 0; top < 16; ++top)
    for (int step = 0; step < 8; ++step)
      sine_[top][step] = volume_for(amplitude(top) *
                                    (1 + std::sin(2 * std::numbers::pi * step / 8)) / 2);
}

uint64_t YmEffects::Voice::tick_time(uint64_t k) const {
  return static_cast<uint64_t>(std::llround(start + static_cast<double>(k) * tick_us));
}

// The effects a frame declares, at most two; returns how many.
int YmEffects::declared_effects(const std::array<uint8_t, 16>& regs,
                                Declared* found) const {
  int count = 0;
  if (layout_ == YmLayout::Ym5) {
    if (const int voice = regs[1] >> 4 & 3; voice != 0)
      found[count++] = {Kind::Sid, voice - 1, static_cast<uint8_t>(regs[6] >> 5),
                        regs[14]};
    if (const int voice = regs[3] >> 4 & 3; voice != 0)
      found[count++] = {Kind::Digidrum, voice - 1, static_cast<uint8_t>(regs[8] >> 5),
                        regs[15]};
    return count;
  }
  static constexpr std::array<Kind, 4> kKinds = {Kind::Sid, Kind::Digidrum,
                                                 Kind::SinusSid, Kind::SyncBuzzer};
  const std::array<std::array<int, 3>, 2> slots = {{{1, 6, 14}, {3, 8, 15}}};
  for (const auto& [code, timer, timer_count] : slots)
    if (const int voice = regs[code] >> 4 & 3; voice != 0)
      found[count++] = {kKinds[regs[code] >> 6], voice - 1,
                        static_cast<uint8_t>(regs[timer] >> 5), regs[timer_count]};
  return count;
}

// Starts the declared effect at `start`, or goes on with `running`, the
// voice's effect in the frame before, when it is the same timer effect.
void YmEffects::start_effect(const Declared& declared, const Voice& running,
                             uint64_t start) {
  const int predivisor = kPredivisors[declared.predivisor_code];
  if (predivisor == 0 || declared.count == 0) {
    ++stopped_timers_;
    return;
  }
  const double tick_us = 1e6 * predivisor * declared.count / kTimerClockHz;
  if (tick_us < kShortestTickUs) {
    ++too_fast_;
    return;
  }
  const uint8_t parameter = regs_[kVolumeA + declared.voice];
  Voice voice{declared.kind, tick_us, static_cast<double>(start),
              static_cast<uint8_t>(parameter & 15)};
  if (declared.kind == Kind::Digidrum) {
    if ((parameter & 31u) >= drums_.size() || drums_[parameter & 31u].empty()) {
      ++missing_drums_;
      return;
    }
    voice.drum = &drums_[parameter & 31u];
  } else if (running.kind == declared.kind) {
    voice.start =
        running.start + static_cast<double>(running.next_tick) * running.tick_us;
    voice.phase = running.phase + running.next_tick;
  }
  voices_[declared.voice] = voice;
  used_[static_cast<int>(declared.kind)] = true;
}

void YmEffects::begin_frame(const std::array<uint8_t, 16>& regs, uint64_t start,
                            uint64_t end, RegisterStream& stream) {
  regs_ = regs;
  frame_start_ = start;
  frame_end_ = end;
  // Effects other than a digidrum last one frame, unless the frame declares
  // them again; a digidrum plays on.
  const std::array<Voice, 3> running = voices_;
  for (Voice& voice : voices_)
    if (voice.kind != Kind::Digidrum) voice.kind = Kind::None;
  Declared declared[2];
  const int count = declared_effects(regs, declared);
  for (int i = 0; i < count; ++i) {
    if (i == 1 && count == 2 && declared[1].voice == declared[0].voice) break;
    start_effect(declared[i], running[declared[i].voice], start);
  }
  for (int voice = 0; voice < 3; ++voice) value_at_start(voice, stream);
}

// Sets what the voice's effect gives at the frame's start.
void YmEffects::value_at_start(int index, RegisterStream& stream) {
  Voice& voice = voices_[index];
  const auto volume_register = static_cast<uint8_t>(kVolumeA + index);
  // The count of the last tick at or before the frame's start: a timer that
  // runs on may have its next tick after it (one count back, taken as 7
  // forward since the patterns repeat every 8 counts).
  const bool tick_now = voice.tick_time(0) == frame_start_;
  const uint64_t count = voice.phase + (tick_now ? 0 : 7);
  switch (voice.kind) {
    case Kind::None: return;
    case Kind::Sid:
      stream.set(volume_register, count % 2 == 0 ? voice.level : uint8_t{0});
      return;
    case Kind::SinusSid:
      stream.set(volume_register, sine_[voice.level][count % 8]);
      return;
    case Kind::SyncBuzzer:
      if (tick_now) stream.set(kEnvelopeShape, voice.level);
      return;
    case Kind::Digidrum: break;
  }
  const uint64_t length = voice.drum->size();
  while (voice.next_sample < length && voice.tick_time(voice.next_sample) <= frame_start_)
    ++voice.next_sample;
  if (voice.next_sample == length && voice.tick_time(length) <= frame_start_) {
    voice.kind = Kind::None;  // ended before this frame: the frame's volume stands
    return;
  }
  stream.set(volume_register, (*voice.drum)[voice.next_sample - 1]);
}

// Queues the voice's ticks after the frame's start and before its end.
void YmEffects::collect_ticks(int index) {
  Voice& voice = voices_[index];
  const auto volume_register = static_cast<uint8_t>(kVolumeA + index);
  if (voice.kind == Kind::Digidrum) {
    const uint64_t length = voice.drum->size();
    for (; voice.next_sample < length; ++voice.next_sample) {
      const uint64_t time = voice.tick_time(voice.next_sample);
      if (time >= frame_end_) return;
      pending_.push_back({time, volume_register, (*voice.drum)[voice.next_sample]});
    }
    const uint64_t end = voice.tick_time(length);
    if (end >= frame_end_) return;
    pending_.push_back({end, volume_register, regs_[volume_register]});
    voice.kind = Kind::None;
    return;
  }
  for (uint64_t k = voice.tick_time(0) == frame_start_ ? 1 : 0;; ++k) {
    const uint64_t time = voice.tick_time(k);
    if (time >= frame_end_) {
      voice.next_tick = k;
      return;
    }
    const uint64_t count = voice.phase + k;
    switch (voice.kind) {
      case Kind::Sid:
        pending_.push_back(
            {time, volume_register, count % 2 == 0 ? voice.level : uint8_t{0}});
        break;
      case Kind::SinusSid:
        pending_.push_back({time, volume_register, sine_[voice.level][count % 8]});
        break;
      case Kind::SyncBuzzer:
        pending_.push_back({time, kEnvelopeShape, voice.level});
        break;
      default: return;
    }
  }
}

bool YmEffects::write_frame(RegisterStream& stream) {
  pending_.clear();
  for (int voice = 0; voice < 3; ++voice)
    if (voices_[voice].kind != Kind::None) collect_ticks(voice);
  std::stable_sort(pending_.begin(), pending_.end(),
                   [](const Write& a, const Write& b) { return a.time < b.time; });
  for (const Write& write : pending_)
    if (!stream.effect_write(write.time, write.reg, write.value)) return false;
  return true;
}

void YmEffects::report(SongInfo& info) const {
  static const char* const kNames[] = {"", "SID voice", "sinus SID", "digidrums",
                                       "sync buzzer"};
  for (int kind = 1; kind < 5; ++kind)
    if (used_[kind]) info.effects.push_back(kNames[kind]);
  if (stopped_timers_ != 0)
    info.notes.push_back("effects skipped, timer predivisor or count 0: " +
                         with_commas(stopped_timers_));
  if (too_fast_ != 0)
    info.notes.push_back("effects skipped, timer faster than 100 kHz: " +
                         with_commas(too_fast_));
  if (missing_drums_ != 0)
    info.notes.push_back("digidrum starts skipped, no such sample in the file: " +
                         with_commas(missing_drums_));
}
