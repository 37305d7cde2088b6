// ALSA's library, loaded when live play first opens the sound device rather
// than when the program starts. A render never plays anything, and loading
// the library (and the maths library it brings) at every start took about
// 0.2 ms, 4 % of rendering a one-minute song; a machine without it can still
// render.
#pragma once

#include <alsa/asoundlib.h>

// The library's functions that the sink calls, by their own names, so a call
// reads as it would against the library itself: alsa->snd_pcm_open(...).
// clang-format off
#define ZARNIK_ALSA_FUNCTIONS(X)              \
  X(snd_lib_error_set_handler)                \
  X(snd_pcm_open)                             \
  X(snd_pcm_close)                            \
  X(snd_pcm_prepare)                          \
  X(snd_pcm_start)                            \
  X(snd_pcm_state)                            \
  X(snd_pcm_pause)                            \
  X(snd_pcm_drop)                             \
  X(snd_pcm_recover)                          \
  X(snd_pcm_avail_update)                     \
  X(snd_pcm_writei)                           \
  X(snd_pcm_delay)                            \
  X(snd_pcm_hw_params_sizeof)                 \
  X(snd_pcm_hw_params_any)                    \
  X(snd_pcm_hw_params_set_access)             \
  X(snd_pcm_hw_params_set_format)             \
  X(snd_pcm_hw_params_set_channels)           \
  X(snd_pcm_hw_params_set_rate)               \
  X(snd_pcm_hw_params_set_period_size_near)   \
  X(snd_pcm_hw_params_set_buffer_size_near)   \
  X(snd_pcm_hw_params)                        \
  X(snd_pcm_sw_params_sizeof)                 \
  X(snd_pcm_sw_params_current)                \
  X(snd_pcm_sw_params_get_boundary)           \
  X(snd_pcm_sw_params_set_start_threshold)    \
  X(snd_pcm_sw_params_set_avail_min)          \
  X(snd_pcm_sw_params)
// clang-format on

struct AlsaLibrary {
#define ZARNIK_ALSA_POINTER(name) decltype(&::name) name = nullptr;
  ZARNIK_ALSA_FUNCTIONS(ZARNIK_ALSA_POINTER)
#undef ZARNIK_ALSA_POINTER
};

// The library, loaded on the first call (from any thread); null when it is
// missing or lacks one of the functions, which the player reports as a sound
// device it cannot open.
const AlsaLibrary* alsa_library();
