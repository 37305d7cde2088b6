#include "audio/alsa_library.h"

#include <dlfcn.h>

namespace {

// Loads the library and every function; false when anything is missing.
bool load(AlsaLibrary* library) {
  // The name the library's runtime package installs (the unversioned one
  // comes only with the development files).
  void* handle = dlopen("libasound.so.2", RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) return false;
  bool complete = true;
#define ZARNIK_ALSA_LOOKUP(name)                                                   \
  library->name = reinterpret_cast<decltype(library->name)>(dlsym(handle, #name)); \
  complete = complete && library->name != nullptr;
  ZARNIK_ALSA_FUNCTIONS(ZARNIK_ALSA_LOOKUP)
#undef ZARNIK_ALSA_LOOKUP
  // Left loaded even when incomplete: a library is never unloaded while
  // something may still point into it.
  return complete;
}

}  // namespace

const AlsaLibrary* alsa_library() {
  static AlsaLibrary library;
  static const bool loaded = load(&library);
  return loaded ? &library : nullptr;
}
