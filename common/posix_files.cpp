// File questions answered with POSIX stat calls.
#include <sys/stat.h>
#include <unistd.h>

#include "common/files.h"

bool stream_is_directory(FILE* stream) {
  struct stat status {};
  return fstat(fileno(stream), &status) == 0 && S_ISDIR(status.st_mode);
}

bool same_file(const char* first_path, const char* second_path) {
  struct stat first {};
  struct stat second {};
  if (stat(first_path, &first) != 0 || stat(second_path, &second) != 0) {
    return false;
  }
  return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

bool is_regular_file(const char* path) {
  struct stat status {};
  return lstat(path, &status) == 0 && S_ISREG(status.st_mode);
}

bool delete_file(const char* path) {
  return unlink(path) == 0;
}

void set_binary_mode(FILE*) {}
