// The flows of `mova play` and `mova render`: each entry of the list loaded,
// lengthened by its loops and fade, and played through a synthesis engine
// into the sound device or a file.
#include "mova/listen.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>

#include "audio/audio_sink.h"
#include "audio/clock.h"
#include "audio/engine_threads.h"
#include "audio/fade.h"
#include "audio/flac_output.h"
#include "audio/pcm_render.h"
#include "audio/wav_output.h"
#include "mova/batch.h"
#include "mova/live_player.h"
#include "mova/mova.h"
#include "mova/report.h"
#include "mova/song_list.h"
#include "mova/song_load.h"
#include "mova/status_line.h"
#include "mova/terminal.h"
#include "psg/stretch_engine.h"
#include "psg/studio_engine.h"

namespace {

// One song made ready to play: its writes for the length it plays, and the
// engine that plays them.
struct PreparedSong {
  LoadedSong song;
  SongLength length;  // in microseconds
  std::vector<TimedWrite> writes;
  std::unique_ptr<SampleRing> own_ring;  // a render's; live play shares one
  std::unique_ptr<SynthesisEngine> engine;
  std::string engine_name;  // what the status shows: "YM2149", "exact"
};

bool ends_with(const std::string& text, const char* suffix) {
  const size_t length = std::strlen(suffix);
  if (text.size() < length) return false;
  for (size_t i = 0; i < length; ++i) {
    const char c = text[text.size() - length + i];
    if ((c >= 'A' && c <= 'Z' ? c + 32 : c) != suffix[i]) return false;
  }
  return true;
}

// The song's length in ticks of its writes' clock: the length is worked out
// in microseconds.
SongLength in_ticks(SongLength length, uint32_t clock_hz) {
  const auto ticks = [&](uint64_t us) {
    return static_cast<uint64_t>(static_cast<long double>(us) * clock_hz / 1000000.0L +
                                 0.5L);
  };
  length.loop_start_us = ticks(length.loop_start_us);
  length.song_end_us = ticks(length.song_end_us);
  length.fade_start_us = ticks(length.fade_start_us);
  length.end_us = ticks(length.end_us);
  return length;
}

StereoLayout stereo_layout(const std::string& wanted, const std::string& song) {
  const std::string name = !wanted.empty() ? wanted : song;
  static const struct {
    const char* name;
    StereoLayout layout;
  } kLayouts[] = {{"abc", StereoLayout::Abc},  {"acb", StereoLayout::Acb},
                  {"bac", StereoLayout::Bac},  {"bca", StereoLayout::Bca},
                  {"cab", StereoLayout::Cab},  {"cba", StereoLayout::Cba},
                  {"mono", StereoLayout::Mono}};
  for (const auto& layout : kLayouts) {
    if (name.size() == std::strlen(layout.name) &&
        std::equal(name.begin(), name.end(), layout.name, [](char a, char b) {
          return (a >= 'A' && a <= 'Z' ? a + 32 : a) == b;
        })) {
      return layout.layout;
    }
  }
  return StereoLayout::Abc;
}

// The studio engine for the song, at its own clock.
void make_studio_engine(const ListenOptions& options, SampleRing& ring,
                        PreparedSong& prepared) {
  const LoadedSong& song = prepared.song;
  StudioSettings settings;
  settings.clock_hz = song.clock_hz;
  settings.sample_rate = options.sample_rate;
  const std::string chip = !options.chip.empty() ? options.chip : song.info.chip_type;
  settings.model = chip == "ym" ? ChipModel::Ym : ChipModel::Ay;
  settings.stereo = stereo_layout(options.stereo, song.info.stereo);
  settings.chips = song.two_chips ? 2 : 1;
  prepared.engine = std::make_unique<StudioEngine>(settings, ring);
  prepared.engine_name = settings.model == ChipModel::Ym ? "YM2149" : "AY-3-8910";
  if (song.two_chips) prepared.engine_name += " x2";
}

// Loads the song and builds its engine, on `ring` when given (live play
// keeps one ring from song to song), else on a ring of its own.
int prepare_song(const std::string& path, const ListenOptions& options,
                 PreparedSong& prepared, SampleRing* ring) {
  LoadOptions load;
  load.clock_hz = options.clock_hz;
  load.rate_hz = options.rate_hz;
  load.source_chip = !options.exact;
  load.both_chips = !options.exact;
  if (const int code = load_song(path, load, prepared.song); code != kMovaOk) {
    return code;
  }
  const LoadedSong& song = prepared.song;
  prepared.length =
      song.is_log ? played_once(song.end_ticks) : song_length(song.info, options.length);
  prepared.writes = writes_to_play(song.writes, in_ticks(prepared.length, song.clock_hz));
  if (ring == nullptr) {
    prepared.own_ring = std::make_unique<SampleRing>();
    ring = prepared.own_ring.get();
  }
  if (!options.exact) {
    make_studio_engine(options, *ring, prepared);
    return kMovaOk;
  }
  if (song.info.chips.size() > 1) {
    report(path.c_str(),
           "TurboSound: playing the first chip alone (this engine plays one chip)");
  }
  // The exact engine plays the writes as their text log would: a pause that
  // log cannot carry is refused as it is on import.
  if (!song.is_log && !writes_fit(path.c_str(), prepared.writes, LogForm::Text)) {
    return kMovaDoesNotFit;
  }
  auto exact = std::make_unique<StretchEngine>(*ring);
  exact->install_volume_table(kFullLevels);
  prepared.engine = std::move(exact);
  prepared.engine_name = "exact";
  return kMovaOk;
}

SongStatus status_of(const PreparedSong& prepared, int index, int count) {
  SongStatus status;
  const LoadedSong& song = prepared.song;
  status.title = song.info.title;
  status.author = song.info.author;
  const size_t slash = song.path.find_last_of("/\\");
  status.file_name = slash == std::string::npos ? song.path : song.path.substr(slash + 1);
  status.format = (song.is_log ? "log" : song.info.format) + ", " + prepared.engine_name;
  status.index = index;
  status.count = count;
  status.total_us = prepared.length.end_us;
  status.looped = prepared.length.looped;
  status.loops = prepared.length.loops;
  return status;
}

// Renders the prepared song into output_path: FLAC when the name ends in
// .flac, else WAV ("-": a WAV stream on the standard output). Returns the
// exit code after reporting any failure.
int render_prepared(PreparedSong& prepared, const char* output_path,
                    const std::atomic<bool>* stop) {
  const uint32_t rate = prepared.engine->frame_rate();
  WavOutput wav;
  FlacOutput flac;
  PcmOutput* output = &wav;
  bool opened = false;
  if (ends_with(output_path, ".flac")) {
    output = &flac;
    opened = flac.open(output_path, rate,
                       {prepared.song.info.title, prepared.song.info.author});
  } else {
    opened = wav.open(output_path, rate);
  }
  const char* shown =
      std::strcmp(output_path, "-") == 0 ? "standard output" : output_path;
  if (!opened) {
    report(shown, "%s", output->why().c_str());
    return kMovaCantCreate;
  }
  TimedWriteSource source(prepared.writes);
  PcmRenderHooks hooks;
  hooks.stop = stop;
  const FadeWindow fade{prepared.length.fade_start_us, prepared.length.end_us};
  hooks.shape = [&](uint8_t* frames, uint32_t count, uint64_t first) {
    apply_fade(std::span<int16_t>(reinterpret_cast<int16_t*>(frames), 2 * size_t{count}),
               first, rate, fade);
  };
  switch (render_pcm(source, *prepared.engine, *output, hooks)) {
    case PcmRenderEnd::Done: break;
    case PcmRenderEnd::NoWrites:
    case PcmRenderEnd::ReadFailed:
      output->abandon();
      report(prepared.song.path.c_str(), "holds no register write");
      return kMovaCantRead;
    case PcmRenderEnd::WriteFailed:
      output->abandon();
      report(shown, "%s", output->why().c_str());
      return kMovaCantWrite;
    case PcmRenderEnd::Stopped: output->abandon(); return kMovaInterrupted;
  }
  if (!output->finish()) {
    report(shown, "%s", output->why().c_str());
    return kMovaCantWrite;
  }
  return kMovaOk;
}

}  // namespace

