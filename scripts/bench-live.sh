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
cat >"$dir/daemon.pa" <<PA
load-module module-native-protocol-unix auth-anonymous=1 socket=$dir/native
load-module module-null-sink sink_name=benchsink rate=44100 channels=2 format=s16le norewinds=1
set-default-sink benchsink
PA
export HOME=$dir XDG_RUNTIME_DIR=$dir PULSE_SERVER=unix:$dir/native PROMPT=
pulseaudio -n --daemonize=no --exit-idle-time=-1 --disallow-exit --use-pid-file=no \
  --realtime=yes --high-priority=yes --log-target=stderr -F "$dir/daemon.pa" 2>"$dir/daemon.log" &
daemon=$!
for _ in $(seq 100); do
  pactl info >/dev/null 2>&1 && break
  sleep 0.1
done
/usr/bin/time -f '%e %U %S' -o "$dir/time" "$player" "$log" >/dev/null
read -r wall user sys <"$dir/time"
awk -v w="$wall" -v u="$user" -v s="$sys" 'BEGIN {
  printf "wall %.2f s, user %.2f s, system %.2f s: %.1f %% of one core\n", w, u, s, 100 * (u + s) / w }'
