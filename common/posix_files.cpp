// File questions answered with POSIX stat calls, and the calls that create,
// store and rename an output file atomically.
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>

#include "common/files.h"

bool stream_is_directory(FILE* stream) {
  struct stat status {};
  return fstat(fileno(stream), &status) == 0 && S_ISDIR(status.st_mode);
}

bool stream_is_disk_file(FILE* stream) {
  struct stat status {};
  return fstat(fileno(stream), &status) == 0 && S_ISREG(status.st_mode);
}

bool same_file(const char* first_path, const char* second_path) {
  struct stat first {};
  struct stat second {};
  if (stat(first_path, &first) != 0 || stat(second_path, &second) != 0) {
    return false;
  }
  return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

namespace {

FileIdentity identity_of(const struct stat& status) {
  FileIdentity identity;
  identity.known = true;
  identity.terminal = S_ISCHR(status.st_mode);
  identity.device = static_cast<uint64_t>(status.st_dev);
  identity.inode = static_cast<uint64_t>(status.st_ino);
  return identity;
}

}  // namespace

FileIdentity identify_stream(FILE* stream) {
  struct stat status {};
  if (fstat(fileno(stream), &status) != 0) return {};
  return identity_of(status);
}

FileIdentity identify_path(const char* path) {
  struct stat status {};
  if (stat(path, &status) != 0) return {};
  return identity_of(status);
}

bool is_regular_file(const char* path) {
  struct stat status {};
  return lstat(path, &status) == 0 && S_ISREG(status.st_mode);
}

bool delete_file(const char* path) {
  return unlink(path) == 0;
}

void set_binary_mode(FILE*) {}

OutputTarget examine_output(const char* path, std::string* target) {
  // An empty name names no file: the open in place refuses it.
  if (path[0] == '\0') return OutputTarget::Other;
  struct stat link {};
  if (lstat(path, &link) != 0) {
    // Nothing at all: a new file. (A dangling link or an unreachable folder
    // is Other: the open in place then creates or refuses it as before.)
    if (errno != ENOENT) return OutputTarget::Other;
    *target = path;
    return OutputTarget::Missing;
  }
  struct stat status {};
  if (stat(path, &status) != 0 || !S_ISREG(status.st_mode)) return OutputTarget::Other;
  // A file the user protected against writing stays protected: replacing it
  // would succeed where writing it would not.
  if (access(path, W_OK) != 0) return OutputTarget::Other;
  if (S_ISLNK(link.st_mode)) {
    char resolved[PATH_MAX];
    if (realpath(path, resolved) == nullptr) return OutputTarget::Other;
    *target = resolved;
  } else {
    *target = path;
  }
  return OutputTarget::Regular;
}

FILE* create_exclusive_file(const char* path, const char* permissions_from) {
  struct stat model {};
  if (permissions_from != nullptr && stat(permissions_from, &model) != 0) return nullptr;
  const int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return nullptr;
  bool ok = true;
  if (permissions_from != nullptr) {
    // The owner first: changing it may clear the set-id bits that the mode
    // then restores. Only root may give a file away; anyone else keeps it.
    if ((model.st_uid != geteuid() || model.st_gid != getegid()) &&
        fchown(fd, model.st_uid, model.st_gid) != 0) {
      // Not fatal: the file is ours, as it would be if we had created it.
    }
    ok = fchmod(fd, model.st_mode & 07777) == 0;
  }
  FILE* stream = ok ? fdopen(fd, "wb") : nullptr;
  if (stream == nullptr) {
    const int error = errno;
    close(fd);
    unlink(path);
    errno = error;
  }
  return stream;
}

bool sync_to_storage(FILE* stream) {
  return fsync(fileno(stream)) == 0;
}

void start_storing(FILE* stream) {
#if defined(__linux__)
  sync_file_range(fileno(stream), 0, 0, SYNC_FILE_RANGE_WRITE);
#else
  (void)stream;
#endif
}

bool write_pieces(FILE* stream, const OutputPiece* pieces, size_t count) {
  if (std::fflush(stream) != 0) return false;
  const int fd = fileno(stream);
  // Every POSIX system gathers at least 16 pieces in one call.
  constexpr int kGathered = 16;
  iovec vectors[kGathered];
  while (count > 0) {
    int used = 0;
    for (; used < kGathered && static_cast<size_t>(used) < count; ++used) {
      vectors[used].iov_base = const_cast<void*>(pieces[used].data);
      vectors[used].iov_len = pieces[used].size;
    }
    // What the system took in part is taken again from where it stopped.
    iovec* next = vectors;
    int left = used;
    while (left > 0) {
      const ssize_t written = writev(fd, next, left);
      if (written < 0 && errno == EINTR) continue;
      if (written <= 0) return false;
      size_t taken = static_cast<size_t>(written);
      for (; left > 0 && taken >= next->iov_len; ++next, --left) taken -= next->iov_len;
      if (left > 0) {
        next->iov_base = static_cast<char*>(next->iov_base) + taken;
        next->iov_len -= taken;
      }
    }
    pieces += used;
    count -= static_cast<size_t>(used);
  }
  return true;
}

bool replace_file(const char* from, const char* to) {
  if (rename(from, to) != 0) return false;
  // The rename itself lives in the folder: store the folder too, so that the
  // new name survives a crash. Where a folder cannot be synced, the rename
  // stands all the same.
  std::string folder = to;
  const size_t slash = folder.find_last_of('/');
  folder = slash == std::string::npos ? "." : slash == 0 ? "/" : folder.substr(0, slash);
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    fsync(fd);
    close(fd);
  }
  return true;
}

unsigned long current_process_id() {
  return static_cast<unsigned long>(getpid());
}
