// Runs a built executable on Windows: CreateProcess with its standard output
// and error on pipes and its standard input on the NUL device.
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <thread>

#include "tests/support/process.h"

namespace {

// One argument quoted the way the C runtime's command-line parser splits it
// back: inside quotes, backslashes are literal unless they precede a quote,
// where each pair stands for one backslash.
void append_quoted(std::string& command_line, const std::string& arg) {
  if (!command_line.empty()) command_line += ' ';
  if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos) {
    command_line += arg;
    return;
  }
  command_line += '"';
  size_t backslashes = 0;
  for (const char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    if (c == '"') backslashes = backslashes * 2 + 1;
    command_line.append(backslashes, '\\');
    backslashes = 0;
    command_line += c;
  }
  command_line.append(backslashes * 2, '\\');
  command_line += '"';
}

// The test's own environment with the changes applied, as the block of
// NUL-terminated "NAME=value" strings that CreateProcess takes. Windows names
// are case-insensitive, so they are compared in upper case.
std::string environment_block(const ProcessOptions& options) {
  std::map<std::string, std::string> variables;
  const auto upper = [](std::string name) {
    for (char& c : name) {
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return name;
  };
  char* strings = GetEnvironmentStringsA();
  for (const char* entry = strings; *entry != '\0'; entry += std::strlen(entry) + 1) {
    // Entries like "=C:=C:\dir" keep the current folder of each drive: their
    // name starts after the first character.
    const char* equals = std::strchr(entry + 1, '=');
    if (equals == nullptr) continue;
    const std::string name(entry, equals);
    variables[upper(name)] = entry;
  }
  FreeEnvironmentStringsA(strings);
  for (const auto& [name, value] : options.environment) {
    if (value) {
      variables[upper(name)] = name + "=" + *value;
    } else {
      variables.erase(upper(name));
    }
  }
  std::string block;
  for (const auto& [key, entry] : variables) {
    block += entry;
    block += '\0';
  }
  block += '\0';
  return block;
}

// Reads a pipe to its end.
void drain(HANDLE pipe, std::string* sink) {
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(pipe, buffer, sizeof buffer, &got, nullptr) && got > 0) {
    sink->append(buffer, got);
  }
}

// A Windows program writes "\n" to its text-mode standard streams as CR LF.
// The expectations are written once, with LF; fold the pairs back.
std::string fold_line_ends(const std::string& text) {
  std::string folded;
  folded.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    folded += text[i];
  }
  return folded;
}

}  // namespace

ProcessResult run_program(const std::string& program,
                          const std::vector<std::string>& args,
                          const ProcessOptions& options) {
  ProcessResult result;
  // Windows has no per-process limit on file sizes; tests that need one are
  // compiled for POSIX systems only.
  if (options.file_size_limit >= 0) return result;

  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE out_read = nullptr;
  HANDLE out_write = nullptr;
  HANDLE err_read = nullptr;
  HANDLE err_write = nullptr;
  if (!CreatePipe(&out_read, &out_write, &inherit, 0)) return result;
  if (!CreatePipe(&err_read, &err_write, &inherit, 0)) {
    CloseHandle(out_read);
    CloseHandle(out_write);
    return result;
  }
  // Only the child's ends are inherited.
  SetHandleInformation(out_read, HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(err_read, HANDLE_FLAG_INHERIT, 0);
  const HANDLE null_input =
      CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                  OPEN_EXISTING, 0, nullptr);

  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = null_input;
  startup.hStdOutput = out_write;
  startup.hStdError = err_write;

  std::string command_line;
  append_quoted(command_line, program);
  for (const std::string& arg : args) append_quoted(command_line, arg);
  std::string environment = environment_block(options);

  PROCESS_INFORMATION process{};
  const BOOL started = CreateProcessA(
      program.c_str(), command_line.data(), nullptr, nullptr, TRUE, 0, environment.data(),
      options.working_directory.empty() ? nullptr : options.working_directory.c_str(),
      &startup, &process);
  // The child holds its own copies now; ours must go, or the pipes never end.
  CloseHandle(out_write);
  CloseHandle(err_write);
  if (null_input != INVALID_HANDLE_VALUE) CloseHandle(null_input);
  if (!started) {
    CloseHandle(out_read);
    CloseHandle(err_read);
    return result;
  }

  // Both pipes are read at once, so that a child filling one never blocks.
  std::thread err_reader(drain, err_read, &result.err);
  drain(out_read, &result.out);
  err_reader.join();
  CloseHandle(out_read);
  CloseHandle(err_read);

  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0;
  if (GetExitCodeProcess(process.hProcess, &code))
    result.exit_code = static_cast<int>(code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  result.out = fold_line_ends(result.out);
  result.err = fold_line_ends(result.err);
  return result;
}
