# Cross build for 64-bit Windows with mingw-w64:
#   cmake -S . -B build-win64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake
# Used to run the test suite under wine64 on hosts that cannot execute 32-bit
# Linux programs, and therefore cannot run the 32-bit wine loader.
set(MINGW_TRIPLE x86_64-w64-mingw32)
set(MINGW_PROCESSOR AMD64)
# Debian installs the 64-bit loader outside PATH; /usr/bin/wine would pick the
# 32-bit one whenever wine32 is installed too.
set(MINGW_WINE_NAMES wine64 /usr/lib/wine/wine64 wine)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
