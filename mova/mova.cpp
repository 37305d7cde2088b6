// mova's command line: a command word, then its arguments, in the manner of
// git. Options may come before or after the file names; "--" ends them.
#include "mova/mova.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "common/messages.h"
#include "common/program_start.h"
#include "common/version.h"
#include "mova/inputs.h"
#include "mova/listen.h"
#include "mova/report.h"

namespace {

struct CommandHelp {
  const char* name;
  const char* usage;
  const char* description;
};

constexpr CommandHelp kCommands[] = {
    {"import",
     "mova import SONG [-o OUT] [--binary] [--clock HZ] [--rate HZ] [--second-chip]",
     "Imports a YM (YM2!, YM3!, YM3b, YM5!, YM6!; plain or LHA-packed), VTX, PSG, VGM\n"
     "or VGZ song, or a Pro Tracker 3 module (.pt3, versions 3.0 to 3.7, TurboSound\n"
     "too), into a register log: the text form, or the binary form with --binary.\n"
     "The format is recognised from the content. --clock and --rate override the\n"
     "chip clock and frame rate the file states. A TurboSound file holds two\n"
     "modules for two chips: the log is the first chip's, or the second's with\n"
     "--second-chip. Prints a one-line summary to the standard error."},
    {"play",
     "mova play ARG... [-o OUT] [--loops N] [--fade S] [--shuffle] [--seed N]\n"
     "                 [--repeat] [--exact] [--chip ay|ym] [--stereo abc|acb|mono]\n"
     "                 [--sample-rate HZ] [--clock HZ] [--rate HZ]",
     "Plays songs, register logs, folders (searched recursively, sorted by path)\n"
     "and M3U playlists on the sound device, one after another. On a terminal a\n"
     "status line shows title, author, time and loops; keys: space pause, Left\n"
     "and Right seek 5 s, Up and Down 60 s, n next, p previous, q quit. A song\n"
     "with a loop point plays its loop --loops times (2) and fades out over\n"
     "--fade seconds (8); a log or a song without a loop plays once. With -o\n"
     "one song goes into a file: FLAC for a name ending in .flac, else WAV (-o -:\n"
     "a WAV stream on the standard output). Songs play on the studio engine: the\n"
     "real chip at the song's own clock, band-limited, --sample-rate frames a\n"
     "second (44100), the chip the song was made for (--chip: ay is the\n"
     "AY-3-8910, ym the YM2149) in the song's stereo layout or --stereo (abc: A\n"
     "left, B centre, C right). --exact plays the exact model instead, the one\n"
     "zarnik plays: with --loops 1 --fade 0 the bytes of mova import and\n"
     "zarnik -o."},
    {"render",
     "mova render ARG... -d DIR [--format wav|flac] [-j N] [--loops N] [--fade S]\n"
     "                   [--shuffle] [--seed N] [--exact] [--chip ay|ym]\n"
     "                   [--stereo abc|acb|mono] [--sample-rate HZ] [--clock HZ]\n"
     "                   [--rate HZ]",
     "Renders every song of the list into DIR, each named after its file with the\n"
     "extension replaced (two songs of one name get distinct names), on N worker\n"
     "threads (one per core), on the engine and with the options of play. A\n"
     "summary line at the end; the exit code is the highest of the songs'."},
    {"dump", "mova dump LOG.bin [-o OUT]",
     "Turns a binary register log into the text form; tubrel turns the result back\n"
     "into the same bytes. Says so when it cannot (a log that ends early, records\n"
     "tubrel writes otherwise) and exits with 1."},
    {"info", "mova info FILE...",
     "Tells what each register log or song file holds; for a log also where it ends\n"
     "before the end of its file and why."},
    {"check", "mova check LOG...",
     "Checks that every log reads to the end of its file and holds nothing\n"
     "suspicious. Prints one line per problem (FILE:LINE: or FILE:@OFFSET:) and exits\n"
     "with 1; prints nothing and exits with 0 when all is well."},
};

void print_overview() {
  std::printf("usage: mova COMMAND [ARGUMENTS]\n\n");
  for (const CommandHelp& command : kCommands) std::printf("  %s\n", command.usage);
  std::printf(
      "  mova --help | --version\n  mova COMMAND --help\n\n"
      "Output goes to the file named by -o, or to the standard output when -o is\n"
      "absent or -. Exit codes: 0 done; 1 problems found (check, dump); 2 an input\n"
      "can't be read or is no log or song; 3 the output can't be created or is an\n"
      "input, or the sound device can't start; 9 a malformed song; 10 writing the\n"
      "output failed; 11 the song does not fit the log form; 64 command-line error;\n"
      "130 stopped by Ctrl-C. A list gives the highest code of its songs.\n");
}

const CommandHelp* find_command(std::string_view name) {
  for (const CommandHelp& command : kCommands) {
    if (name == command.name) return &command;
  }
  return nullptr;
}

int usage_error(const CommandHelp& command, const char* what, const char* argument) {
  log_error("%s: %s%s\n", command.name, what, argument);
  log_error("usage: %s\n", command.usage);
  return kMovaUsage;
}

// The value of --clock: a whole number of hertz, in any form --rate takes
// (1e5, 1000000.0).
bool parse_clock(const char* text, uint32_t* clock_hz) {
  char* end = nullptr;
  const double value = std::strtod(text, &end);
  if (end == text || *end != '\0' || !std::isfinite(value) || value < 100000 ||
      value > 100000000 || value != std::floor(value)) {
    return false;
  }
  *clock_hz = static_cast<uint32_t>(value);
  return true;
}

// The value of --rate: frames per second.
bool parse_rate(const char* text, double* rate_hz) {
  char* end = nullptr;
  const double value = std::strtod(text, &end);
  if (end == text || *end != '\0' || !std::isfinite(value) || value < 1 ||
      value > 10000) {
    return false;
  }
  *rate_hz = value;
  return true;
}

// What one command's arguments may hold.
struct Arguments {
  std::vector<const char*> files;
  const char* output_path = nullptr;
  bool binary = false;
  bool help = false;
  bool second_chip = false;
  uint32_t clock_hz = 0;
  double rate_hz = 0;
  ListenOptions listen;
};

// Whether the command is one of the listening ones.
bool is_listening(const CommandHelp& command) {
  return command.name == std::string_view("play") ||
         command.name == std::string_view("render");
}

// A whole number from min to max.
bool parse_count(const char* text, long min, long max, long* result) {
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || value < min || value > max) return false;
  *result = value;
  return true;
}

