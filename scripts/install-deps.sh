#!/usr/bin/env bash
# Installs what building and testing need, on Debian 12, when it is missing,
# and any further packages named as arguments (CI adds the sound server for
# the live play test). libasound2-dev is ALSA, the Linux sound device;
# liblhasa-dev unpacks LHA archives (nearly every YM song is one) and
# zlib1g-dev inflates gzip (VGZ songs); libflac-dev writes FLAC files;
# libncurses-dev gives terminfo (tinfo) for mova's terminal display and keys;
# libkissfft-dev is the FFT the studio engine's spectrum tests measure with;
# scdoc builds the man pages.
# Runs apt-get directly as root and through sudo otherwise.
set -euo pipefail
source "$(dirname "$0")/apt-update.sh"

need=()
have_cmd() { command -v "$1" >/dev/null 2>&1; }
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

have_cmd g++ || need+=(g++)
have_cmd cmake || need+=(cmake)
have_cmd ninja || need+=(ninja-build)
have_cmd pkg-config || need+=(pkg-config)
for pkg in libgtest-dev libbenchmark-dev libasound2-dev liblhasa-dev zlib1g-dev libflac-dev libncurses-dev libkissfft-dev scdoc "$@"; do
  have_pkg "$pkg" || need+=("$pkg")
done

if [ ${#need[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${need[*]}"
as_root=()
if [ "$(id -u)" -ne 0 ]; then
  as_root=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
apt_update "${as_root[@]}"
"${as_root[@]}" apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
