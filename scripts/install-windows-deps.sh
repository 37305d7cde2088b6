#!/usr/bin/env bash
# Installs what the 32-bit Windows cross build and its test run under wine
# need, on Debian 12, when it is missing: the mingw-w64 i686 compiler (its
# -posix flavour, whose runtime has std::thread), the GoogleTest sources and
# the 32-bit wine; zlib for mingw and, since Debian packages no mingw
# liblhasa or libFLAC, those libraries built from Debian's source packages
# (dpkg-dev unpacks them) by scripts/build-windows-lhasa.sh and
# scripts/build-windows-flac.sh. Runs apt-get directly as root and through
# sudo otherwise.
set -euo pipefail
source "$(dirname "$0")/apt-update.sh"

have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

as_root=()
if [ "$(id -u)" -ne 0 ]; then
  as_root=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive

need=()
for pkg in g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix googletest cmake ninja-build \
  libz-mingw-w64-dev dpkg-dev pkg-config wine wine64; do
  have_pkg "$pkg" || need+=("$pkg")
done
# The 32-bit wine is installed on its own: its i386 lists are the ones a
# mirror in the middle of a sync leaves out of step with the amd64 ones.
# Without it the Windows stage runs the suite on the 64-bit build
# (scripts/ci-windows.sh says so).
wine32=()
have_pkg wine32:i386 || wine32=(wine32:i386)
if [ ${#need[@]} -ne 0 ] || [ ${#wine32[@]} -ne 0 ]; then
  echo "Installing: ${need[*]} ${wine32[*]}"
  # wine32 is an i386 package: the architecture must be known before the
  # package lists are read.
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    "${as_root[@]}" dpkg --add-architecture i386
  fi
  apt_update "${as_root[@]}"
  if [ ${#need[@]} -ne 0 ]; then
    "${as_root[@]}" apt-get -o DPkg::Lock::Timeout=600 install -y -qq --no-install-recommends \
      "${need[@]}" >/dev/null
  fi
  if [ ${#wine32[@]} -ne 0 ] && ! "${as_root[@]}" apt-get -o DPkg::Lock::Timeout=600 \
      install -y -qq --no-install-recommends "${wine32[@]}" >/dev/null; then
    echo "The 32-bit wine could not be installed (apt's reason above)."
  fi
fi

for arch in i686 x86_64; do
  bash "$(dirname "$0")/build-windows-lhasa.sh" "$arch"
  bash "$(dirname "$0")/build-windows-flac.sh" "$arch"
done