// Takes a listening option at argv[i] (and its value): 0 when taken, -1 when
// it is none of them, else the exit code.
int take_listening_option(const CommandHelp& command, int argc, const char* const* argv,
                          int& i, ListenOptions& listen) {
  const std::string_view name = argv[i];
  const bool render = command.name == std::string_view("render");
  if (name == "--shuffle") return listen.shuffle = true, 0;
  if (name == "--repeat" && !render) return listen.repeat = true, 0;
  if (name == "--exact") return listen.exact = true, 0;
  const bool valued = name == "--loops" || name == "--fade" || name == "--seed" ||
                      name == "--chip" || name == "--stereo" || name == "--sample-rate" ||
                      (render && (name == "-d" || name == "--format" || name == "-j"));
  if (!valued) return -1;
  if (i + 1 >= argc) return usage_error(command, "a value must follow ", argv[i]);
  const char* value = argv[++i];
  long number = 0;
  char* end = nullptr;
  if (name == "--loops") {
    if (!parse_count(value, 1, 1000, &number))
      return usage_error(command, "--loops takes 1 to 1000, not ", value);
    listen.length.loops = static_cast<int>(number);
  } else if (name == "--fade") {
    const double seconds = std::strtod(value, &end);
    if (end == value || *end != '\0' || !std::isfinite(seconds) || seconds < 0 ||
        seconds > 3600)
      return usage_error(command, "--fade takes 0 to 3600 seconds, not ", value);
    listen.length.fade_s = seconds;
  } else if (name == "--seed") {
    const unsigned long long seed = std::strtoull(value, &end, 10);
    if (end == value || *end != '\0' || value[0] == '-')
      return usage_error(command, "--seed takes a whole number, not ", value);
    listen.seed = seed;
    listen.seeded = true;
  } else if (name == "-d") {
    listen.folder = value;
  } else if (name == "--chip") {
    if (std::strcmp(value, "ay") != 0 && std::strcmp(value, "ym") != 0)
      return usage_error(command, "--chip takes ay or ym, not ", value);
    listen.chip = value;
  } else if (name == "--stereo") {
    if (std::strcmp(value, "abc") != 0 && std::strcmp(value, "acb") != 0 &&
        std::strcmp(value, "mono") != 0)
      return usage_error(command, "--stereo takes abc, acb or mono, not ", value);
    listen.stereo = value;
  } else if (name == "--sample-rate") {
    if (!parse_count(value, 8000, 192000, &number))
      return usage_error(command, "--sample-rate takes 8000 to 192000 Hz, not ", value);
    listen.sample_rate = static_cast<uint32_t>(number);
  } else if (name == "--format") {
    if (std::strcmp(value, "wav") != 0 && std::strcmp(value, "flac") != 0)
      return usage_error(command, "--format takes wav or flac, not ", value);
    listen.flac = std::strcmp(value, "flac") == 0;
  } else {
    if (!parse_count(value, 1, 256, &number))
      return usage_error(command, "-j takes 1 to 256, not ", value);
    listen.jobs = static_cast<int>(number);
  }
  return 0;
}

