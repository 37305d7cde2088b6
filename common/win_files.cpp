// File questions answered with the Win32 file information calls.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

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
