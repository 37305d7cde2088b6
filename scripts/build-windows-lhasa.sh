#!/usr/bin/env bash
# Builds liblhasa (the LHA unpacker mova uses for YM files) for the Windows
# cross builds: mingw-w64 has no package of it, so its library part is
# compiled from Debian's source package into a static library with a
# pkg-config file, under build-win-deps/ARCH-w64-mingw32. Does nothing when it is there.
# Usage: scripts/build-windows-lhasa.sh ARCH    (i686 or x86_64)
set -euo pipefail
cd "$(dirname "$0")/.."
arch=$1
triple="${arch}-w64-mingw32"
prefix="$PWD/build-win-deps/$triple"
[ -f "$prefix/lib/liblhasa.a" ] && exit 0

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
src=$(bash scripts/apt-source.sh lhasa "$work")

# The library is plain C that needs no configuration: compile the sources
# that lib/Makefile.am lists for it (the rest are included by those).
sources=$(sed -n '/^SRC *=/,/^$/p' "$src/lib/Makefile.am" | grep -o '[a-z0-9_]*\.c')
mkdir -p "$prefix/lib/pkgconfig" "$prefix/include/liblhasa-1.0" "$work/obj"
for file in $sources; do
  "${triple}-gcc" -O2 -I"$src/lib" -I"$src/lib/public" -c "$src/lib/$file" \
    -o "$work/obj/${file%.c}.o"
done
"${triple}-ar" rcs "$prefix/lib/liblhasa.a" "$work"/obj/*.o
cp "$src"/lib/public/*.h "$prefix/include/liblhasa-1.0/"
version=$(sed -n 's/^AC_INIT([^,]*, *\([0-9.]*\).*/\1/p' "$src/configure.ac" | head -n 1)
cat >"$prefix/lib/pkgconfig/liblhasa.pc" <<PC
prefix=$prefix
libdir=\${prefix}/lib
includedir=\${prefix}/include

Name: liblhasa
Description: LHA archive decompression library (static, for $triple)
Version: ${version:-0}
Libs: -L\${libdir} -llhasa
Cflags: -I\${includedir}/liblhasa-1.0
PC
echo "liblhasa ${version:-?} for $triple in $prefix"
