#!/usr/bin/env bash
# Builds the packages into out/packages/:
#   zarnik_VERSION_ARCH.deb, the Debian package (CPack), checked with lintian;
#   zarnik-VERSION-win32.zip, the Windows programs, where the mingw-w64 cross
#   compiler is installed (scripts/install-windows-deps.sh installs it).
# Each is built in its own folder (build-deb/, build-zip/), without tests.
set -euo pipefail
cd "$(dirname "$0")/.."
# scdoc builds the man pages, dpkg-dev's dpkg-shlibdeps finds the libraries
# the programs need, lintian checks the package.
bash scripts/install-deps.sh scdoc dpkg-dev lintian
mkdir -p out/packages

echo "== Debian package"
# Debian's hardening flags (stack protector, fortified calls, read-only
# relocations bound at start); the Release build's own optimisation follows
# them and wins.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cmake -S . -B build-deb -G Ninja -DCMAKE_BUILD_TYPE=Release -DZARNIK_WERROR=ON \
  -DBUILD_TESTING=OFF -DZARNIK_BENCHMARKS=OFF -DCMAKE_INSTALL_PREFIX=/usr \
  -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)" \
  -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" >/dev/null
cmake --build build-deb -j2
rm -f build-deb/packages/*.deb
(cd build-deb && cpack -G DEB >/dev/null)
deb=$(ls build-deb/packages/*.deb)
cp "$deb" out/packages/
deb="out/packages/$(basename "$deb")"
echo "== lintian $deb"
# Only errors fail the build; warnings and notes are shown.
if ! report=$(lintian --fail-on error --info "$deb" 2>&1); then
  echo "$report"
  echo "lintian found errors in $deb" >&2
  exit 1
fi
report=$(echo "$report" | grep -v 'running with root privileges' || true)
echo "${report:-lintian: no findings}"
echo "$deb"

if command -v i686-w64-mingw32-g++-posix >/dev/null 2>&1; then
  echo "== Windows zip"
  # zlib and liblhasa for the cross compiler, as the Windows build needs them.
  bash scripts/install-windows-deps.sh
  cmake -S . -B build-zip -G Ninja --no-warn-unused-cli -DCMAKE_BUILD_TYPE=Release -DZARNIK_WERROR=ON \
    -DBUILD_TESTING=OFF -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake >/dev/null
  cmake --build build-zip -j2
  rm -f build-zip/packages/*.zip
  (cd build-zip && cpack -G ZIP >/dev/null)
  cp build-zip/packages/*.zip out/packages/
  ls out/packages/*.zip
else
  echo "== no mingw-w64 cross compiler: no Windows zip (bash scripts/install-windows-deps.sh)"
fi
