# Shared part of the mingw-w64 cross toolchains. The including file sets
# MINGW_TRIPLE (the compiler prefix) and MINGW_PROCESSOR.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${MINGW_PROCESSOR})

# The -posix flavour of the compiler links the winpthreads runtime, which is
# what std::thread needs; the -win32 flavour has no std::thread.
set(CMAKE_C_COMPILER ${MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${MINGW_TRIPLE}-windres)

# Libraries that Debian does not package for mingw are built into
# build-win-deps/TRIPLE (liblhasa: scripts/build-windows-lhasa.sh); pkg-config
# looks there and in the mingw tree only, never at the build machine's own.
get_filename_component(ZARNIK_WINDOWS_DEPS
  "${CMAKE_CURRENT_LIST_DIR}/../build-win-deps/${MINGW_TRIPLE}" ABSOLUTE)
set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_TRIPLE} ${ZARNIK_WINDOWS_DEPS})
set(ENV{PKG_CONFIG_LIBDIR}
  "${ZARNIK_WINDOWS_DEPS}/lib/pkgconfig:/usr/${MINGW_TRIPLE}/lib/pkgconfig")
# zlib linked in like the rest, not as zlib1.dll.
set(ZLIB_USE_STATIC_LIBS ON)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# One self-contained .exe per program: the compiler runtime, libstdc++ and
# winpthreads are linked in, so nothing but system DLLs must sit beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Tests (and GoogleTest's discovery) run the Windows executables under wine.
if(NOT DEFINED CMAKE_CROSSCOMPILING_EMULATOR)
  find_program(ZARNIK_WINE NAMES ${MINGW_WINE_NAMES})
  if(ZARNIK_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${ZARNIK_WINE})
  endif()
endif()
