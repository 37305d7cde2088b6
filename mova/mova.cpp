// mova's command line: a command word, then its arguments, in the manner of
// git. Options may come before or after the file names; "--" ends them.
#include "mova/mova.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "common/file_limits.h"
#include "common/interrupts.h"
#include "common/messages.h"
#include "common/version.h"

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
    {"play", "mova play SONG [-o OUT.wav] [--clock HZ] [--rate HZ]",
     "Imports the song in memory and plays it on the sound device, or renders it\n"
     "into a WAV file with -o, exactly as zarnik plays or renders the imported log.\n"
     "Of a TurboSound file it plays the first chip alone, and says so."},
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
      "input; 4 to 8 play: as zarnik; 9 a malformed song; 10 writing the output\n"
      "failed; 11 the song does not fit the log form; 64 command-line error.\n");
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

// The value of --clock: a whole number of hertz.
bool parse_clock(const char* text, uint32_t* clock_hz) {
  char* end = nullptr;
  const unsigned long long value = std::strtoull(text, &end, 10);
  if (end == text || *end != '\0' || text[0] == '-' || value < 100000 ||
      value > 100000000) {
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
};

// Takes the option at argv[i] (and its value); returns 0, or the exit code.
int take_option(const CommandHelp& command, int argc, const char* const* argv, int& i,
                Arguments& arguments) {
  const std::string_view name = argv[i];
  const bool song = command.name == std::string_view("import") ||
                    command.name == std::string_view("play");
  const bool takes_output = song || command.name == std::string_view("dump");
  if (name == "--help" || name == "-h") {
    arguments.help = true;
    return 0;
  }
  if (name == "--binary" && command.name == std::string_view("import")) {
    arguments.binary = true;
    return 0;
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

int run_command(const CommandHelp& command, const Arguments& arguments) {
  const std::string_view name = command.name;
  const bool one_file = name == "import" || name == "play" || name == "dump";
  if (arguments.files.empty()) return usage_error(command, "no file named", "");
  if (one_file && arguments.files.size() > 1) {
    return usage_error(command, "only one file allowed: ", arguments.files[1]);
  }
  if (name == "info") return info_command(arguments.files);
  if (name == "check") return check_command(arguments.files);
  if (name == "dump") return dump_command(arguments.files[0], arguments.output_path);
  SongCommand song;
  song.song_path = arguments.files[0];
  song.output_path = arguments.output_path;
  song.binary = arguments.binary;
  song.clock_hz = arguments.clock_hz;
  song.rate_hz = arguments.rate_hz;
  song.second_chip = arguments.second_chip;
  if (name == "import") return import_command(song);
  // A WAV file is completed by seeking back to its header: it needs a file.
  if (song.output_path != nullptr && std::strcmp(song.output_path, "-") == 0) {
    return usage_error(command, "a WAV file can't go to the standard output", "");
  }
  return play_command(song);
}

}  // namespace

int mova_main(int argc, const char* const* argv) {
  set_program_name("mova");
  make_oversized_writes_fail();
  install_interrupt_handling();
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
    log_error("unknown command '%s' (mova --help lists them)\n", argv[1]);
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
  return run_command(*command, arguments);
}
