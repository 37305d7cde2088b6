#include "psg/stretch_engine.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

namespace {

constexpr uint64_t kClock = Chip::kChipClock;
constexpr uint64_t kRate = Chip::kFrameRate;

// Frames the ring holds at its high-water mark: a run stops on the tick
// whose frame takes it above.
constexpr uint32_t kHighFrames = SampleRing::kHighWater / 4;  // 9216

// Runs a countdown of the kind the tone and noise generators use (a counter
// of 0 or 1 reloads on the next tick, a reload adds the period) for `ticks`
// ticks in closed form. Returns the number of reloads. The period is not 0.
uint64_t run_countdown(uint16_t* counter, uint16_t period, uint64_t ticks) {
  if (ticks == 0) return 0;
  uint64_t reloads = 0;
  uint32_t count = *counter;
  if (count <= 1) {
    --ticks;
    reloads = 1;
    count = period + count - 1;  // at least 7
  }
  if (ticks >= count) {
    // Reloads at tick `count`, then every `period` ticks from a counter of 1.
    ticks -= count;
    reloads += 1 + ticks / period;
    count = period - static_cast<uint32_t>(ticks % period);
  } else {
    count -= static_cast<uint32_t>(ticks);
  }
  *counter = static_cast<uint16_t>(count);
  return reloads;
}

// The noise register and its output as one 33-bit vector (bits 0..31 the
// register, bit 32 the output). A shift is linear over GF(2): the output takes
// bit 0, the register moves left, and bit 30 moving into bit 31 XORs in the
// feedback taps. So n shifts are one 33x33 bit matrix, and any n is a product
// of the matrices for n = 1, 2, 4, ... kept in a table.
using NoiseMatrix = std::array<uint64_t, 33>;  // column j: the image of bit j

uint64_t one_shift(uint64_t state) {
  NoiseGenerator noise;
  noise.shift_register = static_cast<uint32_t>(state);
  noise.output = static_cast<uint16_t>((state >> 32) & 1u);
  noise.shift();
  return noise.shift_register | (static_cast<uint64_t>(noise.output) << 32);
}

uint64_t apply(const NoiseMatrix& matrix, uint64_t state) {
  // Masked, not branched on: the bits of the state follow no pattern.
  uint64_t result = 0;
  for (unsigned j = 0; j < 33; ++j) result ^= matrix[j] & (0 - ((state >> j) & 1u));
  return result;
}

struct NoisePowers {
  std::array<NoiseMatrix, 64> powers{};  // powers[k]: 2^k shifts
  NoisePowers() {
    for (unsigned j = 0; j < 33; ++j) powers[0][j] = one_shift(uint64_t{1} << j);
    for (size_t k = 1; k < powers.size(); ++k) {
      for (unsigned j = 0; j < 33; ++j)
        powers[k][j] = apply(powers[k - 1], powers[k - 1][j]);
    }
  }
};

// Shifts the noise register `shifts` times, with up to 64 matrix products for
// a long stretch instead of one step per shift.
void shift_noise(NoiseGenerator* noise, uint64_t shifts) {
  if (shifts <= 64) {
    for (; shifts != 0; --shifts) noise->shift();
    return;
  }
  static const NoisePowers table;
  uint64_t state =
      noise->shift_register | (static_cast<uint64_t>(noise->output & 1u) << 32);
  for (size_t k = 0; shifts != 0; ++k, shifts >>= 1) {
    if (shifts & 1u) state = apply(table.powers[k], state);
  }
  noise->shift_register = static_cast<uint32_t>(state);
  noise->output = static_cast<uint16_t>((state >> 32) & 1u);
}

// Values of a run buffer in one Block.
constexpr size_t kBlockValues = 8;

// The most frames one shift's level of the noise may show in, rounded up to
// whole Blocks: frames fall due at least 22 ticks apart, so a shift's level,
// which lasts one period, shows in at most 23 of them for the longest
// period, 496 ticks (and for a counter left from a longer period than the one
// now set, only the level before the first shift lasts longer).
constexpr size_t kNoiseSpan = 3 * kBlockValues;
static_assert((NoiseGenerator::kMaxPeriod + 21) / 22 <= kNoiseSpan);

// The tone period (in ticks) below which a tone goes frame by frame rather
// than from flip to flip: it flips at least about every other frame, and
// working out which half of its wave each frame falls in costs less than
// going from flip to flip (measured: 23 and 92 do worse).
constexpr uint32_t kFastTone = 46;

// Far beyond any run: a generator that never acts within one.
constexpr uint64_t kNever = uint64_t{1} << 62;

bool heard(const ToneChannel& channel) {
  return channel.amplitude != 0 || channel.envelope_mode != 0;
}

}  // namespace

