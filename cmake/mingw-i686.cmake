# Cross build for 32-bit Windows with mingw-w64:
#   cmake -S . -B build-win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake
set(MINGW_TRIPLE i686-w64-mingw32)
set(MINGW_PROCESSOR x86)
# Debian's /usr/bin/wine starts the 32-bit loader when wine32 is installed.
set(MINGW_WINE_NAMES wine)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
