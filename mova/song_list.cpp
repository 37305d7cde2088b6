#include "mova/song_list.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <set>
#include <span>

#include "formats/song.h"

namespace fs = std::filesystem;

namespace {

// A playlist is a list of names: one far larger than any collection's is no
// playlist.
constexpr std::streamsize kMaxPlaylistBytes = std::streamsize{16} << 20;

enum class FileKind : uint8_t { Song, TextLog, BinaryLog, Playlist, Other, Unreadable };

bool is_log_magic(const char* head, size_t length, const char* magic) {
  // The magic's eight characters, then LF or CR LF, as the log reader takes it.
  if (length < 9 || std::memcmp(head, magic, 8) != 0) return false;
  return head[8] == '\n' || (length >= 10 && head[8] == '\r' && head[9] == '\n');
}

bool has_playlist_name(const fs::path& path) {
  std::string extension = path.extension().string();
  for (char& c : extension)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return extension == ".m3u" || extension == ".m3u8";
}

FileKind classify_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return FileKind::Unreadable;
  char head[kSongMagicBytes] = {};
  in.read(head, sizeof head);
  if (in.bad()) return FileKind::Unreadable;
  const auto length = static_cast<size_t>(in.gcount());
  const auto* bytes = reinterpret_cast<const uint8_t*>(head);
  if (looks_like_song(std::span<const uint8_t>(bytes, length))) return FileKind::Song;
  if (is_log_magic(head, length, "MOVA-TXT")) return FileKind::TextLog;
  if (is_log_magic(head, length, "MOVA-BIN")) return FileKind::BinaryLog;
  return has_playlist_name(path) ? FileKind::Playlist : FileKind::Other;
}

std::string trimmed(const std::string& line) {
  const char* blanks = " \t\r\n";
  const size_t first = line.find_first_not_of(blanks);
  if (first == std::string::npos) return {};
  return line.substr(first, line.find_last_not_of(blanks) - first + 1);
}

// The path an entry names, relative to the playlist's folder. Playlists
// written on Windows separate with '\': where the name does not exist as
// written, it is tried with '/' as well.
fs::path entry_path(const fs::path& folder, const std::string& entry) {
  const std::u8string utf8(entry.begin(), entry.end());
  fs::path path = folder / fs::path(utf8);
  std::error_code error;
  if (entry.find('\\') == std::string::npos || fs::exists(path, error)) return path;
  std::u8string forward = utf8;
  std::replace(forward.begin(), forward.end(), u8'\\', u8'/');
  fs::path other = folder / fs::path(forward);
  return fs::exists(other, error) ? other : path;
}

class Expander {
 public:
  explicit Expander(SongList& list) : list_(list) {}

  void argument(const fs::path& path) {
    std::error_code error;
    const fs::file_status status = fs::status(path, error);
    if (!fs::exists(status))
      problem(path, "no such file or folder");
    else if (fs::is_directory(status))
      folder(path);
    else
      file(path, false);
  }

 private:
  void problem(const fs::path& path, const std::string& what) {
    list_.problems.push_back(path.string() + ": " + what);
  }

  void add(const fs::path& path, EntryKind kind) {
    list_.entries.push_back({path.string(), kind});
  }

  void file(const fs::path& path, bool in_folder) {
    switch (classify_file(path)) {
      case FileKind::Song: add(path, EntryKind::Song); break;
      case FileKind::TextLog: add(path, EntryKind::TextLog); break;
      case FileKind::BinaryLog: add(path, EntryKind::BinaryLog); break;
      case FileKind::Playlist:
        if (!in_folder) playlist(path);
        break;
      case FileKind::Unreadable: problem(path, "can't read the file"); break;
      case FileKind::Other: problem(path, "not a song, register log or playlist"); break;
    }
  }

  // True the first time a folder or playlist is seen by its canonical path
  // (the same file whatever links led to it).
  static bool first_visit(std::set<fs::path>& seen, const fs::path& path) {
    std::error_code error;
    const fs::path canonical = fs::canonical(path, error);
    return seen.insert(error ? fs::absolute(path, error) : canonical).second;
  }

  void folder(const fs::path& path) {
    if (!first_visit(folders_, path)) return;
    std::error_code error;
    std::vector<fs::path> names;
    for (fs::directory_iterator it(path, error), end; !error && it != end;
         it.increment(error))
      names.push_back(it->path());
    if (error) problem(path, "can't read the folder: " + error.message());
    std::sort(names.begin(), names.end(), [](const fs::path& a, const fs::path& b) {
      return a.native() < b.native();
    });
    for (const fs::path& name : names) {
      const fs::file_status status = fs::status(name, error);
      if (fs::is_directory(status))
        folder(name);
      else if (fs::is_regular_file(status))
        file(name, true);
      else if (!fs::exists(status))
        problem(name, "link to nothing");
      else
        problem(name, "not a regular file");
    }
  }

  void playlist(const fs::path& path) {
    std::error_code error;
    fs::path canonical = fs::canonical(path, error);
    if (error) canonical = fs::absolute(path, error);
    if (std::find(open_playlists_.begin(), open_playlists_.end(), canonical) !=
        open_playlists_.end()) {
      problem(path, "playlist includes itself; not entered again");
      return;
    }
    std::ifstream in(path, std::ios::binary);
    std::string text;
    if (in) {
      in.seekg(0, std::ios::end);
      if (in.tellg() > kMaxPlaylistBytes) return problem(path, "playlist too large");
      in.seekg(0);
      text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    if (!in && !in.eof()) return problem(path, "can't read the playlist");
    if (text.starts_with("\xEF\xBB\xBF")) text.erase(0, 3);
    open_playlists_.push_back(canonical);
    playlist_lines(path, text);
    open_playlists_.pop_back();
  }

  void playlist_lines(const fs::path& path, const std::string& text) {
    const fs::path folder = path.parent_path();
    size_t start = 0;
    for (int line_number = 1; start < text.size(); ++line_number) {
      size_t end = text.find('\n', start);
      if (end == std::string::npos) end = text.size();
      const std::string entry = trimmed(text.substr(start, end - start));
      start = end + 1;
      if (entry.empty() || entry[0] == '#') continue;
      const fs::path named = entry_path(folder, entry);
      std::error_code error;
      if (!fs::exists(named, error))
        problem(named, "no such file or folder (line " + std::to_string(line_number) +
                           " of " + path.string() + ")");
      else
        argument(named);
    }
  }

  SongList& list_;
  std::set<fs::path> folders_;
  std::vector<fs::path> open_playlists_;
};

}  // namespace

SongList expand_song_arguments(const std::vector<std::string>& arguments) {
  SongList list;
  Expander expander(list);
  for (const std::string& argument : arguments) expander.argument(fs::path(argument));
  return list;
}

void print_problems(const std::vector<std::string>& problems) {
  for (const std::string& problem : problems)
    std::fprintf(stderr, "mova: %s\n", problem.c_str());
}

void shuffle_entries(std::vector<ListEntry>& entries, uint64_t seed) {
  std::mt19937_64 random(seed);
  for (size_t i = entries.size(); i > 1; --i) {
    const uint64_t bound = i;  // j in 0..i-1 for the entry at i-1
    const uint64_t threshold = (0 - bound) % bound;
    uint64_t draw = random();
    while (draw < threshold) draw = random();
    std::swap(entries[i - 1], entries[draw % bound]);
  }
}
