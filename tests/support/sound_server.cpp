#include "tests/support/sound_server.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "tests/support/temp_dir.h"

namespace {

using Clock = std::chrono::steady_clock;

bool socket_accepts(const std::string& path) {
  const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  if (fd < 0) return false;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
  const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return ok;
}

}  // namespace

Child::Child(const std::vector<std::string>& args, const Environment& environment,
             const std::string& out_path, const std::string& err_path) {
  pid_ = fork();
  if (pid_ != 0) return;
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  const int in = open("/dev/null", O_RDONLY);
  const int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
  if (in < 0 || out < 0 || err < 0) _exit(126);
  dup2(in, STDIN_FILENO);
  dup2(out, STDOUT_FILENO);
  dup2(err, STDERR_FILENO);
  for (const auto& [name, value] : environment) setenv(name.c_str(), value.c_str(), 1);
  std::vector<char*> argv;
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  execvp(argv[0], argv.data());
  _exit(127);
}

bool Child::running() {
  if (pid_ <= 0) return false;
  int status = 0;
  if (waitpid(pid_, &status, WNOHANG) == pid_) {
    pid_ = -1;
    return false;
  }
  return true;
}

void Child::stop() {
  if (!running()) return;
  kill(pid_, SIGTERM);
  const auto give_up = Clock::now() + std::chrono::seconds(2);
  while (running() && Clock::now() < give_up) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (running()) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }
}

SoundServer::SoundServer(const std::string& folder)
    : folder_(folder), socket_path_(folder + "/native") {
  const std::string config = folder + "/daemon.pa";
  write_file(config, "load-module module-native-protocol-unix auth-anonymous=1 socket=" +
                         socket_path_ +
                         "\n"
                         // Without norewinds the server rewrites the start of the stream.
                         "load-module module-null-sink sink_name=testsink rate=44100 "
                         "channels=2 format=s16le norewinds=1\n"
                         "set-default-sink testsink\n");
  environment_ = {{"HOME", folder},
                  {"XDG_RUNTIME_DIR", folder},
                  {"PULSE_SERVER", "unix:" + socket_path_}};
  daemon_ = std::make_unique<Child>(
      std::vector<std::string>{
          "pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--disallow-exit",
          "--use-pid-file=no", "--realtime=yes", "--high-priority=yes",
          "--log-target=stderr", "-F", config},
      environment_, "/dev/null", folder + "/daemon.log");
  const auto give_up = Clock::now() + std::chrono::seconds(10);
  while (!socket_accepts(socket_path_) && daemon_->running() && Clock::now() < give_up) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (!ready()) {
    trouble_ = "no PulseAudio server could be started here: " +
               read_file(folder + "/daemon.log");
  }
}

bool SoundServer::ready() const {
  return socket_accepts(socket_path_);
}

std::string SoundServer::why_not() const {
  return trouble_;
}

std::unique_ptr<Child> SoundServer::record(const std::string& path) {
  auto recorder = std::make_unique<Child>(
      std::vector<std::string>{"parec", "-d", "testsink.monitor", "--raw",
                               "--format=s16le", "--rate=44100", "--channels=2"},
      environment_, path, folder_ + "/parec.log");
  // The monitor delivers silence as soon as the recorder is connected.
  const auto connected_by = Clock::now() + std::chrono::seconds(10);
  while (read_file(path).size() < 4 * 4410 && recorder->running() &&
         Clock::now() < connected_by) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (read_file(path).size() < 4 * 4410) {
    trouble_ = "the recorder never started: " + read_file(folder_ + "/parec.log");
    return nullptr;
  }
  return recorder;
}

bool sound_server_required() {
  return std::getenv("CI") != nullptr;
}
