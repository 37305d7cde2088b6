// File questions answered with the Win32 file information calls, and the
// calls that create, store and replace an output file atomically.
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <windows.h>

#include <cerrno>
#include <cstdio>

#include "common/files.h"

namespace {

// Paths like \\.\pipe\name or \\.\COM1 name devices, never a file on disk.
// They are not opened to be asked about: opening a pipe takes one of its
// connections, the one that the program's own open would then not get.
bool names_a_device(const char* path) {
  return (path[0] == '\\' || path[0] == '/') && (path[1] == '\\' || path[1] == '/') &&
         path[2] == '.' && (path[3] == '\\' || path[3] == '/');
}

// Opens the object that path names itself, without following a symbolic link
// or a junction, for reading its attributes only: no access right to the
// contents is needed, and sharing everything never disturbs another user of
// the file. Directories open too (backup semantics).
HANDLE open_for_information(const char* path) {
  return CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                     nullptr, OPEN_EXISTING,
                     FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

}  // namespace

bool stream_is_directory(FILE* stream) {
  const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
  if (handle == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info{};
  return GetFileInformationByHandle(handle, &info) != 0 &&
         (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool stream_is_disk_file(FILE* stream) {
  const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
  return handle != INVALID_HANDLE_VALUE && GetFileType(handle) == FILE_TYPE_DISK &&
         !stream_is_directory(stream);
}

bool same_file(const char* first_path, const char* second_path) {
  // Following links here is right: writing through a link to the log would
  // destroy the log all the same. The volume serial number and the file index
  // together name one file, whatever names, cases or links lead to it.
  BY_HANDLE_FILE_INFORMATION info[2]{};
  const char* paths[2] = {first_path, second_path};
  for (int i = 0; i < 2; ++i) {
    if (names_a_device(paths[i])) return false;
    const HANDLE handle =
        CreateFileA(paths[i], 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    const bool known = GetFileInformationByHandle(handle, &info[i]) != 0;
    CloseHandle(handle);
    if (!known) return false;
  }
  return info[0].dwVolumeSerialNumber == info[1].dwVolumeSerialNumber &&
         info[0].nFileIndexHigh == info[1].nFileIndexHigh &&
         info[0].nFileIndexLow == info[1].nFileIndexLow;
}

namespace {

FileIdentity identity_of(HANDLE handle) {
  FileIdentity identity;
  const DWORD type = GetFileType(handle);
  if (type == FILE_TYPE_CHAR) {
    identity.terminal = true;
    return identity;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (type != FILE_TYPE_DISK || GetFileInformationByHandle(handle, &info) == 0) {
    return identity;
  }
  identity.known = true;
  identity.device = info.dwVolumeSerialNumber;
  identity.inode = (uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
  return identity;
}

}  // namespace

FileIdentity identify_stream(FILE* stream) {
  const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
  if (handle == INVALID_HANDLE_VALUE) return {};
  return identity_of(handle);
}

FileIdentity identify_path(const char* path) {
  if (names_a_device(path)) return {};
  const HANDLE handle =
      CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return {};
  const FileIdentity identity = identity_of(handle);
  CloseHandle(handle);
  return identity;
}

bool is_regular_file(const char* path) {
  if (names_a_device(path)) return false;
  const HANDLE handle = open_for_information(path);
  if (handle == INVALID_HANDLE_VALUE) return false;
  // A device (NUL, CON, COM1, a pipe) opens like a file: only a disk file is
  // one we may have created.
  bool regular = GetFileType(handle) == FILE_TYPE_DISK;
  if (regular) {
    BY_HANDLE_FILE_INFORMATION info{};
    regular = GetFileInformationByHandle(handle, &info) != 0 &&
              (info.dwFileAttributes &
               (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT |
                FILE_ATTRIBUTE_DEVICE)) == 0;
  }
  CloseHandle(handle);
  return regular;
}

bool delete_file(const char* path) {
  return _unlink(path) == 0;
}

void set_binary_mode(FILE* stream) {
  _setmode(_fileno(stream), _O_BINARY);
}

OutputTarget examine_output(const char* path, std::string* target) {
  if (path[0] == '\0' || names_a_device(path)) return OutputTarget::Other;
  const DWORD attributes = GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_NOT_FOUND) return OutputTarget::Other;
    *target = path;
    return OutputTarget::Missing;
  }
  // Links and junctions are written through in place, as before; a read-only
  // file stays protected; NUL, CON and the like are no disk files.
  if (!is_regular_file(path) || (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    return OutputTarget::Other;
  }
  *target = path;
  return OutputTarget::Regular;
}

FILE* create_exclusive_file(const char* path, const char* permissions_from) {
  // Shared for deletion, so that the console control handler, which runs on
  // a thread of its own while the stream is open, can remove the file.
  const HANDLE handle =
      CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                  CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    errno = error == ERROR_FILE_EXISTS            ? EEXIST
            : error == ERROR_FILENAME_EXCED_RANGE ? ENAMETOOLONG
            : error == ERROR_PATH_NOT_FOUND       ? ENOENT
                                                  : EACCES;
    return nullptr;
  }
  // The replaced file's security and attributes are carried over by
  // ReplaceFile when the new file takes its name.
  (void)permissions_from;
  const int fd =
      _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
  FILE* stream = fd < 0 ? nullptr : _fdopen(fd, "wb");
  if (stream == nullptr) {
    if (fd < 0) {
      CloseHandle(handle);
    } else {
      _close(fd);
    }
    DeleteFileA(path);
  }
  return stream;
}

bool sync_to_storage(FILE* stream) {
  return _commit(_fileno(stream)) == 0;
}

void start_storing(FILE* /*stream*/) {
  // No hint here that does not wait: the final sync does all of it.
}

bool write_pieces(FILE* stream, const OutputPiece* pieces, size_t count) {
  // No gathered write for a C stream here: through its buffer.
  for (size_t i = 0; i < count; ++i) {
    if (std::fwrite(pieces[i].data, 1, pieces[i].size, stream) != pieces[i].size)
      return false;
  }
  return std::fflush(stream) == 0;
}

bool replace_file(const char* from, const char* to) {
  // ReplaceFile keeps the replaced file's attributes and security; a name
  // that holds no file yet is simply moved to.
  if (GetFileAttributesA(to) != INVALID_FILE_ATTRIBUTES &&
      ReplaceFileA(to, from, nullptr, 0, nullptr, nullptr) != 0) {
    return true;
  }
  return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

unsigned long current_process_id() {
  return static_cast<unsigned long>(_getpid());
}
