// import, play and the song half of info: a song file read in full (up to a
// bound), imported in memory, then written as a log or handed to the drivers.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "common/files.h"
#include "common/log_writer.h"
#include "common/write_source.h"
#include "formats/song.h"
#include "mova/inputs.h"
#include "mova/mova.h"
#include "mova/output.h"
#include "mova/report.h"
#include "mova/song_info.h"

namespace {

// Reads the whole file (or the standard input, "-") into bytes, or with
// head_bytes only its first head_bytes. Returns 0, or the exit code after
// reporting why not.
int read_song_file(const char* path, InputFiles& inputs, std::vector<uint8_t>& bytes,
                   size_t head_bytes = 0) {
  errno = 0;
  FILE* stream = inputs.open(path);
  if (stream == nullptr) {
    if (errno == EFBIG) {
      report(path, "more than %llu bytes: too large for a song file",
             static_cast<unsigned long long>(kMaxInputBytes));
      return kMovaBadSong;
    }
    report(path, "can't open: %s", std::strerror(errno));
    return kMovaCantRead;
  }
  if (stream_is_directory(stream)) {
    std::fclose(stream);
    report(path, "is a folder, not a song file");
    return kMovaCantRead;
  }
  uint8_t chunk[65536];
  size_t count = 0;
  while ((count = std::fread(chunk, 1, sizeof chunk, stream)) != 0) {
    if (head_bytes != 0) {
      bytes.insert(bytes.end(), chunk, chunk + std::min(count, head_bytes));
      break;
    }
    if (bytes.size() + count > kMaxInputBytes) {
      std::fclose(stream);
      report(path, "more than %llu bytes: too large for a song file",
             static_cast<unsigned long long>(kMaxInputBytes));
      return kMovaBadSong;
    }
    bytes.insert(bytes.end(), chunk, chunk + count);
  }
  const bool failed = std::ferror(stream) != 0;
  const int error = errno;
  std::fclose(stream);
  if (failed) {
    report(path, "can't read: %s", std::strerror(error));
    return kMovaCantRead;
  }
  return kMovaOk;
}

}  // namespace

int import_song_file(const SongCommand& command, ImportResult& result) {
  std::vector<uint8_t> bytes;
  InputFiles& inputs = command.inputs != nullptr ? *command.inputs : stdio_input_files();
  if (const int code = read_song_file(command.song_path, inputs, bytes);
      code != kMovaOk) {
    return code;
  }
  ImportOptions options;
  options.clock_hz = command.clock_hz;
  options.rate_hz = command.rate_hz;
  options.source_chip = command.source_chip;
  options.second_chip = command.second_chip;
  result = import_song(bytes, options);
  switch (result.status) {
    case ImportStatus::Ok: return kMovaOk;
    case ImportStatus::UnknownFormat:
      report(command.song_path, "%s", result.error.c_str());
      return kMovaCantRead;
    case ImportStatus::Malformed: break;
  }
  report(command.song_path, "%s", result.error.c_str());
  return kMovaBadSong;
}

int read_file_head(const char* path, std::vector<uint8_t>& bytes, size_t max_bytes) {
  return read_song_file(path, stdio_input_files(), bytes, max_bytes);
}

bool writes_fit(const char* song_path, const std::vector<TimedWrite>& writes,
                LogForm form) {
  const size_t index = first_unwritable_write(writes, form);
  if (index == writes.size()) return true;
  const TimedWrite& before = writes[index - 1];
  const TimedWrite& write = writes[index];
  if (write.time < before.time) {
    report(song_path, "the write at %llu us comes before the one at %llu us",
           static_cast<unsigned long long>(write.time),
           static_cast<unsigned long long>(before.time));
  } else {
    report(song_path, "%llu us pass between the writes at %llu us and %llu us: %s",
           static_cast<unsigned long long>(write.time - before.time),
           static_cast<unsigned long long>(before.time),
           static_cast<unsigned long long>(write.time),
           form == LogForm::Binary
               ? "too long for a binary record (at most 268435455)"
               : "too long for a text log, which reads at most 4294967295 between lines");
  }
  return false;
}

int import_command(const SongCommand& command) {
  ImportResult result;
  if (const int code = import_song_file(command, result); code != kMovaOk) return code;
  const LogForm form = command.binary ? LogForm::Binary : LogForm::Text;
  if (!writes_fit(command.song_path, result.writes, form)) return kMovaDoesNotFit;

  const char* inputs[] = {command.song_path};
  const OutputStatus written =
      write_output(command.output_path, inputs,
                   [&](FILE* stream) { return write_log(result.writes, form, stream); });
  if (written.result != OutputResult::Ok) {
    return report_output(command.output_path, written);
  }
  print_import_summary(command.song_path, result.info);
  return kMovaOk;
}

int song_info(const char* path, InputFiles& inputs) {
  SongCommand command;
  command.song_path = path;
  command.inputs = &inputs;
  ImportResult result;
  if (const int code = import_song_file(command, result); code != kMovaOk) return code;
  print_song_info(path, result.info);
  return kMovaOk;
}
