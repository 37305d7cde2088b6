#include "formats/register_stream.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr uint8_t kMixer = 7;
constexpr uint8_t kEnvelopeFine = 11, kEnvelopeCoarse = 12, kEnvelopeShape = 13;

// Bits each register holds on the chip.
constexpr std::array<uint8_t, 14> kRegisterMask = {
    0xFF, 0x0F, 0xFF, 0x0F, 0xFF, 0x0F, 0x1F, 0xFF, 0x1F, 0x1F, 0x1F, 0xFF, 0xFF, 0x0F};

}  // namespace

uint64_t frame_time_us(uint64_t index, double rate_hz) {
  return static_cast<uint64_t>(std::llround(static_cast<long double>(index) * 1000000.0L /
                                            static_cast<long double>(rate_hz)));
}

uint64_t sample_time_us(uint64_t samples, uint32_t sample_rate) {
  const uint64_t whole = samples / sample_rate;
  const uint64_t rest = samples % sample_rate;
  return whole * 1000000 + (rest * 1000000 + sample_rate / 2) / sample_rate;
}

uint32_t rescale_period(uint32_t period, double factor, int width_bits,
                        bool zero_acts_as_one) {
  if (period == 0 && !zero_acts_as_one) return 0;
  const double scaled = std::round(std::max<uint32_t>(period, 1) * factor);
  const double largest = static_cast<double>((1u << width_bits) - 1);
  return static_cast<uint32_t>(std::clamp(scaled, 1.0, largest));
}

RegisterStream::RegisterStream(uint32_t clock_hz, std::vector<TimedWrite>& out,
                               bool source_chip)
    : out_(out),
      factor_(1000000.0 / clock_hz),
      clock_hz_(clock_hz),
      source_chip_(source_chip) {
  written_.fill(-1);
}

void RegisterStream::set(uint8_t reg, uint8_t value) {
  if (reg > kEnvelopeShape) return;
  source_[reg] = value & kRegisterMask[reg];
  if (reg == kEnvelopeShape) envelope_shape_set_ = true;
}

// The chip values of registers 0..12 for the current source values (13 is
// passed through as it is).
void RegisterStream::chip_values(std::array<int, 14>& chip) const {
  for (int reg = 0; reg < 14; ++reg) chip[reg] = source_[reg];
  if (source_chip_) return;
  for (int channel = 0; channel < 3; ++channel) {
    const uint32_t period = source_[2 * channel] | uint32_t{source_[2 * channel + 1]}
                                                       << 8;
    const uint32_t scaled = rescale_period(period, factor_, 12, false);
    chip[2 * channel] = scaled & 0xFF;
    chip[2 * channel + 1] = static_cast<int>(scaled >> 8);
  }
  chip[6] = static_cast<int>(rescale_period(source_[6], factor_, 5, true));
  const uint32_t envelope = source_[kEnvelopeFine] | uint32_t{source_[kEnvelopeCoarse]}
                                                         << 8;
  const uint32_t scaled = rescale_period(envelope, factor_, 16, true);
  chip[kEnvelopeFine] = scaled & 0xFF;
  chip[kEnvelopeCoarse] = static_cast<int>(scaled >> 8);
}

bool RegisterStream::flush(uint64_t time) {
  std::array<int, 14> chip;
  chip_values(chip);
  bool period_written = false;
  std::array<bool, 3> tone_written{};
  for (uint8_t reg = 0; reg < kEnvelopeShape; ++reg) {
    if (chip[reg] == written_[reg]) continue;
    if (!emit(time, reg, static_cast<uint8_t>(chip[reg]))) return false;
    if (reg < 6) tone_written[reg / 2] = true;
    if (reg == kEnvelopeFine || reg == kEnvelopeCoarse) period_written = true;
  }
  for (int channel = 0; channel < 3 && !source_chip_; ++channel)
    if (tone_written[channel]) measure_tuning(channel);
  if (envelope_shape_set_) {
    if (!emit(time, kEnvelopeShape, source_[kEnvelopeShape])) return false;
  } else if (period_written && !first_flush_ && !source_chip_) {
    ++restarts_added_;
  }
  envelope_shape_set_ = false;
  first_flush_ = false;
  return true;
}

bool RegisterStream::effect_write(uint64_t time, uint8_t reg, uint8_t value) {
  if (reg > kEnvelopeShape) return true;
  value &= kRegisterMask[reg];
  if (reg != kEnvelopeShape && written_[reg] == value) return true;
  return emit(time, reg, value);
}

bool RegisterStream::finish(uint64_t time) {
  if (written_[kMixer] < 0) return true;
  return emit(time, kMixer, static_cast<uint8_t>(written_[kMixer]));
}

bool RegisterStream::emit(uint64_t time, uint8_t reg, uint8_t value) {
  if (out_.size() >= kMaxWrites) {
    limit_reached_ = true;
    return false;
  }
  // Times come in microseconds; the source chip counts cycles of its clock.
  const uint64_t at = source_chip_
                          ? static_cast<uint64_t>(std::llround(
                                static_cast<long double>(time) * clock_hz_ / 1000000.0L))
                          : time;
  out_.push_back({at, reg, value});
  written_[reg] = value;
  return true;
}

// The error in cents of a channel's rescaled tone period against the exact
// one; only sounding periods (not 0) count.
void RegisterStream::measure_tuning(int channel) {
  const uint32_t source = source_[2 * channel] | uint32_t{source_[2 * channel + 1]} << 8;
  if (source == 0) return;
  const uint32_t chip =
      static_cast<uint32_t>(written_[2 * channel] | written_[2 * channel + 1] << 8);
  const double cents = std::fabs(1200.0 * std::log2(chip / (source * factor_)));
  ++tuned_periods_;
  cents_sum_ += cents;
  cents_worst_ = std::max(cents_worst_, cents);
}

void RegisterStream::report(SongInfo& info) const {
  info.writes = out_.size();
  info.restarts_added = restarts_added_;
  info.tuning_mean_cents = tuned_periods_ == 0 ? 0 : cents_sum_ / tuned_periods_;
  info.tuning_worst_cents = cents_worst_;
}
