// The fade-out at the end of a looped song, on 16-bit stereo frames.
#pragma once

#include <cstdint>
#include <span>

// A fade from full sound at start_us to silence at end_us (times from the
// song's start); start_us == end_us is no fade at all.
struct FadeWindow {
  uint64_t start_us = 0;
  uint64_t end_us = 0;
};

// Scales interleaved stereo samples (left, right, left, ...) in place; the
// first frame of `samples` is frame number first_frame of the song at
// sample_rate. Frames before the window keep their values, frames after it
// become 0. Inside, with the window from frame S to frame E (each time in
// whole frames, rounded down) and x = (E - n) / (E - S) the share of the
// window still ahead of frame n, the gain is x squared, a curve that falls
// fast at first and lands softly: in 16-bit fixed point, r = floor(65536 *
// (E - n) / (E - S)), gain = floor(r * r / 65536), and a sample v becomes
// floor((v * gain + 32768) / 65536). Integer arithmetic only, so every
// platform gives the same bytes.
void apply_fade(std::span<int16_t> samples, uint64_t first_frame, uint32_t sample_rate,
                const FadeWindow& fade);