void StretchEngine::reset() {
  chip_.reset();
  sampler_.reset();
  now_ = 0;
  for (int i = 0; i < 3; ++i) {
    tone_heard_[i] = false;
    tone_synced_at_[i] = 0;
  }
  noise_heard_ = false;
  noise_synced_at_ = 0;
  envelope_heard_ = false;
  envelope_synced_at_ = 0;
  update_hearing();
}

void StretchEngine::catch_up_tone(int channel) {
  if (tone_heard_[channel]) return;
  ToneChannel& tone = chip_.channels[static_cast<size_t>(channel)];
  const uint64_t ticks = now_ - tone_synced_at_[channel];
  tone_synced_at_[channel] = now_;
  if (tone.period == 0) return;  // frozen
  tone.flip_flop ^=
      static_cast<uint8_t>(run_countdown(&tone.counter, tone.period, ticks) & 1u);
}

void StretchEngine::catch_up_noise() {
  if (noise_heard_) return;
  NoiseGenerator& noise = chip_.noise;
  const uint64_t ticks = now_ - noise_synced_at_;
  noise_synced_at_ = now_;
  if (noise.period == 0) return;
  shift_noise(&noise, run_countdown(&noise.counter, noise.period, ticks));
}

void StretchEngine::catch_up_envelope() {
  if (envelope_heard_) return;
  EnvelopeGenerator& envelope = chip_.envelope;
  const uint64_t ticks = now_ - envelope_synced_at_;
  envelope_synced_at_ = now_;
  if (envelope.period == 0 || ticks == 0) return;
  const uint64_t total = envelope.counter + ticks;
  uint64_t steps = total / envelope.period;
  envelope.counter = static_cast<uint32_t>(total % envelope.period);
  // Every shape either holds within 17 steps or repeats its levels every 16
  // or 32 steps, so a long run of steps ends where 32 + (steps mod 32) do.
  if (steps >= 64) steps = 32 + steps % 32;
  for (; steps != 0; --steps) chip_.advance_envelope_level();
}

void StretchEngine::update_tone_hearing(int channel) {
  const ToneChannel& tone = chip_.channels[static_cast<size_t>(channel)];
  // A frozen tone (period 0) never flips, so it needs no stretches either.
  const bool now_heard = tone.tone_enable != 0 && tone.period != 0 && heard(tone);
  if (now_heard && !tone_heard_[channel]) catch_up_tone(channel);
  if (!now_heard && tone_heard_[channel]) tone_synced_at_[channel] = now_;
  tone_heard_[channel] = now_heard;
}

void StretchEngine::update_hearing() {
  bool noise_heard = false;
  bool envelope_heard = false;
  for (int i = 0; i < 3; ++i) {
    update_tone_hearing(i);
    const ToneChannel& channel = chip_.channels[static_cast<size_t>(i)];
    noise_heard = noise_heard || (channel.noise_enable != 0 && heard(channel));
    envelope_heard = envelope_heard || channel.envelope_mode != 0;
  }
  // A holding envelope's steps change nothing until a restart.
  envelope_heard = envelope_heard && chip_.envelope.direction != 0;
  noise_heard = noise_heard && chip_.noise.period != 0;
  if (noise_heard && !noise_heard_) catch_up_noise();
  if (!noise_heard && noise_heard_) noise_synced_at_ = now_;
  noise_heard_ = noise_heard;
  if (envelope_heard && !envelope_heard_) catch_up_envelope();
  if (!envelope_heard && envelope_heard_) envelope_synced_at_ = now_;
  envelope_heard_ = envelope_heard;
}