// Takes the option at argv[i] (and its value); returns 0, or the exit code.
int take_option(const CommandHelp& command, int argc, const char* const* argv, int& i,
                Arguments& arguments) {
  const std::string_view name = argv[i];
  const bool song = command.name == std::string_view("import") || is_listening(command);
  const bool takes_output = command.name == std::string_view("import") ||
                            command.name == std::string_view("play") ||
                            command.name == std::string_view("dump");
  if (name == "--help" || name == "-h") {
    arguments.help = true;
    return 0;
  }
  if (name == "--binary" && command.name == std::string_view("import")) {
    arguments.binary = true;
    return 0;
  }
  if (is_listening(command)) {
    const int code = take_listening_option(command, argc, argv, i, arguments.listen);
    if (code >= 0) return code;
  }
  if (name == "--second-chip" && command.name == std::string_view("import")) {
    arguments.second_chip = true;
    return 0;
  }
  const bool valued =
      (name == "-o" && takes_output) || ((name == "--clock" || name == "--rate") && song);
  if (!valued) return usage_error(command, "unknown option ", argv[i]);
  if (i + 1 >= argc) return usage_error(command, "a value must follow ", argv[i]);
  const char* value = argv[++i];
  if (name == "-o") {
    if (arguments.output_path != nullptr) {
      return usage_error(command, "only one output allowed: ", value);
    }
    arguments.output_path = value;
  } else if (name == "--clock" ? !parse_clock(value, &arguments.clock_hz)
                               : !parse_rate(value, &arguments.rate_hz)) {
    return usage_error(command,
                       name == "--clock"
                           ? "the clock must be 100000 to 100000000 Hz, not "
                           : "the rate must be 1 to 10000 Hz, not ",
                       value);
  }
  return 0;
}

int parse_arguments(const CommandHelp& command, int argc, const char* const* argv,
                    Arguments& arguments) {
  bool options_end = false;
  for (int i = 2; i < argc; ++i) {
    if (!options_end && std::strcmp(argv[i], "--") == 0) {
      options_end = true;
    } else if (!options_end && argv[i][0] == '-' && argv[i][1] != '\0') {
      if (const int code = take_option(command, argc, argv, i, arguments); code != 0) {
        return code;
      }
    } else {
      arguments.files.push_back(argv[i]);
    }
  }
  return 0;
}

int run_command(const CommandHelp& command, const Arguments& arguments,
                InputFiles& inputs) {
  const std::string_view name = command.name;
  const bool one_file = name == "import" || name == "dump";
  if (arguments.files.empty()) return usage_error(command, "no file named", "");
  if (one_file && arguments.files.size() > 1) {
    return usage_error(command, "only one file allowed: ", arguments.files[1]);
  }
  if (name == "info") return info_command(arguments.files, inputs);
  if (name == "check") return check_command(arguments.files, inputs);
  if (name == "dump")
    return dump_command(arguments.files[0], arguments.output_path, inputs);
  if (is_listening(command)) {
    ListenOptions listen = arguments.listen;
    listen.inputs.assign(arguments.files.begin(), arguments.files.end());
    listen.output_path = arguments.output_path;
    listen.clock_hz = arguments.clock_hz;
    listen.rate_hz = arguments.rate_hz;
    if (name == "play") return listen_play(listen);
    if (listen.folder == nullptr)
      return usage_error(command, "-d DIR names the folder", "");
    return listen_render(listen);
  }
  SongCommand song;
  song.inputs = &inputs;
  song.song_path = arguments.files[0];
  song.output_path = arguments.output_path;
  song.binary = arguments.binary;
  song.clock_hz = arguments.clock_hz;
  song.rate_hz = arguments.rate_hz;
  song.second_chip = arguments.second_chip;
  return import_command(song);
}

int run_main(int argc, const char* const* argv, InputFiles& inputs) {
  if (argc < 2) {
    print_overview();
    return kMovaUsage;
  }
  const std::string_view first = argv[1];
  if (first == "--help" || first == "-h" || first == "help") {
    print_overview();
    return kMovaOk;
  }
  if (first == "--version") {
    std::printf("mova %s\n", kVersion);
    return kMovaOk;
  }
  const CommandHelp* command = find_command(first);
  if (command == nullptr) {
    log_error("unknown command '%s' (mova --help lists them)\n",
              one_line(argv[1]).c_str());
    return kMovaUsage;
  }
  Arguments arguments;
  if (const int code = parse_arguments(*command, argc, argv, arguments); code != 0) {
    return code;
  }
  if (arguments.help) {
    std::printf("usage: %s\n\n%s\n", command->usage, command->description);
    return kMovaOk;
  }
  return run_command(*command, arguments, inputs);
}

}  // namespace

int mova_main(int argc, const char* const* argv, InputFiles& files) {
  // A closed standard output fails every write, as it would without the
  // stand-in that keeps an output file from taking its number.
  start_program({"mova", nullptr, nullptr, ClosedDescriptors::Failing});
  MovaInputs inputs(files);
  // Whatever went to the standard output must have reached it.
  return finish_standard_output(run_main(argc, argv, inputs));
}
