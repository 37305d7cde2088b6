#!/usr/bin/env bash
# Measures what live play costs: plays a log (the demo song by default)
# through a private PulseAudio daemon with a null sink, as the live end-to-end
# test does, under /usr/bin/time, and prints the wall time, the user and
# system CPU time and their share of one core.
# Usage: scripts/bench-live.sh [LOG] [PLAYER]
set -euo pipefail
cd "$(dirname "$0")/.."
log=${1:-examples/demo/demo.bin}
player=${2:-build/zarnik}
dir=$(mktemp -d)
daemon=
cleanup() {
  if [ -n "$daemon" ]; then kill "$daemon" 2>/dev/null || true; wait "$daemon" 2>/dev/null || true; fi
  rm -rf "$dir"
}
trap cleanup EXIT
source "$(dirname "$0")/sound-server.sh"
start_sound_server "$dir"
# zarnik must not wait for a key at its end.
export PROMPT=
/usr/bin/time -f '%e %U %S' -o "$dir/time" "$player" "$log" >/dev/null
read -r wall user sys <"$dir/time"
awk -v w="$wall" -v u="$user" -v s="$sys" 'BEGIN {
  printf "wall %.2f s, user %.2f s, system %.2f s: %.1f %% of one core\n", w, u, s, 100 * (u + s) / w }'