void StretchEngine::write_register(uint8_t reg, uint8_t value) {
  // A generator left behind runs out its time at the period it had.
  if (reg <= 5) catch_up_tone(reg / 2);
  if (reg == 6) catch_up_noise();
  // Entering envelope mode reads the envelope's current level.
  if (reg >= 8 && reg <= 10 && (value & 0x10u) != 0) catch_up_envelope();
  chip_.write_register(reg, value);
  // A restart throws the old envelope state away, counter and all.
  if (reg >= 11 && reg <= 13) envelope_synced_at_ = now_;
  // Who hears what: a tone's period matters to that tone alone, the port
  // and the registers beyond to nobody; the rest (an envelope period write
  // restarts the envelope too) may change anything.
  if (reg <= 5) {
    update_tone_hearing(reg / 2);
  } else if (reg < 14) {
    update_hearing();
  }
}

void StretchEngine::synchronize() {
  for (int i = 0; i < 3; ++i) catch_up_tone(i);
  catch_up_noise();
  catch_up_envelope();
}

void StretchEngine::advance(uint64_t ticks) {
  // Everyone is left behind at the present, so that the catch-up below runs
  // each generator over the ticks in closed form; then who hears what is
  // worked out afresh, as after a write.
  for (int i = 0; i < 3; ++i) {
    if (tone_heard_[i]) tone_synced_at_[i] = now_;
    tone_heard_[i] = false;
  }
  if (noise_heard_) noise_synced_at_ = now_;
  noise_heard_ = false;
  if (envelope_heard_) envelope_synced_at_ = now_;
  envelope_heard_ = false;
  now_ += ticks;
  sampler_.skip(ticks);
  synchronize();
  update_hearing();
}

// The steps of a run are folded into it, so that the run's fields can stay in
// registers instead of being reloaded after every store into the ring.
#if defined(__GNUC__)
#define RUN_STEP [[gnu::always_inline]] inline
#else
#define RUN_STEP inline
#endif

namespace {

// Runs step(0), step(1), step(2) written out one after the other: with every
// index into the run's per-channel arrays a constant, the compiler can keep
// those arrays in registers too (one indexed access puts the whole run in
// memory).
template <typename Step>
RUN_STEP void for_each_channel(Step step) {
  step(size_t{0});
  step(size_t{1});
  step(size_t{2});
}

// Eight copies of one value of a run buffer. The functions that take or
// give one by value have internal linkage and are always inlined into
// StretchEngine::run(), so no call between objects passes it: the ABI note
// GCC gives for a target without SSE (32-bit Windows), reported where they
// are inlined, does not apply to them.
typedef int16_t Block __attribute__((vector_size(16)));
static_assert(sizeof(Block) == kBlockValues * sizeof(int16_t));

#if defined(__GNUC__) && !defined(__clang__)
// To the end of the file: GCC gives the note when it emits the code.
#pragma GCC diagnostic ignored "-Wpsabi"
#endif

RUN_STEP Block block_of(int16_t value) {
  return Block{} + value;
}

// Sets elements [from, to) of a run buffer to the value in block, sixteen
// bytes at a time: it may write up to sixteen bytes past `to`, which the
// next fill or the buffer's slack takes.
RUN_STEP void fill_span(int16_t* buffer, size_t from, size_t to, Block block) {
  for (size_t i = from; i < to; i += kBlockValues) {
    std::memcpy(buffer + i, &block, sizeof block);
  }
}

RUN_STEP void fill_span(int16_t* buffer, size_t from, size_t to, int16_t value) {
  fill_span(buffer, from, to, block_of(value));
}

// A mask of all ones for a set bit 0, else of all zeros.
int16_t mask_of(unsigned bit) {
  return static_cast<int16_t>(-static_cast<int>(bit & 1u));
}

// Eight shifts of the noise at once. A shift is linear over GF(2) in the
// register's bits, and so is the output's change over several shifts; so the
// register eight shifts on, and the output's changes after each of the
// eight, are the XOR of what each of the register's four bytes alone gives:
// four tables of 256 entries, made with the chip's own shift.
struct NoiseOctets {
  // For byte b of the register holding v (the others 0, the output 0): the
  // register after eight shifts (bits 0..31) and the output after shift j
  // (bit 32 + j).
  uint64_t effect[4][256];
  // For eight outputs as bits: their masks.
  Block masks[256];

