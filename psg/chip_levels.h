// The output levels of the two chips, as measured on real parts: one
// channel's voltage for each amplitude, normalised to the loudest (1.0).
// The DAC is far from linear, about 1.5 dB a step at the top and much more
// at the bottom.
#pragma once

#include <array>

// AY-3-8910: 16 levels; fixed volumes and envelope steps share them.
inline constexpr std::array<float, 16> kAyLevels = {
    0.0f / 65535,     901.0f / 65535,   1341.0f / 65535,  1904.0f / 65535,
    2775.0f / 65535,  4053.0f / 65535,  5552.0f / 65535,  8972.0f / 65535,
    11084.0f / 65535, 17345.0f / 65535, 23115.0f / 65535, 29487.0f / 65535,
    37380.0f / 65535, 45041.0f / 65535, 55585.0f / 65535, 65535.0f / 65535};

// YM2149: 32 levels for the envelope's 32 steps; a fixed volume v sits at
// 2v + 1. The measurement puts steps 0 and 1 both at the floor; step 1 is
// placed at half of step 2 here so that all 32 steps stay distinct, as the
// chip's ladder has them.
inline constexpr std::array<float, 32> kYmLevels = {
    0.0f / 65535,     119.0f / 65535,   239.0f / 65535,   464.0f / 65535,
    656.0f / 65535,   810.0f / 65535,   1006.0f / 65535,  1234.0f / 65535,
    1553.0f / 65535,  1922.0f / 65535,  2322.0f / 65535,  2614.0f / 65535,
    3121.0f / 65535,  3766.0f / 65535,  4400.0f / 65535,  5024.0f / 65535,
    5969.0f / 65535,  7157.0f / 65535,  8418.0f / 65535,  9620.0f / 65535,
    11425.0f / 65535, 13695.0f / 65535, 15941.0f / 65535, 18270.0f / 65535,
    21762.0f / 65535, 26144.0f / 65535, 30512.0f / 65535, 34884.0f / 65535,
    41426.0f / 65535, 49410.0f / 65535, 57506.0f / 65535, 65535.0f / 65535};
