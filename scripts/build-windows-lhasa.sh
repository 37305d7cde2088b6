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

as_root=()
if [ "$(id -u)" -ne 0 ]; then
  as_root=(sudo)
fi
# apt-get source needs the source package lists: one deb-src entry for the
# release the system runs.
list=/etc/apt/sources.list.d/zarnik-deb-src.sources
if ! apt-get source --print-uris lhasa >/dev/null 2>&1; then
  codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
  mirror=$(bash scripts/apt-mirror.sh)
  [ -n "$mirror" ] || { echo "no Debian archive in apt's sources to fetch lhasa's source from" >&2; exit 1; }
  printf 'Types: deb-src\nURIs: %s\nSuites: %s\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
    "$mirror" "$codename" | "${as_root[@]}" tee "$list" >/dev/null
  "${as_root[@]}" apt-get -o DPkg::Lock::Timeout=600 update -qq
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
(cd "$work" && apt-get source -qq lhasa >/dev/null 2>&1)
src=$(find "$work" -maxdepth 1 -mindepth 1 -type d -name 'lhasa-*' | head -n 1)
[ -n "$src" ] || { echo "apt-get source lhasa gave no source tree" >&2; exit 1; }

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
