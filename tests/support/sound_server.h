// A private PulseAudio daemon with a null sink, standing in for the sound
// card of live-play tests, and the child processes around it (POSIX).
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

using Environment = std::vector<std::pair<std::string, std::string>>;

// A child process that is killed by its process id when this object goes,
// and with the test process if that dies first. Its standard input is the
// null device; its output goes to out_path, its errors to err_path.
class Child {
 public:
  Child(const std::vector<std::string>& args, const Environment& environment,
        const std::string& out_path, const std::string& err_path);
  ~Child() { stop(); }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  bool running();
  // Asks politely, then insists after two seconds.
  void stop();

 private:
  pid_t pid_ = -1;
};

// The daemon, serving a socket in `folder`, with the sink "testsink"
// (44100 Hz, 2 channels, s16le) as its default. Programs reach it through
// environment(), which ALSA's PulseAudio plugin reads.
class SoundServer {
 public:
  explicit SoundServer(const std::string& folder);
  SoundServer(const SoundServer&) = delete;
  SoundServer& operator=(const SoundServer&) = delete;

  // Whether the daemon answers; why_not() tells why it does not.
  bool ready() const;
  std::string why_not() const;
  const Environment& environment() const { return environment_; }

  // Records the sink's monitor into path (raw s16le stereo) and returns once
  // the first 100 ms have arrived, or null (with why_not()) when they don't.
  std::unique_ptr<Child> record(const std::string& path);

  void stop() { daemon_->stop(); }

 private:
  std::string folder_;
  std::string socket_path_;
  Environment environment_;
  std::unique_ptr<Child> daemon_;
  std::string trouble_;
};

// Whether a server here is expected: in CI it is installed on purpose, and
// a skip there would hide a broken set-up.
bool sound_server_required();
