#include "common/atomic_output.h"

#include <cerrno>

#include "common/files.h"
#include "common/interrupts.h"

AtomicOutput::~AtomicOutput() {
  discard();
}

FILE* AtomicOutput::begin(const char* path) {
  discard();
  const OutputTarget kind = examine_output(path, &target_);
  if (kind != OutputTarget::Other) {
    stream_ = create_temporary(kind == OutputTarget::Regular ? target_.c_str() : nullptr);
    if (stream_ != nullptr) {
      mode_ = Mode::Temporary;
      return stream_;
    }
  }
  stream_ = files_.open(path);
  mode_ = stream_ != nullptr ? Mode::InPlace : Mode::Closed;
  return stream_;
}

FILE* AtomicOutput::create_temporary(const char* permissions_from) {
  // "<target>.<process>-<n>.tmp": the process number keeps two programs
  // writing the same name apart; n steps past a leftover of a killed run.
  const std::string stem = target_ + "." + std::to_string(current_process_id()) + "-";
  for (int attempt = 0; attempt < 100; ++attempt) {
    temporary_ = stem + std::to_string(attempt) + ".tmp";
    // Guarded before it exists: an interruption between the creation and
    // the registration would leave it behind.
    guard_slot_ = guard_file(temporary_.c_str());
    FILE* stream = files_.create_new(temporary_.c_str(), permissions_from);
    if (stream != nullptr) return stream;
    const bool exists = errno == EEXIST;
    forget_temporary();
    if (!exists) break;
  }
  return nullptr;
}

void AtomicOutput::forget_temporary() {
  release_guarded_file(guard_slot_);
  guard_slot_ = -1;
  temporary_.clear();
}

bool AtomicOutput::commit() {
  if (mode_ == Mode::Closed) return false;
  FILE* stream = stream_;
  const Mode mode = mode_;
  stream_ = nullptr;
  mode_ = Mode::Closed;
  if (mode == Mode::InPlace) return files_.close(stream);

  bool ok = files_.sync(stream);
  ok = files_.close(stream) && ok;
  ok = ok && files_.replace(temporary_.c_str(), target_.c_str());
  if (!ok) delete_file(temporary_.c_str());
  forget_temporary();
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
