#!/usr/bin/env bash
# The Windows stage of CI: cross-builds zarnik.exe, tubrel.exe and mova.exe with
# mingw-w64 and runs the whole test suite on them under wine.
#
# The programs target 32-bit Windows, and the 32-bit build is always made.
# Running it needs the 32-bit wine loader, a 32-bit Linux program; on a kernel
# that cannot execute 32-bit programs, or where the 32-bit wine could not be
# installed, the suite runs instead on a 64-bit build of the same sources under
# wine64, and the log says so.
#
# Expects the Linux build in build/ (scripts/test.sh) for the render comparison.
set -euo pipefail
cd "$(dirname "$0")/.."
stage_start=$(date +%s)

bash scripts/install-windows-deps.sh
# The sound server and the recorder of the live play test.
bash scripts/install-deps.sh pulseaudio pulseaudio-utils

# A fresh prefix owned by whoever runs this (wine refuses a prefix that belongs
# to another user), thrown away afterwards. No Mono or Gecko: console programs
# need neither, and skipping their installers saves minutes.
work=$(mktemp -d)
export WINEPREFIX="$work/prefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

if /usr/lib/wine/wine --version >/dev/null 2>&1; then
  test_arch=i686
  export WINEARCH=win32
  export WINELOADER=/usr/lib/wine/wine
else
  echo "The 32-bit wine loader cannot run (this kernel cannot execute 32-bit programs, or"
  echo "the 32-bit wine could not be installed):"
  echo "the 32-bit build is compiled only, and the suite runs on the 64-bit build under wine64."
  test_arch=x86_64
  export WINEARCH=win64
  export WINELOADER=/usr/lib/wine/wine64
fi

echo "== wine prefix ($WINEARCH)"
# One server for the whole run, started first (a second one refuses to start
# while the prefix's server runs): without it every test start waits for a new
# server to come up and every exit for it to linger and go. The prefix's
# service processes, started by wineboot, live as long as the server: they get
# a log file rather than this script's output, which they would hold open.
mkdir -p "$WINEPREFIX"
wineserver -p </dev/null >"$work/wine.log" 2>&1
if ! "$WINELOADER" wineboot -i </dev/null >>"$work/wine.log" 2>&1; then
  cat "$work/wine.log"
  exit 1
fi
# Sound goes through PulseAudio only. Without this wine falls back to ALSA
# when no sound server runs, and ALSA's complaints about the missing card land
# on the player's standard error stream.
"$WINELOADER" reg add 'HKCU\Software\Wine\Drivers' /v Audio /d pulse /f </dev/null >/dev/null
# In the session that created the prefix the RPC service fails to start, and
# every program that opens the sound device then waits twice for 10 s on it
# (measured). A new session on the finished prefix starts it normally.
wineserver -k
wineserver -w
wineserver -p </dev/null >>"$work/wine.log" 2>&1
if ! "$WINELOADER" wineboot </dev/null >>"$work/wine.log" 2>&1; then
  cat "$work/wine.log"
  exit 1
fi

# configure_and_build ARCH [CMAKE OPTION...]
configure_and_build() {
  local arch=$1
  shift
  cmake -S . -B "build-win-$arch" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZARNIK_WERROR=ON \
    -DCMAKE_TOOLCHAIN_FILE="cmake/mingw-$arch.cmake" -DCMAKE_CROSSCOMPILING_EMULATOR="$WINELOADER" \
    "$@" >/dev/null
  cmake --build "build-win-$arch" -j2
}

echo "== build for 32-bit Windows"
configure_and_build i686
if [ "$test_arch" = x86_64 ]; then
  echo "== build for 64-bit Windows (the suite runs on it)"
  configure_and_build x86_64
fi

echo "== test under wine ($test_arch)"
ctest --test-dir "build-win-$test_arch" --output-on-failure -j2

echo "== live play under wine through a private PulseAudio server"
# The Linux test binary runs the sound server and the recorder and checks the
# recording; it plays zarnik.exe under wine when told where both are.
# -V shows the test's measured figures.
ZARNIK_TEST_WINDOWS_EXE="$PWD/build-win-$test_arch/zarnik.exe" \
  ctest --test-dir build -R 'LivePlay\.UnderWine' -V

echo "== the demo song renders to the same bytes on Linux and Windows"
PROMPT= ./build/zarnik examples/demo/demo.bin -o "$work/demo-linux.wav" >/dev/null
PROMPT= "$WINELOADER" "build-win-$test_arch/zarnik.exe" examples/demo/demo.bin \
  -o "$work/demo-windows.wav" >/dev/null
cmp "$work/demo-linux.wav" "$work/demo-windows.wav"
echo "identical: $(stat -c %s "$work/demo-linux.wav") bytes"

echo "== the Windows zip: its programs under wine"
rm -rf "build-win-$test_arch/packages"
(cd "build-win-$test_arch" && cpack -G ZIP >/dev/null)
mkdir "$work/zip"
(cd "$work/zip" && cmake -E tar xf "$OLDPWD/build-win-$test_arch"/packages/zarnik-*.zip)
zip_dir=$(echo "$work"/zip/zarnik-*)
for text in README.txt LICENSE.txt; do
  lines=$(wc -l <"$zip_dir/$text")
  [ "$lines" -gt 0 ] && [ "$(grep -c $'\r$' "$zip_dir/$text")" = "$lines" ] ||
    { echo "$text: not every line ends in CR LF" >&2; exit 1; }
done
PROMPT= "$WINELOADER" "$zip_dir/zarnik.exe" "$zip_dir/examples/demo.bin" \
  -o "$work/demo-zip.wav" >/dev/null
cmp "$work/demo-linux.wav" "$work/demo-zip.wav"
PROMPT= "$WINELOADER" "$zip_dir/tubrel.exe" "$zip_dir/examples/demo.txt" \
  -o "$work/demo-zip.bin" >/dev/null
cmp "$zip_dir/examples/demo.bin" "$work/demo-zip.bin"
if [ -f "build-win-$test_arch/mova.exe" ]; then
  version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "build-win-$test_arch/CMakeCache.txt")
  said=$("$WINELOADER" "$zip_dir/mova.exe" --version)
  [[ "$said" == *"$version"* ]] || { echo "the zip's mova.exe says '$said', not $version" >&2; exit 1; }
  "$WINELOADER" "$zip_dir/mova.exe" render "$zip_dir/examples/demo.bin" -d "$work/flac" --format flac >/dev/null
  [ "$(head -c 4 "$work/flac/demo.flac")" = fLaC ] || { echo "the zip's mova.exe wrote no FLAC file" >&2; exit 1; }
fi
echo "$(basename "$zip_dir").zip: $(ls "$zip_dir" | tr '\n' ' ')- the programs render and convert the demo song as on Linux"

echo "== Windows stage took $(($(date +%s) - stage_start)) s"