  NoiseOctets() {
    for (unsigned b = 0; b < 4; ++b) {
      for (uint32_t v = 0; v < 256; ++v) {
        NoiseGenerator noise;
        noise.shift_register = v << (8 * b);
        noise.output = 0;
        uint64_t outputs = 0;
        for (unsigned j = 0; j < 8; ++j) {
          noise.shift();
          outputs |= static_cast<uint64_t>(noise.output & 1u) << j;
        }
        effect[b][v] = noise.shift_register | outputs << 32;
      }
    }
    for (unsigned v = 0; v < 256; ++v) {
      for (unsigned j = 0; j < kBlockValues; ++j) masks[v][j] = mask_of(v >> j);
    }
  }
};

// Shifts the noise `count` times, writing its output after each shift as a
// mask into levels (which takes up to eight more): about a tenth of the
// work of shifting one at a time.
RUN_STEP void noise_levels(NoiseGenerator* noise, size_t count, int16_t* levels) {
  static const NoiseOctets octets;
  uint32_t state = noise->shift_register;
  uint32_t output = noise->output & 1u;
  size_t k = 0;
  for (; k + kBlockValues <= count; k += kBlockValues) {
    const uint64_t effect =
        octets.effect[0][state & 0xFFu] ^ octets.effect[1][(state >> 8) & 0xFFu] ^
        octets.effect[2][(state >> 16) & 0xFFu] ^ octets.effect[3][state >> 24];
    state = static_cast<uint32_t>(effect);
    // From an output of 1, every one of the eight is inverted.
    const uint32_t outputs = static_cast<uint32_t>(effect >> 32) ^ (0u - output);
    output = (outputs >> 7) & 1u;
    std::memcpy(levels + k, &octets.masks[outputs & 0xFFu], sizeof(Block));
  }
  noise->shift_register = state;
  noise->output = static_cast<uint16_t>(output);
  for (; k < count; ++k) {
    noise->shift();
    levels[k] = mask_of(noise->output);
  }
}

// Mixes `count` frames of the three channels' outputs into ring slots.
RUN_STEP void mix_into(uint8_t* slot, const int16_t* a, const int16_t* b,
                       const int16_t* c, size_t count) {
  size_t j = 0;
  if constexpr (std::endian::native == std::endian::little) {
    // Eight frames at a time: a frame is its left value then its right, so
    // the two interleaved are the frames' bytes in order.
    for (; j + kBlockValues <= count; j += kBlockValues) {
      Block left, right, middle;
      std::memcpy(&left, a + j, sizeof left);
      std::memcpy(&middle, b + j, sizeof middle);
      std::memcpy(&right, c + j, sizeof right);
      left += middle;
      right += middle;
      const Block first = __builtin_shufflevector(left, right, 0, 8, 1, 9, 2, 10, 3, 11);
      const Block second =
          __builtin_shufflevector(left, right, 4, 12, 5, 13, 6, 14, 7, 15);
      std::memcpy(slot + 4 * j, &first, sizeof first);
      std::memcpy(slot + 4 * j + sizeof first, &second, sizeof second);
    }
  }
  for (; j < count; ++j) {
    const uint32_t frame = SampleRing::pack_frame(static_cast<int16_t>(a[j] + b[j]),
                                                  static_cast<int16_t>(b[j] + c[j]));
    std::memcpy(slot + 4 * j, &frame, sizeof frame);
  }
}

// How a run goes. A run stops at its end or on the tick whose frame takes the
// ring above its high-water mark (the ring then wants emptying), so it makes
// at most 9217 frames, and they are worked out signal by signal, each into a
// buffer of per-frame values:
//
//   1. plan(): where the run stops;
//   2. run_noise() and run_envelope(): the noise output and the envelope's
//      amplitude at every frame, for the channels that hear them;
//   3. run_channel(): each channel's output at every frame. Most channels
//      hear only their tone (or nothing that changes), and their output comes
//      straight from the flips of the tone (run_tone()); the others combine
//      their gate's inputs frame by frame (combine());
//   4. the channels are mixed into the ring's free slots, and store() puts
//      the state back.
//
// Each signal goes from change to change: the next flip of a tone, the next
// shift of the noise, the next step of the envelope, each kept as the tick of
// the run on which it comes (kNever when it cannot come). A change on tick t
// shows in every frame due on t or later, the first of them frame
// frames_before(t). Generators nobody hears are not run at all
// (StretchEngine catches them up when they start to matter).
class Run {
 public:
  Run(Chip& chip, PointSampler& sampler, StretchBuffers& buffers, uint32_t ticks,
      const bool tone_heard[3], bool noise_heard, bool envelope_heard);
  uint32_t remaining() const { return static_cast<uint32_t>(end_ - stop_); }
  // Makes the run's frames and moves every heard generator on to its stop.
  void go();
  // Puts the state back into the chip and the ring.
  void store(const bool tone_heard[3]);