namespace {

// The list to play or render, with the problems of its arguments reported:
// kMovaCantRead when any entry was skipped, so that the exit code says so.
int make_list(const ListenOptions& options, std::vector<ListEntry>& entries) {
  SongList list = expand_song_arguments(options.inputs);
  print_problems(list.problems);
  entries = std::move(list.entries);
  if (options.shuffle) {
    shuffle_entries(entries, options.seeded ? options.seed : std::random_device{}());
  }
  return list.problems.empty() ? kMovaOk : kMovaCantRead;
}

// The pass of the loop that `elapsed_us` falls in.
int loop_pass(const SongLength& length, uint64_t elapsed_us) {
  if (!length.looped || elapsed_us < length.song_end_us) return 1;
  const uint64_t part = length.song_end_us - length.loop_start_us;
  if (part == 0) return length.loops;
  const uint64_t pass = 2 + (elapsed_us - length.song_end_us) / part;
  return static_cast<int>(std::min<uint64_t>(pass, static_cast<uint64_t>(length.loops)));
}

int worst(int a, int b) {
  return a > b ? a : b;
}

// Plays the list live, song after song, as often as --repeat asks.
int play_live(const ListenOptions& options, const std::vector<ListEntry>& entries,
              const LiveControls& controls) {
  // Kept to the end of the process: the refill thread may still be taking
  // the device's last message when the list ends.
  LivePlayer* player =
      new LivePlayer(system_audio_sink(), system_threads(), system_clock());
  int code = kMovaOk;
  const int count = static_cast<int>(entries.size());
  for (int i = 0; i < count;) {
    PreparedSong prepared;
    if (controls.clear) controls.clear();
    const int loaded = prepare_song(entries[static_cast<size_t>(i)].path, options,
                                    prepared, &player->ring());
    if (loaded != kMovaOk) {
      code = worst(code, loaded);
      ++i;
    } else {
      SongStatus status = status_of(prepared, i + 1, count);
      if (!controls.show)
        std::fprintf(stderr, "%s  (%s)\n", plain_song_line(status).c_str(),
                     status.format.c_str());
      LiveControls shown = controls;
      if (controls.show) {
        shown.show = [&](const SongStatus& s) {
          SongStatus with_loop = s;
          with_loop.loop = loop_pass(prepared.length, s.elapsed_us);
          controls.show(with_loop);
        };
      }
      TimedWriteSource source(prepared.writes);
      switch (player->play(source, *prepared.engine, status, shown)) {
        case SongEnding::Ended:
        case SongEnding::Next: ++i; break;
        case SongEnding::Previous: i = i > 0 ? i - 1 : 0; break;
        case SongEnding::Quit: return code;
        case SongEnding::NoDevice:
          if (controls.clear) controls.clear();
          report(prepared.song.path.c_str(), "can't start the sound device");
          return worst(code, kMovaCantCreate);
      }
    }
    if (i == count && options.repeat) i = 0;
  }
  player->finish();
  return code;
}

}  // namespace

