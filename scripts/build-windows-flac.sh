#!/usr/bin/env bash
# Builds libFLAC (mova's FLAC output) for the Windows cross builds: mingw-w64
# has no package of it, so its library part is compiled from Debian's source
# package with its own CMake and the project's mingw toolchain, as a static
# library without Ogg, and installed with its flac.pc pkg-config file under
# build-win-deps/ARCH-w64-mingw32. Does nothing when it is there.
# Usage: scripts/build-windows-flac.sh ARCH    (i686 or x86_64)
set -euo pipefail
cd "$(dirname "$0")/.."
arch=$1
triple="${arch}-w64-mingw32"
prefix="$PWD/build-win-deps/$triple"
[ -f "$prefix/lib/libFLAC.a" ] && [ -f "$prefix/lib/pkgconfig/flac.pc" ] && exit 0

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
src=$(bash scripts/apt-source.sh flac "$work")

# The stack protector and _FORTIFY_SOURCE would need mingw's libssp, which
# flac.pc does not name. Upstream realigns the stack of 32-bit x86 code (its
# SSE routines keep aligned data there) when the processor is called i686;
# the toolchain calls it x86, so the flag is given here.
cflags=
[ "$arch" = i686 ] && cflags=-mstackrealign
cmake -S "$src" -B "$work/build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-$arch.cmake" -DCMAKE_C_FLAGS="$cflags" \
  -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_INSTALL_LIBDIR=lib \
  -DBUILD_SHARED_LIBS=OFF -DWITH_OGG=OFF -DBUILD_CXXLIBS=OFF -DBUILD_PROGRAMS=OFF \
  -DBUILD_EXAMPLES=OFF -DBUILD_TESTING=OFF -DBUILD_DOCS=OFF -DINSTALL_MANPAGES=OFF \
  -DINSTALL_CMAKE_CONFIG_MODULE=OFF -DWITH_STACK_PROTECTOR=OFF -DWITH_FORTIFY_SOURCE=OFF \
  >"$work/configure.log" || { cat "$work/configure.log" >&2; exit 1; }
# Only the library: its install rule is the only one these options leave.
cmake --build "$work/build" --target FLAC -j2 >"$work/build.log" ||
  { cat "$work/build.log" >&2; exit 1; }
cmake --install "$work/build" >/dev/null
# The C++ binding's headers are installed even when it is not built.
rm -rf "$prefix/include/FLAC++"
# FLAC's headers declare its functions as DLL imports unless told that the
# library is a static one: say so to everything that compiles against it.
sed -i 's/^Cflags: .*/& -DFLAC__NO_DLL/' "$prefix/lib/pkgconfig/flac.pc"
version=$(sed -n 's/^Version: *//p' "$prefix/lib/pkgconfig/flac.pc")
echo "libFLAC ${version:-?} for $triple in $prefix"