  // Set when the envelope began to hold during the run, on tick hold_tick.
  bool envelope_held = false;
  uint64_t hold_tick = 0;

 private:
  // The number of frames due before `tick`, which is the index of the first
  // frame that shows a change on it.
  size_t frames_before(uint64_t tick) const {
    return static_cast<size_t>((start_accumulator_ + kRate * (tick - 1)) / kClock);
  }
  // The tick on which the run's j-th frame falls due (j >= 1).
  uint64_t frame_tick(uint64_t j) const {
    return (j * kClock - start_accumulator_ + kRate - 1) / kRate;
  }
  void plan();
  void run_tone(size_t i, int16_t* values, int16_t low, int16_t high);
  void run_fast_tone(size_t i, int16_t* values, size_t from, uint64_t at, uint8_t flip,
                     int16_t low, int16_t high);
  void run_noise(int16_t* levels);
  void run_envelope(int16_t* amplitudes);
  void run_channel(size_t i);
  void combine(size_t i);
  void put_frames();

  Chip& chip_;
  PointSampler& sampler_;
  SampleRing& ring_;
  StretchBuffers& buffers_;
  uint64_t end_ = 0;   // ticks asked for
  uint64_t stop_ = 0;  // ticks run
  size_t frames_ = 0;  // frames made

  // Per channel: the tick of its flip-flop's next flip (kNever when
  // unheard), the ticks to the flip after that (one less than the period
  // for a counter that starts from 0), the period, and the gate and
  // amplitude that give its output.
  uint64_t flip_at_[3] = {};
  uint32_t reload_[3] = {};
  uint32_t tone_period_[3] = {};
  uint8_t flip_[3] = {};
  int16_t amplitude_[3] = {};
  ChannelGate gate_[3];
  bool envelope_mode_[3] = {};

  // Heard noise runs shift by shift to the stop.
  NoiseGenerator* noise_ = nullptr;  // null when unheard
  uint8_t noise_output_ = 0;

  // The envelope: the tick of its next step (kNever when unheard or frozen),
  // and the first frame that shows a step of this run.
  bool envelope_heard_ = false;
  uint32_t envelope_period_ = 0;
  uint64_t step_at_ = kNever;
  size_t first_step_frame_ = 0;

