#include "common/atomic_output.h"

#include <cerrno>

#include "common/files.h"
#include "common/interrupts.h"

namespace {

// The folder part of path, its last separator included; empty for a bare
// name.
std::string folder_of(const std::string& path) {
  const size_t separator = path.find_last_of("/\\");
  return separator == std::string::npos ? std::string() : path.substr(0, separator + 1);
}

}  // namespace

AtomicOutput::~AtomicOutput() {
  discard();
}

FILE* AtomicOutput::begin(const char* path) {
  discard();
  in_place_.clear();
  error_ = 0;
  no_temporary_ = false;
  const OutputTarget kind = examine_output(path, &target_);
  if (kind != OutputTarget::Other) {
    stream_ = create_temporary(kind == OutputTarget::Regular ? target_.c_str() : nullptr);
    if (stream_ != nullptr) {
      mode_ = Mode::Temporary;
      return stream_;
    }
    // Written in place, the file would be truncated now and left half
    // written by any later failure: refuse it instead.
    no_temporary_ = true;
    return nullptr;
  }
  stream_ = files_.open(path);
  if (stream_ == nullptr) {
    note_error();
    return nullptr;
  }
  mode_ = Mode::InPlace;
  in_place_ = path;
  return stream_;
}

FILE* AtomicOutput::create_temporary(const char* permissions_from) {
  // "<target>.<process>-<n>.tmp": the process number keeps two programs
  // writing the same name apart; n steps past a leftover of a killed run.
  const std::string pid = std::to_string(current_process_id());
  FILE* stream = create_temporary_named(target_ + "." + pid + "-", permissions_from);
  // Beside a name near the folder's limit only a short name fits.
  if (stream == nullptr && error_ == ENAMETOOLONG) {
    error_ = 0;
    stream =
        create_temporary_named(folder_of(target_) + "." + pid + "-", permissions_from);
  }
  return stream;
}

FILE* AtomicOutput::create_temporary_named(const std::string& stem,
                                           const char* permissions_from) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    temporary_ = stem + std::to_string(attempt) + ".tmp";
    // Guarded before it exists: an interruption between the creation and
    // the registration would leave it behind.
    guard_slot_ = guard_file(temporary_.c_str());
    errno = 0;
    FILE* stream = files_.create_new(temporary_.c_str(), permissions_from);
    if (stream != nullptr) return stream;
    const bool exists = errno == EEXIST;
    if (!exists) note_error();
    forget_temporary();
    if (!exists) return nullptr;
  }
  error_ = EEXIST;
  return nullptr;
}

void AtomicOutput::forget_temporary() {
  release_guarded_file(guard_slot_);
  guard_slot_ = -1;
  temporary_.clear();
}

void AtomicOutput::note_error() {
  if (error_ == 0) error_ = errno;
}

bool AtomicOutput::commit() {
  error_ = 0;
  if (mode_ == Mode::Closed) return false;
  FILE* stream = stream_;
  const Mode mode = mode_;
  stream_ = nullptr;
  mode_ = Mode::Closed;
  if (mode == Mode::InPlace) {
    const bool closed = files_.close(stream);
    if (closed) in_place_.clear();
    if (!closed) note_error();
    return closed;
  }
  errno = 0;
  bool ok = files_.sync(stream);
  if (!ok) note_error();
  if (!files_.close(stream)) {
    note_error();
    ok = false;
  }
  if (ok && !files_.replace(temporary_.c_str(), target_.c_str())) {
    note_error();
    ok = false;
  }
  if (!ok) delete_file(temporary_.c_str());
  forget_temporary();
  if (ok) in_place_.clear();
  return ok;
}

void AtomicOutput::discard() {
  if (mode_ == Mode::Closed) return;
  files_.close(stream_);
  if (mode_ == Mode::Temporary) {
    delete_file(temporary_.c_str());
    forget_temporary();
  }
  stream_ = nullptr;
  mode_ = Mode::Closed;
}

void AtomicOutput::abandon() {
  discard();
  // Only ever what may be ours and incomplete: a regular file.
  if (!in_place_.empty() && is_regular_file(in_place_.c_str())) {
    delete_file(in_place_.c_str());
  }
  in_place_.clear();
}
