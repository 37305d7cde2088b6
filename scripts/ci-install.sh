#!/usr/bin/env bash
# CI stage: the Debian package as a user gets it. Builds it (scripts/package.sh),
# then
#   1. on a fresh Debian 12 (a throwaway debootstrap root, when the Debian
#      mirror answers): `apt-get install ./zarnik_*.deb` pulls in nothing but
#      the package and shared libraries, the programs run from PATH and
#      render the shipped demo song to the build tree's bytes, and `dpkg -r`
#      removes every file the package installed;
#   2. on this machine: the same with `dpkg -i`, plus the man pages, which
#      `man -w` finds and `man` renders without warnings.
# Expects the build tree in build/ (scripts/test.sh). Installs a package, so
# it runs as root (through sudo otherwise) and removes the package again.
set -euo pipefail
cd "$(dirname "$0")/.."

as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
bash scripts/install-deps.sh man-db debootstrap
bash scripts/package.sh

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build-deb/CMakeCache.txt)
deb="$PWD/out/packages/zarnik_${version}_$(dpkg --print-architecture).deb"
# mova is in the package once the project builds it.
expect_mova=0
grep -qs 'add_executable(mova' CMakeLists.txt ./*/CMakeLists.txt && expect_mova=1

work=$(mktemp -d)
root="$work/debian12"
cleanup() {
  if [ -n "${installed_here:-}" ]; then "${as_root[@]}" dpkg -r zarnik >/dev/null || true; fi
  "${as_root[@]}" rm -rf "$work"
}
trap cleanup EXIT

PROMPT= ./build/zarnik examples/demo/demo.bin -o "$work/build-tree.wav" >/dev/null

# check_installed DIR PREFIX...: the programs, run through PREFIX (nothing, or
# a chroot) with the package installed there, working in DIR.
check_installed() {
  local dir=$1 output
  shift
  output=$("$@" sh -c "cd $dir && PROMPT= zarnik /usr/share/doc/zarnik/examples/demo.bin -o x.wav")
  [ "${output%%$'\n'*}" = "Zarnik $version - PSG register log player" ] ||
    { echo "zarnik's banner: ${output%%$'\n'*}" >&2; return 1; }
  "$@" cat "$dir/x.wav" | cmp - "$work/build-tree.wav"
  echo "zarnik from PATH renders the shipped demo song to the build tree's bytes"
  if [ "$expect_mova" = 1 ]; then
    output=$("$@" mova --version)
    case "$output" in
      *"$version"*) echo "mova --version: $output" ;;
      *) echo "mova --version says '$output', not $version" >&2; return 1 ;;
    esac
  fi
}

# check_removed FILE_LIST ROOT: no file the package listed is left under ROOT,
# nor its documentation folder.
check_removed() {
  local left=0 path
  while read -r path; do
    if [ -f "$2$path" ] || [ -L "$2$path" ]; then
      echo "left after dpkg -r: $path" >&2
      left=1
    fi
  done <"$1"
  [ -d "$2/usr/share/doc/zarnik" ] && { echo "left: /usr/share/doc/zarnik" >&2; left=1; }
  [ "$left" = 0 ] && echo "dpkg -r removed all $(wc -l <"$1") paths of the package"
  return "$left"
}

echo "== fresh Debian 12: apt-get install ./$(basename "$deb")"
mirror="${DEBIAN_MIRROR:-$(bash scripts/apt-mirror.sh)}"
if [ -n "$mirror" ] && "${as_root[@]}" debootstrap --variant=minbase bookworm "$root" "$mirror" >"$work/debootstrap.log" 2>&1; then
  in_root=("${as_root[@]}" chroot "$root")
  "${as_root[@]}" cp "$deb" "$root/tmp/"
  "${in_root[@]}" dpkg-query -W -f='${Package}\n' | sort >"$work/before"
  "${in_root[@]}" apt-get update -qq
  # A user's command, recommended packages included. apt's complaints about
  # the chroot's missing /dev/pts go to the log.
  if ! "${in_root[@]}" env DEBIAN_FRONTEND=noninteractive \
      apt-get install -y -qq "/tmp/$(basename "$deb")" >"$work/apt.log" 2>&1; then
    cat "$work/apt.log"
    exit 1
  fi
  "${in_root[@]}" dpkg-query -W -f='${Package}\n' | sort >"$work/after"
  pulled=$(comm -13 "$work/before" "$work/after" | grep -vx zarnik || true)
  echo "pulled in besides zarnik: $(echo $pulled)"
  # Runtime libraries and their data are in the section libs; compilers,
  # headers and build tools are not.
  for pkg in $pulled; do
    section=$("${in_root[@]}" dpkg-query -W -f='${Section}' "$pkg")
    [ "$section" = libs ] || { echo "$pkg (section $section) is no runtime library" >&2; exit 1; }
  done
  check_installed /tmp "${in_root[@]}"
  "${in_root[@]}" dpkg -L zarnik >"$work/files"
  "${in_root[@]}" dpkg -r zarnik >/dev/null
  check_removed "$work/files" "$root"
else
  tail -n 5 "$work/debootstrap.log"
  echo "debootstrap could not make a Debian 12 root from $mirror: this check is skipped"
fi

echo "== this machine: dpkg -i"
if dpkg-query -W -f='${Status}' zarnik 2>/dev/null | grep -q 'ok installed'; then
  echo "zarnik is already installed here; remove it first" >&2
  exit 1
fi
# Containers often keep man pages and documentation out of every package;
# this package's own are what is checked.
"${as_root[@]}" dpkg -i --path-include='/usr/share/man/*' --path-include='/usr/share/doc/zarnik/*' \
  "$deb" >/dev/null
installed_here=1
[ "$(command -v zarnik)" = /usr/bin/zarnik ] || { echo "zarnik is not /usr/bin/zarnik" >&2; exit 1; }
mkdir -p "$work/host"
check_installed "$work/host"
for page in zarnik tubrel mova-log $([ "$expect_mova" = 1 ] && echo mova); do
  path=$(man -w "$page")
  warnings=$(man --warnings -l "$path" 2>&1 >/dev/null)
  [ -z "$warnings" ] || { echo "$path: $warnings" >&2; exit 1; }
  echo "man $page: $path, no warnings"
done
dpkg -L zarnik >"$work/files"
"${as_root[@]}" dpkg -r zarnik >/dev/null
installed_here=
check_removed "$work/files" ""