namespace {

PlayerKey player_key(Key key) {
  switch (key) {
    case Key::Space: return PlayerKey::Pause;
    case Key::Right: return PlayerKey::Forward5;
    case Key::Left: return PlayerKey::Back5;
    case Key::Up: return PlayerKey::Forward60;
    case Key::Down: return PlayerKey::Back60;
    case Key::Next: return PlayerKey::Next;
    case Key::Previous: return PlayerKey::Previous;
    case Key::Quit: return PlayerKey::Quit;
    case Key::None:
    case Key::Other: break;
  }
  return PlayerKey::None;
}

}  // namespace

namespace {

// On a terminal: the status line and the keys; elsewhere plain lines.
int play_terminal_or_plain(const ListenOptions& options,
                           const std::vector<ListEntry>& entries) {
  std::unique_ptr<Terminal> terminal = open_terminal();
  if (terminal == nullptr) return play_live(options, entries, LiveControls{});
  LiveControls controls;
  controls.read_key = [&](int timeout_ms) {
    return player_key(terminal->read_key(timeout_ms));
  };
  controls.show = [&](const SongStatus& status) {
    terminal->show_status(status_line(status, terminal->width()));
  };
  controls.clear = [&] { terminal->clear_status(); };
  const int code = play_live(options, entries, controls);
  terminal->clear_status();
  terminal->restore();
  return code;
}

}  // namespace

int listen_play(const ListenOptions& options) {
  std::vector<ListEntry> entries;
  const int listed = make_list(options, entries);
  if (entries.empty()) return kMovaCantRead;
  if (options.output_path != nullptr) {
    if (entries.size() != 1) {
      report(options.output_path, "-o takes one song; mova render -d renders a list");
      return kMovaUsage;
    }
    PreparedSong prepared;
    if (const int code = prepare_song(entries[0].path, options, prepared, nullptr);
        code != kMovaOk) {
      return code;
    }
    const SongStatus status = status_of(prepared, 1, 1);
    std::fprintf(stderr, "%s  (%s)\n", plain_song_line(status).c_str(),
                 status.format.c_str());
    return worst(listed, render_prepared(prepared, options.output_path, nullptr));
  }
  return worst(listed, play_terminal_or_plain(options, entries));
}

int listen_render(const ListenOptions& options) {
  std::vector<ListEntry> entries;
  const int listed = make_list(options, entries);
  if (entries.empty()) return kMovaCantRead;
  std::error_code error;
  std::filesystem::create_directories(options.folder, error);
  if (!std::filesystem::is_directory(options.folder)) {
    report(options.folder, "can't create the folder: %s", error.message().c_str());
    return kMovaCantCreate;
  }
  std::vector<std::string> sources;
  for (const ListEntry& entry : entries) sources.push_back(entry.path);
  const std::vector<std::string> names =
      output_names(sources, options.folder, options.flac ? "flac" : "wav");
  std::vector<BatchJob> jobs;
  for (size_t i = 0; i < entries.size(); ++i) {
    jobs.push_back([&, i](const std::atomic<bool>& stop) {
      PreparedSong prepared;
      JobResult result;
      result.exit_code = prepare_song(sources[i], options, prepared, nullptr);
      if (result.exit_code != kMovaOk) return result;
      result.exit_code = render_prepared(prepared, names[i].c_str(), &stop);
      if (result.exit_code == kMovaOk) result.audio_us = prepared.length.end_us;
      return result;
    });
  }
  std::unique_ptr<Terminal> terminal = open_terminal();
  const std::atomic<bool> stop{false};
  const BatchResult result = run_batch(jobs, static_cast<unsigned>(options.jobs), stop,
                                       [&](const BatchProgress& progress) {
                                         if (terminal)
                                           terminal->show_status(progress_line(progress));
                                       });
  if (terminal) {
    terminal->clear_status();
    terminal->restore();
  }
  std::printf("%s\n", summary_line(result.progress).c_str());
  const int code = worst(listed, result.exit_code);
  if (std::fflush(stdout) != 0) return worst(code, kMovaCantWrite);
  return code;
}
