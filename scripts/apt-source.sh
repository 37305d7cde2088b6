#!/usr/bin/env bash
# Unpacks Debian's source package PACKAGE into DIR and prints the path of its
# source tree, for the scripts that build a library Debian packages no mingw
# version of (scripts/build-windows-*.sh). When apt knows no source packages
# yet, it adds one deb-src entry for the release the system runs first.
# Usage: scripts/apt-source.sh PACKAGE DIR
set -euo pipefail
source "$(dirname "$0")/apt-update.sh"
package=$1
dir=$2
cd "$(dirname "$0")/.."

as_root=()
if [ "$(id -u)" -ne 0 ]; then
  as_root=(sudo)
fi
list=/etc/apt/sources.list.d/zarnik-deb-src.sources
if ! apt-get source --print-uris "$package" >/dev/null 2>&1; then
  codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
  mirror=$(bash scripts/apt-mirror.sh)
  [ -n "$mirror" ] || { echo "no Debian archive in apt's sources to fetch $package's source from" >&2; exit 1; }
  printf 'Types: deb-src\nURIs: %s\nSuites: %s\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
    "$mirror" "$codename" | "${as_root[@]}" tee "$list" >/dev/null
  apt_update "${as_root[@]}"
fi

(cd "$dir" && apt-get source -qq "$package" >/dev/null 2>&1)
src=$(find "$dir" -maxdepth 1 -mindepth 1 -type d -name "$package-*" | head -n 1)
[ -n "$src" ] || { echo "apt-get source $package gave no source tree" >&2; exit 1; }
echo "$src"