  // The ring's frames and the sampler's accumulator at the start.
  uint32_t start_frames_ = 0;
  uint32_t start_accumulator_ = 0;
};

RUN_STEP Run::Run(Chip& chip, PointSampler& sampler, StretchBuffers& buffers,
                  uint32_t ticks, const bool tone_heard[3], bool noise_heard,
                  bool envelope_heard)
    : chip_(chip),
      sampler_(sampler),
      ring_(sampler.ring()),
      buffers_(buffers),
      end_(ticks) {
  for_each_channel([&](size_t i) {
    const ToneChannel& channel = chip.channels[i];
    tone_period_[i] = channel.period;
    // A counter of 0 or 1 flips on the first tick; from 0 the next reload
    // comes one tick early.
    reload_[i] = channel.period - (channel.counter == 0 ? 1u : 0u);
    flip_[i] = channel.flip_flop;
    amplitude_[i] = channel.amplitude;
    gate_[i] = ChannelGate(channel, chip.noise);
    envelope_mode_[i] = channel.envelope_mode != 0;
    flip_at_[i] = tone_heard[i] ? std::max<uint32_t>(channel.counter, 1) : kNever;
  });
  noise_output_ = static_cast<uint8_t>(chip.noise.output != 0);
  if (noise_heard) noise_ = &chip.noise;
  envelope_heard_ = envelope_heard && chip.envelope.period != 0;
  envelope_period_ = chip.envelope.period;
  if (envelope_heard_) step_at_ = envelope_period_ - chip.envelope.counter;
  start_accumulator_ = sampler.accumulator;
  start_frames_ = ring_.fill_level() / 4;
  plan();
}

RUN_STEP void Run::plan() {
  if (start_frames_ > kHighFrames) {
    // Only a caller that has not emptied the ring gets here: the run only has
    // to keep within its buffers.
    stop_ = std::min<uint64_t>(end_, frame_tick(StretchBuffers::kFrames + 1) - 1);
  } else {
    stop_ = std::min<uint64_t>(end_, frame_tick(kHighFrames + 1 - start_frames_));
  }
  frames_ = frames_before(stop_ + 1);
}

// Fills values with `low` or `high` by the tone's flip-flop at each frame.
RUN_STEP void Run::run_tone(size_t i, int16_t* values, int16_t low, int16_t high) {
  const Block blocks[2] = {block_of(low), block_of(high)};
  uint64_t at = flip_at_[i];
  uint32_t reload = reload_[i];
  uint8_t flip = flip_[i];
  size_t from = 0;
  if (tone_period_[i] < kFastTone) {
    // The flip (if any) that does not keep to the period, then frame by frame.
    if (at <= stop_ && reload != tone_period_[i]) {
      from = frames_before(at);
      fill_span(values, 0, from, blocks[flip]);
      flip ^= 1u;
      at += reload;
      reload = tone_period_[i];
    }
    run_fast_tone(i, values, from, at, flip, low, high);
    return;
  }
  while (at <= stop_) {
    const size_t to = frames_before(at);
    fill_span(values, from, to, blocks[flip]);
    from = to;
    flip ^= 1u;
    at += reload;
    reload = tone_period_[i];
  }
  fill_span(values, from, frames_, blocks[flip]);
  flip_at_[i] = at;
  reload_[i] = reload;
  flip_[i] = flip;
}

RUN_STEP void Run::run_fast_tone(size_t i, int16_t* values, size_t from, uint64_t at,
                                 uint8_t flip, int16_t low, int16_t high) {
  // From the flip on tick `at` on, the flips keep to the period. A frame
  // due on tick t shows the flip-flop as it was, inverted when t falls in an
  // odd period since `at`: the first of every two periods. So each frame
  // keeps its tick's place in a cycle of two periods, from the frame before.
  const uint32_t period = tone_period_[i];
  const uint32_t cycle = 2 * period;
  const size_t first = std::min(frames_before(at), frames_);
  fill_span(values, from, first, flip != 0 ? high : low);
  // Frames fall due 22 ticks after one whose accumulator ends at least
  // 29800, else 23: each step moves the place in the cycle on by one of two
  // amounts.
  const uint32_t step_short = 22 % cycle;
  const uint32_t step_long = 23 % cycle;
  const uint64_t first_tick = frame_tick(first + 1);
  uint32_t place = static_cast<uint32_t>((first_tick - at) % cycle);
  uint32_t accumulator = static_cast<uint32_t>(start_accumulator_ + kRate * first_tick -
                                               kClock * (first + 1));
  const int16_t flipped = flip != 0 ? low : high;
  const int16_t kept = flip != 0 ? high : low;
  for (size_t j = first; j < frames_; ++j) {
    values[j] = place < period ? flipped : kept;
    const bool short_step = accumulator >= kClock - 22 * kRate;
    place += short_step ? step_short : step_long;
    place -= place >= cycle ? cycle : 0;
    accumulator = short_step ? accumulator - (kClock - 22 * kRate)
                             : accumulator + (23 * kRate - kClock);
  }
  // The flips up to the stop.
  const uint64_t flips = at <= stop_ ? (stop_ - at) / period + 1 : 0;
  flip_at_[i] = at + flips * period;
  reload_[i] = period;
  flip_[i] = static_cast<uint8_t>(flip ^ (flips & 1u));
}

RUN_STEP void Run::run_noise(int16_t* levels) {
  // The levels after each shift first, eight shifts at a time; then shift by
  // shift, each writing every frame its level may show in (kNoiseSpan from
  // the first due on its tick), the next shift's write replacing what is not
  // its own: every shift makes the same stores, with no branch on how many
  // frames it covers (a count that follows no pattern a branch predictor
  // learns).
  NoiseGenerator noise = *noise_;
  uint64_t at = std::max<uint32_t>(noise.counter, 1);
  uint32_t reload = noise.period - (noise.counter == 0 ? 1u : 0u);
  // The counter may still run out a longer period than the one now set.
  size_t from = std::min(frames_before(at), frames_);
  fill_span(levels, 0, from, mask_of(noise.output));
  const size_t shifts = at > stop_            ? 0
                        : at + reload > stop_ ? 1
                                              : 2 + (stop_ - at - reload) / noise.period;
  int16_t* shift_levels = buffers_.shift_levels;
  noise_levels(&noise, shifts, shift_levels);
  for (size_t k = 0; k < shifts; ++k, reload = noise.period) {
    from = frames_before(at);
    const Block level = block_of(shift_levels[k]);
    for (size_t span = 0; span < kNoiseSpan / kBlockValues; ++span) {
      std::memcpy(levels + from + span * kBlockValues, &level, sizeof level);
    }
    at += reload;
  }
  fill_span(levels, from, frames_, mask_of(noise.output));
  noise.counter = static_cast<uint16_t>(at - stop_);
  *noise_ = noise;
  noise_output_ = static_cast<uint8_t>(noise.output & 1u);
}

RUN_STEP void Run::run_envelope(int16_t* amplitudes) {
  // Every channel that follows the envelope takes the same amplitude at a
  // step; before the first, each keeps its own.
  size_t follower = 0;
  while (!envelope_mode_[follower]) ++follower;
  bool stepped = false;
  size_t from = frames_;
  int16_t amplitude = 0;
  first_step_frame_ = frames_;
  while (step_at_ <= stop_) {
    const size_t to = frames_before(step_at_);
    if (stepped) {
      fill_span(amplitudes, from, to, amplitude);
    } else {
      first_step_frame_ = to;
      stepped = true;
    }
    from = to;
    chip_.envelope.counter = 0;
    chip_.advance_envelope_level();
    amplitude = chip_.channels[follower].amplitude;
    if (chip_.envelope.direction == 0) {
      // Holding: its steps change nothing until a restart.
      envelope_held = true;
      hold_tick = step_at_;
      step_at_ = kNever;
    } else {
      step_at_ += envelope_period_;
    }
  }
  if (stepped) fill_span(amplitudes, from, frames_, amplitude);
}

RUN_STEP void Run::run_channel(size_t i) {
  int16_t* out = buffers_.out[i];
  const bool noise_varies = noise_ != nullptr && gate_[i].noise;
  const bool amplitude_varies = envelope_heard_ && envelope_mode_[i];
  if (!noise_varies && !amplitude_varies) {
    // The output follows the tone alone, or nothing changes it.
    const int16_t low = gate_[i].output(amplitude_[i], 0, noise_output_);
    const int16_t high = gate_[i].output(amplitude_[i], 1, noise_output_);
    if (flip_at_[i] == kNever) {
      // A channel held at one value (silent, most often) keeps it run after
      // run: the buffer is filled again only when the value changes or the
      // run is longer.
      const int16_t value = flip_[i] != 0 ? high : low;
      if (buffers_.held_value[i] != value || buffers_.held_frames[i] < frames_) {
        fill_span(out, 0, frames_, value);
        buffers_.held_value[i] = value;
        buffers_.held_frames[i] = frames_;
      }
    } else {
      buffers_.held_frames[i] = 0;
      run_tone(i, out, low, high);
    }
    return;
  }
  buffers_.held_frames[i] = 0;
  if (flip_at_[i] == kNever && !amplitude_varies) {
    // The output follows the noise alone: one of two values by its mask.
    const int16_t low = gate_[i].output(amplitude_[i], flip_[i], 0);
    const int16_t high = gate_[i].output(amplitude_[i], flip_[i], 1);
    const int16_t* levels = buffers_.noise;
    for (size_t j = 0; j < frames_; ++j) {
      out[j] = static_cast<int16_t>(low ^ (levels[j] & (low ^ high)));
    }
    return;
  }
  // A tone not run here belongs to a channel that follows the envelope (the
  // noise alone went above), which is heard; so the tone is unheard only
  // because its gate does not take it, and its flips are masked off unread.
  if (flip_at_[i] != kNever) run_tone(i, buffers_.flips[i], mask_of(0), mask_of(1));
  combine(i);
}

RUN_STEP void Run::combine(size_t i) {
  // The gate of ChannelGate::output(), frame by frame over the buffers, in
  // masks of all ones or all zeros: shut ^ amplitude - shut is the amplitude
  // when the gate is open and its negative when it is shut. The amplitude is
  // the channel's own up to the envelope's first step.
  const ChannelGate gate = gate_[i];
  const int16_t always = mask_of(gate.always);
  const int16_t tone = mask_of(gate.tone);
  const int16_t noise = mask_of(gate.noise);
  const int16_t* flips = buffers_.flips[i];
  const int16_t* levels = buffers_.noise;
  int16_t* out = buffers_.out[i];
  const auto shut = [&](size_t j) {
    return static_cast<int16_t>(~(always | (tone & flips[j]) | (noise & levels[j])));
  };
  const bool follows = envelope_heard_ && envelope_mode_[i];
  const size_t own_until = follows ? first_step_frame_ : frames_;
  const int16_t own = amplitude_[i];
  for (size_t j = 0; j < own_until; ++j) {
    out[j] = static_cast<int16_t>((own ^ shut(j)) - shut(j));
  }
  const int16_t* amplitudes = buffers_.envelope;
  for (size_t j = own_until; j < frames_; ++j) {
    out[j] = static_cast<int16_t>((amplitudes[j] ^ shut(j)) - shut(j));
  }
}

RUN_STEP void Run::put_frames() {
  uint32_t to_end = 0;
  uint8_t* slot = ring_.free_slots(&to_end);
  const size_t first = std::min<size_t>(frames_, to_end);
  const StretchBuffers& b = buffers_;
  mix_into(slot, b.out[0], b.out[1], b.out[2], first);
  if (first != frames_) {
    mix_into(ring_.first_slot(), b.out[0] + first, b.out[1] + first, b.out[2] + first,
             frames_ - first);
  }
  ring_.publish(static_cast<uint32_t>(frames_));
}

RUN_STEP void Run::go() {
  // Only a channel whose gate takes the noise reads its levels, and it hears
  // the noise: a channel that combines its gate (it follows the envelope)
  // hears whatever its gate takes. So unheard noise needs no levels.
  if (noise_ != nullptr) run_noise(buffers_.noise);
  if (envelope_heard_) run_envelope(buffers_.envelope);
  for_each_channel([&](size_t i) { run_channel(i); });
  put_frames();
}

RUN_STEP void Run::store(const bool tone_heard[3]) {
  // A heard tone's counter is its ticks to the next flip: a counter of 0 or
  // 1 flipped on the first tick, leaving one of at least 7.
  sampler_.accumulator =
      static_cast<uint32_t>(start_accumulator_ + kRate * stop_ - kClock * frames_);
  for_each_channel([&](size_t i) {
    chip_.channels[i].flip_flop = flip_[i];
    if (tone_heard[i])
      chip_.channels[i].counter = static_cast<uint16_t>(flip_at_[i] - stop_);
  });
  if (envelope_heard_ && !envelope_held) {
    chip_.envelope.counter = envelope_period_ - static_cast<uint32_t>(step_at_ - stop_);
  }
}

}  // namespace

uint32_t StretchEngine::run(uint32_t ticks) {
  // A local object whose address never escapes: the compiler may keep its
  // fields in registers across the stores into the ring.
  Run run(chip_, sampler_, buffers_, ticks, tone_heard_, noise_heard_, envelope_heard_);
  run.go();
  run.store(tone_heard_);
  const uint64_t elapsed = ticks - run.remaining();
  now_ += elapsed;
  if (run.envelope_held) {
    // The counter stopped at 0 on the step that made it hold; it runs on from
    // there, unheard, as from a restart.
    envelope_heard_ = false;
    envelope_synced_at_ = now_ - (elapsed - run.hold_tick);
  }
  return static_cast<uint32_t>(elapsed);
}
