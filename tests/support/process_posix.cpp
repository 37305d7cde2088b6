#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fstream>

#include "tests/support/process.h"

namespace {

// The program's peak resident memory so far (VmHWM, which starts afresh at
// exec), or -1 while the child is not yet that program or /proc is missing.
long peak_memory_kb(pid_t pid, const std::string& program) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string base = program.substr(program.find_last_of('/') + 1).substr(0, 15);
  std::string line;
  bool is_program = false;
  while (std::getline(status, line)) {
    if (line.rfind("Name:", 0) == 0) {
      is_program = line.substr(line.find_first_not_of(" \t", 5)) == base;
    } else if (line.rfind("VmHWM:", 0) == 0 && is_program) {
      return std::strtol(line.c_str() + 6, nullptr, 10);
    }
  }
  return -1;
}

}  // namespace

ProcessResult run_program(const std::string& program,
                          const std::vector<std::string>& args,
                          const ProcessOptions& options) {
  ProcessResult result;
  int out_pipe[2];
  int err_pipe[2];
  if (pipe(out_pipe) != 0 || pipe(err_pipe) != 0) return result;

  const pid_t pid = fork();
  if (pid == 0) {
    const int null_fd = open("/dev/null", O_RDONLY);
    dup2(null_fd, STDIN_FILENO);
    dup2(out_pipe[1], STDOUT_FILENO);
    dup2(err_pipe[1], STDERR_FILENO);
    close(out_pipe[0]);
    close(err_pipe[0]);
    if (!options.working_directory.empty() &&
        chdir(options.working_directory.c_str()) != 0) {
      _exit(126);
    }
    // As a shell starts a program: a SIGPIPE that the test ignores (to survive
    // readers that stop early) must not be inherited.
    signal(SIGPIPE, SIG_DFL);
    if (options.file_size_limit >= 0) {
      signal(SIGXFSZ, options.ignore_file_size_signal ? SIG_IGN : SIG_DFL);
      const rlimit limit{static_cast<rlim_t>(options.file_size_limit),
                         static_cast<rlim_t>(options.file_size_limit)};
      setrlimit(RLIMIT_FSIZE, &limit);
    }
    if (options.drop_root && getuid() == 0 &&
        (setgroups(0, nullptr) != 0 || setgid(kNobodyId) != 0 ||
         setuid(kNobodyId) != 0)) {
      _exit(125);
    }
    for (const auto& [name, value] : options.environment) {
      if (value) {
        setenv(name.c_str(), value->c_str(), 1);
      } else {
        unsetenv(name.c_str());
      }
    }
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  close(out_pipe[1]);
  close(err_pipe[1]);
  if (options.started) options.started(pid);

  pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
  std::string* sinks[2] = {&result.out, &result.err};
  int open_count = 2;
  while (open_count > 0) {
    const int ready = poll(fds, 2, options.sample_memory ? 20 : -1);
    if (options.sample_memory) {
      const long peak = peak_memory_kb(pid, program);
      if (peak >= 0) result.memory_samples_kb.push_back(peak);
    }
    if (ready < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buffer[4096];
      const ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
      if (got > 0) {
        sinks[i]->append(buffer, static_cast<size_t>(got));
      } else {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open_count;
      }
    }
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.term_signal = WTERMSIG(status);
  return result;
}
